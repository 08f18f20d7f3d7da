/* SPDX-License-Identifier: MIT */
// Files built into kestreld (the demonstration page).
#pragma once

#include <cstddef>

namespace kestreld {

struct EmbeddedFile {
    const char *name;             // file name, such as "demo.js"; null ends the table
    const unsigned char *bytes;
    std::size_t size;
};

extern const EmbeddedFile kEmbeddedFiles[];

}  // namespace kestreld
