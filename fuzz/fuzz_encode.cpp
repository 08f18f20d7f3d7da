// SPDX-License-Identifier: MIT
// Encoders of host text into card bytes: ascToRecord, ascToTLV, ascToRR.
// Input: mode, card version, data type or parent tag or layout selector,
// value length, then the text.  Successful encodings are decoded back.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "datamodel/datamodel.h"

namespace {
const int kVersions[] = {-1, 1, 2, 3};
const unsigned char kParents[] = {0x40, 0x41, 0x43, 0x44, 0x99, 0x4A, 0x79};
const char *const kCyclic[] = {"DF02EF07", "DF02EF16", "DF04EF08", "DF04EF15", "DF01EF05"};
const int kTypes[] = {0, 1, 2, 15, 16, 17, 255};

unsigned layoutSize(const FileTableEntry *const *kids, int n, bool headers) {
    unsigned sum = 0;
    for (int i = 0; i < n; ++i) sum += (kids[i]->length & 0xFF) + (headers ? 2 : 0);
    return sum;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    if (size < 4) return 0;
    const int mode = in[0] % 3;
    const int ver = kVersions[in[1] % 4];
    const uint8_t sel = in[2];
    const unsigned len = in[3];
    std::string text(reinterpret_cast<const char *>(in + 4), size - 4);
    text = text.c_str();  // up to the first NUL, as a C caller passes it
    char addr[9];
    std::strcpy(addr, kCyclic[sel % 5]);
    const int type = sel < 128 ? kTypes[sel % 7] : sel;
    const unsigned char parent = sel < 128 ? kParents[sel % 7] : sel;

    const FileTableEntry *kids[KESTREL_MAX_CHILDREN];
    unsigned cap = len;
    if (mode == 1) cap = layoutSize(kids, findAllChildByRecord(parent, ver, kids), true);
    if (mode == 2) cap = layoutSize(kids, findChildRR(addr, kids), false);
    // Exactly the value's size: the encoders must not write past it.
    std::unique_ptr<unsigned char[]> out(new unsigned char[cap ? cap : 1]);
    int n;
    switch (mode) {
    case 0: n = ascToRecord(out.get(), text.data(), len, type); break;
    case 1: n = ascToTLV(out.get(), text.data(), 0, 2, parent, ver); break;
    default: n = ascToRR(out.get(), text.data(), 0, 0, addr);
    }
    if (n > int(cap)) __builtin_trap();
    if (mode != 0 && n >= 0 && unsigned(n) != cap) __builtin_trap();
    if (n <= 0) return 0;

    std::unique_ptr<unsigned char[]> back(new unsigned char[3 * size_t(n) + 16]);
    int m;
    if (mode == 0) m = recordToAsc(back.get(), out.get(), unsigned(n), type);
    else if (mode == 1) m = tlvToAsc(back.get(), out.get(), unsigned(n), parent, ver);
    else m = recordToAscRR(back.get(), out.get(), unsigned(n), 0, addr);
    if (m < 0) __builtin_trap();
    // A composite or cyclic value that was just encoded must decode again.
    if (mode != 0 && m == 0) __builtin_trap();
    return 0;
}
