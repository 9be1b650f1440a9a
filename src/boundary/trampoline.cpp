// Translation of C++ failures caught by the call frame into Python exceptions.
#include "boundary/trampoline.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <string_view>

#include "models/internal_failure.hpp"

namespace lumevaro::boundary {
namespace {

constexpr const char* GENERIC_FAILURE = "unknown internal failure in native code";

void report_internal_failure(const char* function_name, std::string_view message) {
    std::fprintf(stderr, "lumevaro: internal failure in %s: %.*s\n", function_name,
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

void raise_panic(const char* function_name, std::string_view message, bool report) {
    if (report) report_internal_failure(function_name, message);
    PyErr::panic(std::string(message)).restore();
}

}  // namespace

void raise_caught_failure(const char* function_name) noexcept {
    try {
        try {
            throw;
        } catch (const ResumedPanic& resumed) {
            // Already reported, with its Python traceback, when it was fetched.
            raise_panic(function_name, resumed.message(), false);
        } catch (const InternalFailure& failure) {
            raise_panic(function_name, failure.message(), true);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& failure) {
            raise_panic(function_name, failure.what(), true);
        } catch (...) {
            raise_panic(function_name, GENERIC_FAILURE, true);
        }
    } catch (...) {
        abort_at_boundary("a failure could not be raised as a Python exception");
    }
}

}  // namespace lumevaro::boundary
