#!/usr/bin/env bash
# CPythons that Debian's stable release does not ship, for the test command's
# lanes, kept in the user's cache folder so that a second run skips their
# build (delete the folder to rebuild them):
#
#   free-threaded   CPython 3.13 built with --disable-gil from the upstream
#                   sources of Debian trixie's python3.13 source package;
#                   prints the interpreter's path.
#   sid-chroot      a minimal Debian unstable (sid) chroot made with
#                   debootstrap from the mirror the machine's apt sources
#                   name, holding python3.14 with its venv and headers, g++,
#                   CMake and Ninja; prints the chroot's folder.
#
#     bash tools/cpython.sh free-threaded|sid-chroot
#
# Both need root, apt and network access to the Debian mirror; progress goes
# to stderr, and a failure leaves no half-made result behind.
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/lumevaro
jobs=${JOBS:-2}

# The first Debian mirror the apt sources name (deb822 or one-line form).
debian_mirror() {
  local mirror
  mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }')
  [ -n "$mirror" ] || mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" && $2 !~ /security/ { print $2; exit }')
  echo "${mirror:-http://deb.debian.org/debian}"
}

free_threaded() {
  local prefix=$cache/python3.13t interpreter
  interpreter=$prefix/bin/python3.13t
  if [ -x "$interpreter" ] && "$interpreter" -c 'import sys; assert not sys._is_gil_enabled()' 2>/dev/null; then
    echo "$interpreter"
    return
  fi
  local work
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  # apt with a configuration of its own, whose only list is trixie's sources.
  mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts" "$work/source"
  echo "deb-src $(debian_mirror) trixie main" >"$work/apt/sources.list"
  cat >"$work/apt/apt.conf" <<EOF
Dir::Etc::SourceList "$work/apt/sources.list";
Dir::Etc::SourceParts "$work/apt/parts";
Dir::State::Lists "$work/apt/lists";
Dir::Cache "$work/apt/cache";
APT::Sandbox::User "root";
EOF
  echo "Fetching the sources of trixie's python3.13" >&2
  APT_CONFIG=$work/apt/apt.conf apt-get -qq update >&2
  (cd "$work/source" && APT_CONFIG=$work/apt/apt.conf apt-get -qq source --download-only python3.13 >&2)
  tar -xJf "$work"/source/python3.13_*.orig.tar.xz -C "$work/source"
  echo "Building CPython 3.13 without the GIL into $prefix" >&2
  rm -rf "$prefix"
  (
    cd "$work"/source/Python-3.13*/
    ./configure --quiet --disable-gil --prefix="$prefix" >&2
    make -s -j "$jobs" >/dev/null 2>&1 || make -j "$jobs" >&2
    make -s altinstall >/dev/null 2>&1
  ) || { rm -rf "$prefix"; return 1; }
  "$interpreter" -c 'import sys; assert not sys._is_gil_enabled()'
  echo "$interpreter"
}

sid_chroot() {
  local root=$cache/sid-chroot
  if [ -x "$root/usr/bin/python3.14" ] && [ -f "$root/.complete" ]; then
    echo "$root"
    return
  fi
  command -v debootstrap >/dev/null || {
    apt-get -o DPkg::Lock::Timeout=900 -qq update >&2
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq debootstrap >/dev/null
  }
  # A run stopped while the chroot's /proc was mounted leaves it mounted.
  ! mountpoint -q "$root/proc" 2>/dev/null || umount "$root/proc"
  rm -rf "$root"
  mkdir -p "$cache"
  echo "Making a Debian sid chroot in $root" >&2
  {
    debootstrap --variant=minbase sid "$root" "$(debian_mirror)" >&2 &&
      echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99valid-until" &&
      cp /etc/resolv.conf "$root/etc/resolv.conf" &&
      chroot "$root" apt-get -qq update >&2 &&
      DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get install -y -qq --no-install-recommends \
        python3.14-dev python3.14-venv g++ cmake ninja-build ca-certificates >/dev/null &&
      # pip reaches the package index with the host's certificate bundle.
      cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt" &&
      chroot "$root" apt-get -qq clean &&
      touch "$root/.complete"
  } || { rm -rf "$root"; return 1; }
  echo "$root"
}

case ${1:-} in
  free-threaded) free_threaded ;;
  sid-chroot) sid_chroot ;;
  *) echo "usage: bash tools/cpython.sh free-threaded|sid-chroot" >&2; exit 2 ;;
esac
