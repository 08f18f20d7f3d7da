/* SPDX-License-Identifier: MIT */
// Text conversions between the library's GB18030 buffers and the UTF-8 of
// the service's JSON.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestreld {

// UTF-8 of n GB18030 bytes.  A byte that starts no valid sequence becomes
// U+FFFD and conversion goes on with the next byte; NUL bytes are kept.
std::string gb18030ToUtf8(const char *bytes, std::size_t n);

// GB18030 of a UTF-8 text (for texts that go to the library).  False when
// the text is not valid UTF-8 or the system has no converter.
bool utf8ToGb18030(const std::string &utf8, std::string &gb18030);

// UTF-8 of the NUL-terminated text in a library buffer of `size` bytes
// (all of it when it holds no NUL).
std::string bufferText(const char *buffer, std::size_t size);

// The fields of an interface text, each ended by `delimiter`.  Text after
// the last delimiter, when there is any, is one more field.  Splitting the
// UTF-8 text (not the GB18030 bytes, where "|" can be the second byte of
// a character) keeps every character whole.
std::vector<std::string> splitFields(const std::string &text, char delimiter);

}  // namespace kestreld
