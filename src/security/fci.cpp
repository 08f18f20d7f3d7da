// SPDX-License-Identifier: MIT
// The algorithm indicator in the file control information of the
// social-security application.  The FCI comes from the card: every length
// in it is bounded by the bytes actually received.
#include <cstring>

#include "security/security.h"

namespace kestrel::sec {

namespace {

// A byte string as the TLV search sees it.
struct Span {
    const unsigned char *p;
    unsigned n;
};

// The first top-level element with `tag` in `in`, copied whole into `work`
// (256 bytes); returns its value, or an empty span when there is none.
// Only the first 255 bytes of `in` are searched, the most the search
// takes.
Span valueOf(Span in, const unsigned char *tag, unsigned char *work) {
    memset(work, 0, 256);
    unsigned char copied = 0;
    unsigned char len = static_cast<unsigned char>(in.n > 255 ? 255 : in.n);
    if (tag_decodetlv(len, tag, in.p, work, &copied) == 0) return {work, 0};
    // Header of the first copy: the tag, then one length byte or 81 and
    // the length byte.  The search copies only elements that lie wholly
    // inside the data, so the declared length fits; it is bounded anyway.
    unsigned pos = (tag[0] & 0x1F) == 0x1F ? 2 : 1;
    if (pos >= copied) return {work, 0};
    unsigned declared = work[pos];
    if (declared == 0x81) {
        if (pos + 1 >= copied) return {work, 0};
        declared = work[pos + 1];
        pos += 2;
    } else {
        pos += 1;
    }
    unsigned room = copied - pos;
    return {work + pos, declared < room ? declared : room};
}

}  // namespace

// The algorithm indicator that the file control information declares:
// 6F { A5 { 9F0C { two bytes, the second the indicator } } }, or a 9F0C
// that holds tag 86, whose first value byte is the indicator (00: keep the
// caller's value).  An FCI without 6F, A5, 9F0C or 86 declares none.
FciAlgorithm algorithmFromFci(const unsigned char *fci, unsigned fciLen, int *indicator) {
    static const unsigned char kTag6F[1] = {0x6F};
    static const unsigned char kTagA5[1] = {0xA5};
    static const unsigned char kTag9F0C[2] = {0x9F, 0x0C};
    static const unsigned char kTag86[1] = {0x86};
    unsigned char w1[256], w2[256], w3[256], w4[256];

    Span t1 = valueOf({fci, fciLen}, kTag6F, w1);
    Span t2 = valueOf(t1, kTagA5, w2);
    Span t3 = valueOf(t2, kTag9F0C, w3);
    if (t3.n == 2) {
        *indicator = t3.p[1];
        return FciAlgorithm::Indicator;
    }
    Span t4 = valueOf(t3, kTag86, w4);
    if (t4.n == 0) return FciAlgorithm::NotDeclared;
    if (t4.p[0] == 0) return FciAlgorithm::KeepCallers;
    *indicator = t4.p[0];
    return FciAlgorithm::Indicator;
}

}  // namespace kestrel::sec
