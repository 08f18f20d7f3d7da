/* SPDX-License-Identifier: MIT */
// Byte strings and their hexadecimal spelling, as the virtual reader and
// the tests write commands and answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vr {

using Bytes = std::vector<uint8_t>;

// Parses hexadecimal text; blanks are ignored ("00 A4 04 00").  Aborts on
// anything else, since such texts are written by hand in tests and profiles.
Bytes hex(const std::string &text);

// Upper-case hexadecimal with a blank between bytes ("00 A4 04 00").
std::string toHex(const uint8_t *data, size_t len);
inline std::string toHex(const Bytes &b) { return toHex(b.data(), b.size()); }

// Status word of a response (its last two bytes), or -1 if shorter.
int statusWord(const Bytes &response);

// Appends a status word to data.
Bytes withStatus(Bytes data, uint16_t sw);

}  // namespace vr
