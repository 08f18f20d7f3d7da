// SPDX-License-Identifier: MIT
// The identity-card module's answer and the holder's text: checking the
// answer frame, taking the text block and the photo out of it, and the
// output texts of the three readers.
//
// Everything here works on bytes that come from the module, so every
// length is bounded by what arrived and every field by its place in the
// 256-byte text block.
#include <cstdlib>
#include <cstring>

#include "datamodel/datamodel.h"
#include "othercards/othercards.h"

namespace kestrel::idc {
namespace {

// The card's text is UCS-2 in little-endian byte order whatever the host's
// order; "UCS-2LE" says so to iconv (plain "UCS-2" would follow a byte-order
// mark in the data).
char kFromCode[] = "UCS-2LE";
char kToCode[] = "GB18030";

// "男" and "女".
const char kMale[] = "\xC4\xD0";
const char kFemale[] = "\xC5\xAE";

// A field of the text block: byte offset and length.
struct Field {
    int offset;
    int bytes;
};

// Resident identity card.
constexpr Field kName{0, 30};
constexpr Field kSex{30, 2};
constexpr Field kEthnic{32, 4};
constexpr Field kBirth{36, 16};
constexpr Field kAddress{52, 70};
constexpr Field kNumber{122, 36};
constexpr Field kAuthority{158, 30};
constexpr Field kValidity{188, 32};  // valid from, then valid to
constexpr Field kValidFrom{188, 16};
constexpr Field kValidTo{204, 16};
constexpr Field kKind{248, 2};

// "J", the residence permit: the resident card's fields, no ethnic group,
// and after the validity the travel-permit number and the times issued.
constexpr Field kPermitPassNumber{220, 18};
constexpr Field kPermitIssueCount{238, 4};

// "I", the permanent-residence card.
constexpr Field kPrLatinName{0, 120};
constexpr Field kPrSex{120, 2};
constexpr Field kPrNumber{122, 30};
constexpr Field kPrNationality{152, 6};
constexpr Field kPrChineseName{158, 30};
constexpr Field kPrValidity{188, 32};
constexpr Field kPrValidFrom{188, 16};
constexpr Field kPrValidTo{204, 16};
constexpr Field kPrBirth{220, 16};
constexpr Field kPrVersion{236, 4};
constexpr Field kPrAuthority{240, 8};

// A converted field: GB18030 takes at most 4 bytes per 16-bit character.
constexpr int kConvertedSize = 4 * (kTextBlockSize / 2) + 1;

struct Text {
    char bytes[kConvertedSize];
    int len;
};

// Converts a field to GB18030.  A conversion that stops keeps what was
// converted before the stop; the text ends at its first NUL, so that a
// field never carries NUL bytes into the output.
Text convert(const unsigned char *text, Field f) {
    Text t;
    code_convert(kFromCode, kToCode, reinterpret_cast<char *>(const_cast<unsigned char *>(text)) + f.offset,
                 static_cast<unsigned long>(f.bytes), t.bytes, sizeof t.bytes - 1);
    t.bytes[sizeof t.bytes - 1] = '\0';
    t.len = static_cast<int>(strnlen(t.bytes, sizeof t.bytes));
    return t;
}

// The text ends at its first space after the first byte (a GB18030
// character never holds the byte 0x20).
Text spaceCut(Text t) {
    for (int i = 1; i < t.len; ++i) {
        if (t.bytes[i] == ' ') {
            t.len = i;
            t.bytes[i] = '\0';
            break;
        }
    }
    return t;
}

Text fromString(const char *s) {
    Text t;
    t.len = static_cast<int>(strnlen(s, sizeof t.bytes - 1));
    std::memcpy(t.bytes, s, static_cast<size_t>(t.len));
    t.bytes[t.len] = '\0';
    return t;
}

Text sexText(const unsigned char *text, Field f) {
    Text code = convert(text, f);
    return fromString(std::strcmp(code.bytes, "1") == 0 ? kMale : kFemale);
}

Text ethnicText(const unsigned char *text, Field f) {
    Text code = convert(text, f);
    char name[19];
    getNation(std::atoi(code.bytes), name);
    return fromString(name);
}

// The bytes [from, to) of a text, as far as it has them.
Text slice(const Text &t, int from, int to) {
    Text s;
    if (to > t.len) to = t.len;
    s.len = to > from ? to - from : 0;
    if (s.len) std::memcpy(s.bytes, t.bytes + from, static_cast<size_t>(s.len));
    s.bytes[s.len] = '\0';
    return s;
}

// Appends fields to an output text.  Every field is bounded by its place
// in the text block, so the longest output is far below kOutSize; the
// writer stops short of the end all the same.
class Writer {
public:
    explicit Writer(char *out) : out_(out) {}
    // The field without its trailing spaces, then ch.
    void trimmed(const Text &t, char ch) {
        if (!fits(t.len)) return;
        packWithDelimiter(reinterpret_cast<unsigned char *>(const_cast<char *>(t.bytes)), t.len, out_,
                          &count_, ch);
    }
    // The field as it is, then "|".
    void whole(const Text &t) {
        if (!fits(t.len)) return;
        packForResponse(reinterpret_cast<unsigned char *>(const_cast<char *>(t.bytes)), t.len, out_,
                        &count_);
    }
    void ch(char c) {
        if (fits(0)) out_[count_++] = c;
    }
    int finish() {
        out_[count_] = '\0';
        return count_;
    }

private:
    bool fits(int len) const { return count_ + len + 2 <= kOutSize; }
    char *out_;
    int count_ = 0;
};

Text empty() { return fromString(""); }

unsigned be16(const unsigned char *p) { return static_cast<unsigned>(p[0]) << 8 | p[1]; }

}  // namespace

bool moduleAnswerOk(const unsigned char *answer, std::size_t len) {
    // Preamble, length, 3 status bytes and the checksum at least.
    if (!answer || len < kAnswerHeader + 1) return false;
    if (std::memcmp(answer, kPreamble, sizeof kPreamble) != 0) return false;
    std::size_t frameLen = be16(answer + 5);
    if (frameLen < 4 || 7 + frameLen > len) return false;
    unsigned char sum = 0;
    for (std::size_t i = 5; i < 7 + frameLen - 1; ++i) sum ^= answer[i];
    if (sum != answer[7 + frameLen - 1]) return false;
    return answer[9] == kModuleOk || answer[9] == kModuleCardFound;
}

bool parseReadAnswer(const unsigned char *answer, std::size_t len, IdRecord *rec) {
    if (!rec || !moduleAnswerOk(answer, len)) return false;
    // The data lies between the status bytes and the checksum.
    std::size_t dataEnd = 7 + be16(answer + 5) - 1;
    if (dataEnd < kAnswerHeader + 4) return false;
    std::size_t t = be16(answer + 10), p = be16(answer + 12);
    std::size_t textAt = kAnswerHeader + 4;
    if (t + p > dataEnd - textAt) return false;
    std::memset(rec->text, 0, sizeof rec->text);
    rec->textLen = static_cast<int>(t < sizeof rec->text ? t : sizeof rec->text);
    std::memcpy(rec->text, answer + textAt, static_cast<size_t>(rec->textLen));
    rec->photo = answer + textAt + t;
    rec->photoLen = static_cast<int>(p);
    return true;
}

CardKind cardKind(const unsigned char *text) {
    unsigned ch = text[kKind.offset] | static_cast<unsigned>(text[kKind.offset + 1]) << 8;
    if (ch == 'I') return CardKind::PermanentResidence;
    if (ch == 'J') return CardKind::ResidencePermit;
    return CardKind::Resident;
}

int formatIdentityCard(const unsigned char *text, char *out) {
    Writer w(out);
    if (cardKind(text) != CardKind::Resident) return w.finish();
    w.ch('|');
    w.trimmed(spaceCut(convert(text, kName)), '|');
    w.trimmed(sexText(text, kSex), '|');
    w.trimmed(ethnicText(text, kEthnic), '|');
    w.trimmed(convert(text, kBirth), '|');
    w.trimmed(spaceCut(convert(text, kAddress)), '|');
    w.trimmed(convert(text, kNumber), '|');
    Text validity = convert(text, kValidity);
    w.trimmed(slice(validity, 0, 8), '|');
    w.trimmed(slice(validity, 8, 16), '|');
    w.trimmed(spaceCut(convert(text, kAuthority)), '|');
    return w.finish();
}

int formatSFZ(const unsigned char *text, char *out) {
    Writer w(out);
    const char d = '^';
    switch (cardKind(text)) {
    case CardKind::PermanentResidence:
        w.trimmed(spaceCut(convert(text, kPrNumber)), d);
        w.trimmed(sexText(text, kPrSex), d);
        w.trimmed(convert(text, kPrLatinName), d);
        w.trimmed(convert(text, kPrNationality), d);
        w.trimmed(spaceCut(convert(text, kPrChineseName)), d);
        w.trimmed(convert(text, kPrValidity), d);
        w.trimmed(convert(text, kPrBirth), d);
        w.trimmed(convert(text, kPrVersion), d);
        w.trimmed(convert(text, kPrAuthority), d);
        w.trimmed(convert(text, kKind), d);
        break;
    case CardKind::ResidencePermit:
        w.trimmed(convert(text, kNumber), d);
        w.trimmed(spaceCut(convert(text, kName)), d);
        w.trimmed(convert(text, kPermitPassNumber), d);
        w.trimmed(sexText(text, kSex), d);
        w.trimmed(convert(text, kBirth), d);
        w.trimmed(spaceCut(convert(text, kAddress)), d);
        w.trimmed(spaceCut(convert(text, kAuthority)), d);
        w.trimmed(convert(text, kValidity), d);
        w.ch(d);
        break;
    case CardKind::Resident:
        w.trimmed(convert(text, kNumber), d);
        w.trimmed(spaceCut(convert(text, kName)), d);
        w.trimmed(empty(), d);
        w.trimmed(sexText(text, kSex), d);
        w.trimmed(ethnicText(text, kEthnic), d);
        w.trimmed(convert(text, kBirth), d);
        w.trimmed(spaceCut(convert(text, kAddress)), d);
        w.trimmed(spaceCut(convert(text, kAuthority)), d);
        w.trimmed(convert(text, kValidity), d);
        break;
    }
    return w.finish();
}

int formatIDC(const unsigned char *text, char *out) {
    Writer w(out);
    switch (cardKind(text)) {
    case CardKind::PermanentResidence:
        w.whole(convert(text, kPrLatinName));
        w.whole(sexText(text, kPrSex));
        w.whole(empty());
        w.whole(convert(text, kPrBirth));
        w.whole(empty());
        w.whole(convert(text, kPrNumber));
        w.whole(convert(text, kPrAuthority));
        w.whole(convert(text, kPrValidFrom));
        w.whole(convert(text, kPrValidTo));
        w.whole(convert(text, kPrNationality));
        w.whole(convert(text, kPrChineseName));
        break;
    case CardKind::ResidencePermit:
    case CardKind::Resident: {
        // The residence permit has no ethnic group: its bytes are reserved.
        bool permit = cardKind(text) == CardKind::ResidencePermit;
        w.whole(convert(text, kName));
        w.whole(sexText(text, kSex));
        w.whole(permit ? empty() : ethnicText(text, kEthnic));
        w.whole(convert(text, kBirth));
        w.whole(convert(text, kAddress));
        w.whole(convert(text, kNumber));
        w.whole(convert(text, kAuthority));
        w.whole(convert(text, kValidFrom));
        w.whole(convert(text, kValidTo));
        w.whole(permit ? convert(text, kPermitPassNumber) : empty());
        w.whole(permit ? convert(text, kPermitIssueCount) : empty());
        break;
    }
    }
    return w.finish();
}

void photoHex(const unsigned char *photo, int len, char *out) {
    if (len < 0) len = 0;
    if (len > kMaxPhoto) len = kMaxPhoto;
    BinToCHex(out, reinterpret_cast<const char *>(photo), len);
}

}  // namespace kestrel::idc
