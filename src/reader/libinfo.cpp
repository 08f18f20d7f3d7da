// SPDX-License-Identifier: MIT
#include <cstring>

#include "kestrel.h"

// The reader library's identification: 18 characters, no terminating NUL.
extern "C" long ICC_Reader_Libinfo(char *info) {
    static const char kInfo[] = "VRT VRT-5-LN-Q 10 ";
    static_assert(sizeof kInfo - 1 == KESTREL_LIBINFO_SIZE, "library information is 18 characters");
    memcpy(info, kInfo, sizeof kInfo - 1);
    return 0;
}
