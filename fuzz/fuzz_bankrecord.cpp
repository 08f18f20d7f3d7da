// SPDX-License-Identifier: MIT
// The payment steps' parsers over bytes as a card returns them: the
// environment's answer, the directory record and application records.
// Input: the bytes of one answer (at most a whole response area).
#include <cstdint>
#include <cstring>
#include <memory>

#include "othercards/bank_card.h"

using namespace kestrel::bank;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    if (size > 4094) return 0;
    const unsigned len = static_cast<unsigned>(size);
    // Exact-size copy: any read past the card's bytes is caught.
    std::unique_ptr<unsigned char[]> data(new unsigned char[len ? len : 1]);
    if (len) std::memcpy(data.get(), in, len);

    std::unique_ptr<char[]> out(new char[kAccountTextSize]);
    int n = accountNumber(data.get(), len, out.get());
    if (n > 2 * static_cast<int>(kMaxAccountNumberBytes)) __builtin_trap();
    if (n >= 0 && std::strlen(out.get()) != static_cast<size_t>(n)) __builtin_trap();

    unsigned char sfi = directoryFileId(data.get(), len);
    if (sfi > kMaxShortFileId) __builtin_trap();

    TlvValue aid;
    if (applicationId(data.get(), len, &aid)) {
        if (aid.len == 0 || aid.len > 255 || aid.data < data.get() || aid.data + aid.len > data.get() + len)
            __builtin_trap();
    }

    // The first occurrence is the one tag_decodetlv copies first.
    if (len >= 1 && len <= 255) {
        const unsigned char tag = data[0];
        if ((tag & 0x1F) == 0x1F) return 0;
        TlvValue v;
        bool found = findTlv(data.get(), len, tag, &v);
        unsigned char copies[256], copiesLen = 0;
        unsigned char count = tag_decodetlv(static_cast<unsigned char>(len), &tag, data.get(), copies, &copiesLen);
        if (found != (count > 0)) __builtin_trap();
        if (found) {
            unsigned header = copies[1] == 0x81 ? 3 : 2;
            if (header + v.len > copiesLen || std::memcmp(copies + header, v.data, v.len) != 0) __builtin_trap();
        }
    }
    return 0;
}
