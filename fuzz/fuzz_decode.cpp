// SPDX-License-Identifier: MIT
// Decoders of card records into text: recordToAsc, tlvToAsc,
// recordToAscTLV, recordToAscRR.  Input: mode, card version, data type or
// parent tag or layout selector, then the record bytes.
#include <cstdint>
#include <cstring>
#include <memory>

#include "datamodel/datamodel.h"

namespace {
const int kVersions[] = {-1, 1, 2, 3};
const unsigned char kParents[] = {0x40, 0x41, 0x43, 0x44, 0x99, 0x4A, 0x79};
const char *const kCyclic[] = {"DF02EF07", "DF02EF16", "DF04EF08", "DF04EF15", "DF01EF05"};
const int kTypes[] = {0, 1, 2, 15, 16, 17, 255};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    if (size < 3) return 0;
    const int mode = in[0] % 4;
    const int ver = kVersions[in[1] % 4];
    const uint8_t sel = in[2];
    const size_t len = size - 3;
    std::unique_ptr<unsigned char[]> data(new unsigned char[len ? len : 1]);
    if (len) std::memcpy(data.get(), in + 3, len);
    // The documented output sizes: 2*len + 1 (3*len + 1 for cyclic
    // records), at least 16.
    size_t bound = (mode == 2 ? 3 * len : 2 * len) + 1;
    if (bound < 16) bound = 16;
    std::unique_ptr<unsigned char[]> out(new unsigned char[bound]);
    const int type = sel < 128 ? kTypes[sel % 7] : sel;
    const unsigned char parent = sel < 128 ? kParents[sel % 7] : sel;
    char addr[9];
    std::strcpy(addr, kCyclic[sel % 5]);
    int n = 0;
    switch (mode) {
    case 0: n = recordToAsc(out.get(), data.get(), unsigned(len), type); break;
    case 1: n = tlvToAsc(out.get(), data.get(), unsigned(len), parent, ver); break;
    case 2: n = recordToAscRR(out.get(), data.get(), unsigned(len), 0, addr); break;
    default: n = recordToAscTLV(out.get(), data.get(), unsigned(len), sel & 1 ? 2 : type, parent, ver);
    }
    if (n < 0 || size_t(n) >= bound) __builtin_trap();
    if (out[n] != 0) __builtin_trap();
    return 0;
}
