// The calls of exp, exp2, log and pow bound to the symbol versions every
// glibc has, instead of the GLIBC_2.29 versions a newer glibc links by
// default: a module built on any glibc then loads on glibc 2.28 and later,
// which is what the manylinux_2_28 wheel tag promises. The two versions run
// the same routine (glibc 2.28 brought the present exp, log and pow; 2.29
// only dropped the old error-handling wrapper from the default symbol), so
// no result changes. The link routes each call here (--wrap, see
// CMakeLists.txt); anything else leaves this file empty.
#if defined(LUMEVARO_OLD_LIBM_SYMBOLS)

#if defined(__x86_64__)
#define LUMEVARO_LIBM_BASE_VERSION "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define LUMEVARO_LIBM_BASE_VERSION "GLIBC_2.17"
#else
#error "no glibc base symbol version known for this processor"
#endif

extern "C" {

double lumevaro_libm_exp(double);
double lumevaro_libm_exp2(double);
double lumevaro_libm_log(double);
double lumevaro_libm_pow(double, double);
__asm__(".symver lumevaro_libm_exp, exp@" LUMEVARO_LIBM_BASE_VERSION);
__asm__(".symver lumevaro_libm_exp2, exp2@" LUMEVARO_LIBM_BASE_VERSION);
__asm__(".symver lumevaro_libm_log, log@" LUMEVARO_LIBM_BASE_VERSION);
__asm__(".symver lumevaro_libm_pow, pow@" LUMEVARO_LIBM_BASE_VERSION);

double __wrap_exp(double x) { return lumevaro_libm_exp(x); }
double __wrap_exp2(double x) { return lumevaro_libm_exp2(x); }
double __wrap_log(double x) { return lumevaro_libm_log(x); }
double __wrap_pow(double x, double y) { return lumevaro_libm_pow(x, y); }

}  // extern "C"

#endif
