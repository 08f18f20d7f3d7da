// SPDX-License-Identifier: MIT
#include "preload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace vr {

const char kPreloadLibrary[] = "libumockdev-preload.so.0";

static bool preloadActive() {
    const char *pre = getenv("LD_PRELOAD");
    return pre && strstr(pre, "libumockdev-preload") != nullptr;
}

void addPreloadToEnvironment() {
    if (!preloadActive()) {
        std::string value = kPreloadLibrary;
        const char *old = getenv("LD_PRELOAD");
        if (old && *old) value = value + ":" + old;
        setenv("LD_PRELOAD", value.c_str(), 1);
    }
    // AddressSanitizer insists on being first in the library list; the
    // preload comes before it, which is harmless here.
    std::string asan = "verify_asan_link_order=0";
    const char *oldAsan = getenv("ASAN_OPTIONS");
    if (oldAsan && *oldAsan) {
        if (strstr(oldAsan, "verify_asan_link_order")) asan = oldAsan;
        else asan = std::string(oldAsan) + ":" + asan;
    }
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
}

void ensurePreloaded(char **argv) {
    if (preloadActive()) return;
    addPreloadToEnvironment();
    execv("/proc/self/exe", argv);
    fprintf(stderr, "cannot re-execute %s under %s\n", argv[0], kPreloadLibrary);
}

}  // namespace vr
