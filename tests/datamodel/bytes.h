/* SPDX-License-Identifier: MIT */
// Hexadecimal helpers for the data model tests.
#ifndef KESTREL_TESTS_DATAMODEL_BYTES_H
#define KESTREL_TESTS_DATAMODEL_BYTES_H

#include <string>
#include <vector>

// "12 3F FF" or "123FFF" -> bytes.
inline std::vector<unsigned char> bytes(const std::string &hex) {
    std::vector<unsigned char> out;
    std::string digits;
    for (char c : hex)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

// bytes -> "12 3F FF".
inline std::string hexOf(const unsigned char *p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string hexOf(const std::vector<unsigned char> &v) { return hexOf(v.data(), v.size()); }

#endif
