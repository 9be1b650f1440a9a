// std::__throw_bad_array_new_length, which libstdc++'s allocator calls from
// inline code since GCC 11 (when a copy asks for more elements than memory
// can index), is exported by libstdc++ only from GLIBCXX_3.4.29. A module
// that imported it would need the libstdc++ of GCC 11, newer than the one
// the manylinux_2_28 wheel tag promises. The link routes the call here
// instead (--wrap, see CMakeLists.txt), where it throws the same exception,
// whose type every libstdc++ since GCC 4.9 exports. No call can reach it in
// practice: no array of the module comes near that size.
#if defined(LUMEVARO_WRAP_BAD_ARRAY_NEW_LENGTH)

#include <new>

extern "C" [[noreturn]] void __wrap__ZSt28__throw_bad_array_new_lengthv() {
    throw std::bad_array_new_length();
}

#endif
