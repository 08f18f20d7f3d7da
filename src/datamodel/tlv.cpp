// SPDX-License-Identifier: MIT
// Search for a BER-TLV tag at the top level of a byte string.
#include "datamodel/datamodel.h"

#include <cstring>

namespace {
bool twoByteTag(unsigned char first) { return (first & 0x1F) == 0x1F; }
}  // namespace

extern "C" {

// Walks the top-level elements of data[0..len): 00 and FF where a tag is
// expected are padding; a tag has two bytes when its first byte's low five
// bits are all set; a length byte 81 takes the next byte as the value
// length.  Every element with the searched tag is copied whole to out.
//
// The data come from a card: an element whose header or value runs past
// the end of the data ends the walk without being copied, so nothing is
// read past data[len - 1].  Copied elements lie within the data and do not
// overlap, so together they never exceed len (at most 255) bytes of out.
unsigned char tag_decodetlv(unsigned char len, const unsigned char *tag,
                            const unsigned char *data, unsigned char *out,
                            unsigned char *outLen) {
    if (outLen) *outLen = 0;
    if (!tag || !data) return 0;
    const bool wantTwo = twoByteTag(tag[0]);
    unsigned count = 0, copied = 0;
    unsigned pos = 0;
    while (pos < len) {
        unsigned char first = data[pos];
        if (first == 0x00 || first == 0xFF) {
            ++pos;
            continue;
        }
        const unsigned start = pos;
        const bool two = twoByteTag(first);
        unsigned p = pos + (two ? 2u : 1u);
        if (p >= len) break;  // no room for the length byte
        unsigned valueLen = data[p];
        if (valueLen == 0x81) {
            if (p + 1 >= len) break;
            valueLen = data[p + 1];
            p += 2;
        } else {
            p += 1;
        }
        const unsigned end = p + valueLen;
        if (end > len) break;  // value runs past the data
        bool match = two == wantTwo && first == tag[0] && (!two || data[start + 1] == tag[1]);
        if (match) {
            const unsigned size = end - start;
            if (out) std::memcpy(out + copied, data + start, size);
            copied += size;
            ++count;
        }
        pos = end;
    }
    if (outLen) *outLen = static_cast<unsigned char>(copied);
    return static_cast<unsigned char>(count);
}

}  // extern "C"
