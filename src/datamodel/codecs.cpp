// SPDX-License-Identifier: MIT
// Record and TLV codecs: card bytes of one value, composite item or cyclic
// record to the interface's text, and back, by the layouts of the data item
// directory.
#include "datamodel/datamodel.h"

#include <cstring>

using namespace kestrel::dm;

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHex(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned nibble(unsigned char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;  // callers pass checked hexadecimal digits only
}

int emptyText(unsigned char *out) {
    if (out) out[0] = 0;
    return 0;
}

// Encodes text[0..textLen) as one value of `len` bytes of the given type;
// returns the byte count or -1 when the text is not acceptable.  Never
// writes more than `len` bytes.
int encodeValue(unsigned char *out, const char *text, size_t textLen, unsigned len,
                int dataType) {
    if (!out || !text) return -1;
    switch (dataType) {
    case kTypeText: {
        std::memset(out, 0, len);
        std::memcpy(out, text, textLen < len ? textLen : len);
        return static_cast<int>(len);
    }
    case kTypeCn: {
        // Digits only: a "." has no cn nibble and would be stored as
        // something the host never sent.
        for (size_t i = 0; i < textLen; ++i)
            if (!isDigit(static_cast<unsigned char>(text[i]))) return -1;
        // Left-aligned, padded with F; digits beyond 2*len are dropped.
        for (unsigned i = 0; i < len; ++i) {
            size_t h = 2 * static_cast<size_t>(i), l = h + 1;
            unsigned hi = h < textLen ? nibble(static_cast<unsigned char>(text[h])) : 0xF;
            unsigned lo = l < textLen ? nibble(static_cast<unsigned char>(text[l])) : 0xF;
            out[i] = static_cast<unsigned char>((hi << 4) | lo);
        }
        return static_cast<int>(len);
    }
    case kTypeMoneyCn:
    case kTypeMoneyB: {
        // Both money encodings are exactly 4 bytes.
        if (len != 4) return -1;
        if (dataType == kTypeMoneyCn && textLen == 0) {
            std::memset(out, 0xFF, 4);  // no value
            return 4;
        }
        char money[128];
        if (textLen >= sizeof money) return -1;
        std::memcpy(money, text, textLen);
        money[textLen] = 0;
        if (checkMoneyFormat(money) != 1) return -1;
        char *dst = reinterpret_cast<char *>(out);
        if (dataType == kTypeMoneyCn) ascToMoneycn(dst, money);
        else ascToMoneyb(dst, money);
        return 4;
    }
    default: {
        // Binary as hexadecimal, two digits per byte.  An odd digit count
        // would lose its last digit and a value longer than the item would
        // not fit it: both are refused.
        for (size_t i = 0; i < textLen; ++i)
            if (!isHex(static_cast<unsigned char>(text[i]))) return -1;
        if (textLen % 2 != 0 || textLen / 2 > len) return -1;
        for (size_t i = 0; i < textLen / 2; ++i)
            out[i] = static_cast<unsigned char>(
                (nibble(static_cast<unsigned char>(text[2 * i])) << 4) |
                nibble(static_cast<unsigned char>(text[2 * i + 1])));
        return static_cast<int>(textLen / 2);
    }
    }
}

// Encodes "^"-terminated sub-fields of text by a layout of child entries,
// with or without a tag and length byte before each value.  The text must
// hold at least one sub-field per child, and each must fill its child's
// length, so the result always has the layout's size.  Sub-fields beyond
// the children are ignored: a host may write the same text to cards whose
// layouts have fewer children.
int encodeChildren(unsigned char *out, const char *text, const FileTableEntry *const *children,
                   int count, bool withHeaders) {
    if (!out || !text || count <= 0) return kErrAddress;
    const char *p = text;
    int w = 0;
    for (int i = 0; i < count; ++i) {
        const char *end = std::strchr(p, '^');
        if (!end) return kErrAddress;  // fewer sub-fields than children
        const FileTableEntry &c = *children[i];
        const unsigned len = c.length & 0xFF;
        if (withHeaders) {
            out[w++] = c.tag;
            out[w++] = static_cast<unsigned char>(len);
        }
        int n = encodeValue(out + w, p, static_cast<size_t>(end - p), len,
                            static_cast<int>(c.dataType));
        if (n < 0 || static_cast<unsigned>(n) != len) return kErrAddress;
        w += n;
        p = end + 1;
    }
    return w;
}

}  // namespace

int recordToAsc(unsigned char *out, unsigned char *data, unsigned len, int dataType) {
    if (!out) return 0;
    if (!data || len > 0x3FFFFFFFu) return emptyText(out);
    char *dst = reinterpret_cast<char *>(out);
    char *src = reinterpret_cast<char *>(data);
    const int n = static_cast<int>(len);
    switch (dataType) {
    case kTypeText:
        return strcpyFixLen(dst, src, n);
    case kTypeCn:
        return cnToAsc(dst, src, n);
    case kTypeMoneyCn:
        // Money values are 4 bytes; fewer do not hold an amount.
        return len < 4 ? emptyText(out) : moneycnToAsc(dst, src);
    case kTypeMoneyB:
        return len < 4 ? emptyText(out) : moneybToAsc(dst, src);
    default:
        BinToCHex(dst, src, n);
        return 2 * n;
    }
}

int tlvToAsc(unsigned char *out, unsigned char *data, unsigned len, unsigned char parentTag,
             int cardVer) {
    if (!out) return 0;
    if (!data) return emptyText(out);
    unsigned pos = 0;
    int w = 0;
    while (pos < len) {
        // A child header or value that the data do not fully hold does not
        // match the layout.
        if (len - pos < 2) return emptyText(out);
        const unsigned char childTag = data[pos];
        const unsigned childLen = data[pos + 1];
        const FileTableEntry *e = findChildRecord(childTag, parentTag, cardVer);
        if (!e || childLen != e->length) return emptyText(out);
        if (len - pos - 2 < childLen) return emptyText(out);
        w += recordToAsc(out + w, data + pos + 2, childLen, static_cast<int>(e->dataType));
        out[w++] = '^';
        pos += 2 + childLen;
    }
    out[w] = 0;
    return w;
}

int recordToAscTLV(unsigned char *out, unsigned char *data, unsigned len, int dataType,
                   unsigned char tag, int cardVer) {
    if (dataType == static_cast<int>(kTypeComposite))
        return tlvToAsc(out, data, len, tag, cardVer);
    return recordToAsc(out, data, len, dataType);
}

int recordToAscRR(unsigned char *out, unsigned char *data, unsigned len, int /*dataType*/,
                  char *fileAddr) {
    if (!out) return 0;
    const FileTableEntry *fields[kMaxChildren];
    const int count = findChildRR(fileAddr, fields);
    if (count == 0 || !data) return emptyText(out);
    unsigned pos = 0;
    int w = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned flen = fields[i]->length & 0xFF;
        if (len - pos < flen) return emptyText(out);
        w += recordToAsc(out + w, data + pos, flen, static_cast<int>(fields[i]->dataType));
        out[w++] = '^';
        pos += flen;
    }
    out[w] = 0;
    return w;
}

int ascToRecord(unsigned char *out, char *text, unsigned len, int dataType) {
    if (!text) return -1;
    return encodeValue(out, text, std::strlen(text), len, dataType);
}

int ascToTLV(unsigned char *out, char *text, unsigned /*len*/, int /*dataType*/,
             unsigned char parentTag, int cardVer) {
    const FileTableEntry *children[kMaxChildren];
    const int count = findAllChildByRecord(parentTag, cardVer, children);
    return encodeChildren(out, text, children, count, true);
}

int ascToRecordTLV(unsigned char *out, char *text, unsigned len, int dataType, unsigned char tag,
                   int cardVer) {
    if (dataType == static_cast<int>(kTypeComposite))
        return ascToTLV(out, text, len, dataType, tag, cardVer);
    return ascToRecord(out, text, len, dataType);
}

int ascToRR(unsigned char *out, char *text, unsigned /*len*/, int /*dataType*/, char *fileAddr) {
    const FileTableEntry *fields[kMaxChildren];
    const int count = findChildRR(fileAddr, fields);
    return encodeChildren(out, text, fields, count, false);
}
