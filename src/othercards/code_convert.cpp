// SPDX-License-Identifier: MIT
// Character-set conversion with the system's iconv.
#include <iconv.h>

#include <cstdio>
#include <cstring>

#include "othercards/othercards.h"

int code_convert(char *fromCode, char *toCode, char *in, unsigned long inLen, char *out,
                 unsigned long outLen) {
    if (out && outLen) std::memset(out, 0, outLen);
    iconv_t cd = (fromCode && toCode) ? iconv_open(toCode, fromCode) : reinterpret_cast<iconv_t>(-1);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::puts("code_convert cd open error");
        return -1;
    }
    char *src = in;
    size_t srcLeft = in ? inLen : 0;
    char *dst = out;
    size_t dstLeft = out ? outLen : 0;
    // Input without a buffer to hold it, or that does not fit, stops the
    // conversion like invalid input does.
    bool failed = (!in && inLen) || iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1);
    iconv_close(cd);
    if (failed) {
        std::puts("code_convert cd iconv error");
        return -1;
    }
    return 0;
}
