// SPDX-License-Identifier: MIT
#include "bytes.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace vr {

Bytes hex(const std::string &text) {
    Bytes out;
    int high = -1;
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (isspace(c)) continue;
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else {
            fprintf(stderr, "bad hexadecimal text: %s\n", text.c_str());
            abort();
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) {
        fprintf(stderr, "odd number of hexadecimal digits: %s\n", text.c_str());
        abort();
    }
    return out;
}

std::string toHex(const uint8_t *data, size_t len) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(len * 3);
    for (size_t i = 0; i < len; i++) {
        if (i) s += ' ';
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

int statusWord(const Bytes &r) {
    if (r.size() < 2) return -1;
    return r[r.size() - 2] << 8 | r[r.size() - 1];
}

Bytes withStatus(Bytes data, uint16_t sw) {
    data.push_back(static_cast<uint8_t>(sw >> 8));
    data.push_back(static_cast<uint8_t>(sw));
    return data;
}

}  // namespace vr
