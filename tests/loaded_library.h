/* SPDX-License-Identifier: MIT */
// The libkestrel that this test program has loaded, opened again by its
// own path, so that dlsym sees exactly its exported symbols.
#pragma once

#include <dlfcn.h>

#include "kestrel.h"

inline void *loadedLibkestrel() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&ICC_Reader_Libinfo), &info) || !info.dli_fname) return nullptr;
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}
