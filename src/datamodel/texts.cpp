// SPDX-License-Identifier: MIT
// The interface's text conventions: "|" ends a field, "$" ends a group of
// fields about one card file, "^" ends a sub-field.  Splitting and joining
// helpers, and the checks of file-address lists, write-data texts and the
// debit interface's amounts and pay-info text.
#include "datamodel/datamodel.h"

#include <cstring>

using namespace kestrel::dm;

namespace {

using Span = TextSpan;

constexpr size_t kMaxRowText = kRowSize - 1;  // characters that fit a row

// Splits text[0..len) at `delim` into at most maxSpans spans and returns how
// many pieces the text holds (which may exceed maxSpans; the extra pieces
// are counted, not stored).  Characters after the last delimiter form no
// piece.  With keepLeadingDelim a delimiter that would end an empty piece
// is kept as that piece's first character instead.
int splitSpans(const char *text, size_t len, char delim, bool keepLeadingDelim, Span *out,
               int maxSpans) {
    int count = 0;
    size_t start = 0;
    for (size_t i = 0; i < len; ++i) {
        if (text[i] != delim) continue;
        if (keepLeadingDelim && i == start) continue;
        if (count < maxSpans && out) out[count] = {text + start, i - start};
        ++count;
        start = i + 1;
    }
    return count;
}

size_t textLen(const char *text) { return text ? std::strlen(text) : 0; }

// Copies pieces into rows of kRowSize bytes, each cut to fit and
// NUL-terminated; returns the number of rows written.
int splitIntoRows(const char *text, char delim, bool keepLeadingDelim, char *rows, int maxRows) {
    if (!text || !rows || maxRows <= 0) return 0;
    size_t len = std::strlen(text);
    int written = 0;
    size_t start = 0;
    for (size_t i = 0; i < len && written < maxRows; ++i) {
        if (text[i] != delim) continue;
        if (keepLeadingDelim && i == start) continue;
        size_t n = i - start;
        if (n > kMaxRowText) n = kMaxRowText;
        char *row = rows + static_cast<size_t>(written) * kRowSize;
        std::memcpy(row, text + start, n);
        row[n] = 0;
        ++written;
        start = i + 1;
    }
    return written;
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHex(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Copies a span into a NUL-terminated buffer of `size` bytes; false when it
// does not fit.
bool spanToText(Span s, char *buf, size_t size) {
    if (s.n >= size) return false;
    std::memcpy(buf, s.p, s.n);
    buf[s.n] = 0;
    return true;
}

// Checks one file address group given as a span (the "$" not included).
int checkGroup(Span group, int cardVer) {
    if (group.n > kMaxRowText) return kErrAddress;
    Span fields[5];
    int n = splitSpans(group.p, group.n, '|', false, fields, 5);
    if (n == 0) return kErrAddress;
    if (n > 5) n = 5;  // item addresses after the fourth are not looked at

    // Directory lookups compare the first 8 characters; a shorter address
    // ends at its NUL and matches nothing.
    char fileAddr[9] = {0};
    std::memcpy(fileAddr, fields[0].p, fields[0].n < 8 ? fields[0].n : 8);
    const FileTableEntry *file = findFileDFEF(fileAddr, cardVer);
    if (!file) return kErrNotInDirectory;
    if (n == 1 && (file->fileType == 1 || file->fileType == 2)) return kErrAddress;

    for (int i = 1; i < n; ++i) {
        const Span &item = fields[i];
        if (item.n != 2 && item.n != 4) return kErrAddress;
        // The tag (or record number) must be two hexadecimal digits: other
        // characters would silently convert to some other tag.
        if (!isHex(static_cast<unsigned char>(item.p[0])) ||
            !isHex(static_cast<unsigned char>(item.p[1])))
            return kErrAddress;
        char itemText[5];
        spanToText(item, itemText, sizeof itemText);
        const FileTableEntry *e = findFile(fileAddr, itemText, cardVer);
        if (!e) return kErrNotInDirectory;
        if (e->dataType == kTypeComposite) {
            if (item.n != 4 || itemText[2] != ':') return kErrAddress;
            int occurrence = static_cast<unsigned char>(itemText[3]) - '0';
            if (occurrence < 1) return kErrAddress;
            if (occurrence > e->occurrences) return kErrNotInDirectory;
        } else if (item.n != 2) {
            return kErrAddress;
        }
    }
    return 0;
}

// Amount in yuan that a moneyb field can hold: digits with at most one "."
// and at most two decimals, at least one digit, at most 42949672.95.
long checkAmount(const char *p, size_t n) {
    if (n == 0) return kErrArgument;
    bool dot = false, anyDigit = false;
    int decimals = 0;
    unsigned long long fen = 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '.') {
            if (dot) return kErrArgument;
            dot = true;
            continue;
        }
        if (!isDigit(c)) return kErrArgument;
        anyDigit = true;
        if (dot && ++decimals > 2) return kErrArgument;
        fen = fen * 10 + (c - '0');
        if (fen > 0xFFFFFFFFULL * 100) return kErrArgument;  // far past the limit
    }
    if (!anyDigit) return kErrArgument;
    for (; decimals < 2; ++decimals) fen *= 10;
    return fen <= 0xFFFFFFFFULL ? 0 : kErrArgument;
}

}  // namespace

extern "C" {

int findDollar(const char *text) {
    if (!text) return -1;
    const char *d = std::strchr(text, '$');
    return d ? static_cast<int>(d - text) : -1;
}

int findcharNum(const char *text, int ch) {
    if (!text) return 0;
    unsigned char c = static_cast<unsigned char>(ch);
    int n = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
        if (*p == c) ++n;
    return n;
}

int splitWithDollar(const char *text, char *rows, int maxRows) {
    return splitIntoRows(text, '$', true, rows, maxRows);
}

int splitWithShift6(const char *text, char *rows, int maxRows) {
    return splitIntoRows(text, '^', false, rows, maxRows);
}

}  // extern "C"

int dollarGroups(const char *text, TextSpan *out, int maxGroups) {
    return splitSpans(text, textLen(text), '$', true, out, maxGroups);
}

int unpackFromReceive(char *text, char rows[][KESTREL_ROW_SIZE], int maxRows) {
    return splitIntoRows(text, '|', false, rows ? rows[0] : nullptr, maxRows);
}

void packForResponse(unsigned char *src, int len, char *out, int *count) {
    if (!out || !count) return;
    if (src && len > 0) {
        std::memcpy(out + *count, src, static_cast<size_t>(len));
        *count += len;
    }
    out[(*count)++] = '|';
}

void packWithDelimiter(unsigned char *src, int len, char *out, int *count, char ch) {
    if (!out || !count) return;
    if (!src) len = 0;
    while (len > 0 && src[len - 1] == ' ') --len;
    if (len > 0) {
        std::memcpy(out + *count, src, static_cast<size_t>(len));
        *count += len;
    }
    out[(*count)++] = ch;
}

int checkEFFile(char *group, int cardVer) {
    if (!group) return kErrAddress;
    return checkGroup({group, std::strlen(group)}, cardVer);
}

int checkfileaddr(char *text, int cardVer) {
    Span groups[5];
    int n = splitSpans(text, textLen(text), '$', true, groups, 5);
    if (n == 0) return kErrAddress;
    if (n > 5) n = 5;  // groups after the fifth are not looked at
    for (int i = 0; i < n; ++i) {
        int rc = checkGroup(groups[i], cardVer);
        if (rc != 0) return rc;
    }
    return 0;
}

int checkWriteData(char *addrText, char *dataText) {
    Span addr[5], data[5];
    int na = splitSpans(addrText, textLen(addrText), '$', true, addr, 5);
    int nd = splitSpans(dataText, textLen(dataText), '$', true, data, 5);
    // Groups, fields or values that the write would drop (past the fifth, or
    // too long for a row) make the request unacceptable rather than being
    // ignored while the write reports success.
    if (na != nd || na > 5) return kErrArgument;
    for (int g = 0; g < na; ++g) {
        if (addr[g].n > kMaxRowText || data[g].n > kMaxRowText) return kErrArgument;
        for (size_t i = 0; i < 8; ++i) {
            char a = i < addr[g].n ? addr[g].p[i] : 0;
            char d = i < data[g].n ? data[g].p[i] : 0;
            if (a != d) return kErrArgument;
            if (a == 0) break;
        }
        int fa = splitSpans(addr[g].p, addr[g].n, '|', false, nullptr, 0);
        int fd = splitSpans(data[g].p, data[g].n, '|', false, nullptr, 0);
        if (fa > 5 || fd > 5) return kErrArgument;
        if (fa != 1 && fa != fd) return kErrArgument;
    }
    return 0;
}

long checkdouble(char *text) {
    if (!text) return kErrArgument;
    return checkAmount(text, std::strlen(text));
}

long checkPayInfo(char *text) {
    Span fields[3] = {{"", 0}, {"", 0}, {"", 0}};
    splitSpans(text, textLen(text), '|', false, fields, 3);
    for (const Span &f : fields)
        if (f.n > kMaxRowText) return kErrArgument;
    long rc = checkAmount(fields[0].p, fields[0].n);
    if (rc != 0) return rc;
    rc = checkAmount(fields[1].p, fields[1].n);
    if (rc != 0) return rc;
    if (fields[2].n != 14) return kErrArgument;
    for (size_t i = 0; i < 14; ++i)
        if (!isDigit(static_cast<unsigned char>(fields[2].p[i]))) return kErrArgument;
    return 0;
}
