#include "core/station/lastresort.h"

#include <cstdio>

void LastResortLine(const std::string& where, std::exception_ptr failure) {
    std::string why = "a failure without a message";
    try {
        if (failure) std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        // Not a std::exception: there is no text to give.
    }
    // One call, so that lines of two threads never mix.
    std::fprintf(stderr, "kalosqm: %s: %s\n", where.c_str(), why.c_str());
}
