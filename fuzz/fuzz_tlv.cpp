// SPDX-License-Identifier: MIT
// tag_decodetlv over bytes as a card returns them (file control
// information, payment records).  Input: the searched tag (2 bytes; the
// second counts only for two-byte tags), then the data.
#include <cstdint>
#include <cstring>
#include <memory>

#include "datamodel/datamodel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    if (size < 2) return 0;
    const unsigned char tag[2] = {in[0], in[1]};
    size_t len = size - 2 > 255 ? 255 : size - 2;
    // Exact-size copies: any read past the data or write past the 256-byte
    // output that callers provide is caught.
    std::unique_ptr<unsigned char[]> data(new unsigned char[len ? len : 1]);
    if (len) std::memcpy(data.get(), in + 2, len);
    std::unique_ptr<unsigned char[]> out(new unsigned char[256]);
    unsigned char outLen = 0;
    unsigned char count =
        tag_decodetlv(static_cast<unsigned char>(len), tag, data.get(), out.get(), &outLen);
    if (outLen > len) __builtin_trap();
    if (count > 0 && (outLen == 0 || out[0] != tag[0])) __builtin_trap();
    if (count == 0 && outLen != 0) __builtin_trap();
    return 0;
}
