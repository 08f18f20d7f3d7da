// SPDX-License-Identifier: MIT
#include "profile.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "cards/id_module.h"
#include "cards/m1_card.h"
#include "cards/psam.h"
#include "cards/reader_device.h"
#include "reader.h"

namespace vr {

// Filled in by the build from sim/profiles/demo.profile.
extern const unsigned char kDemoProfileText[];
extern const size_t kDemoProfileSize;

bool utf8ToGb18030(const std::string &utf8, Bytes *out) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = utf8;
    Bytes buf(in.size() * 4 + 4);
    char *src = in.empty() ? nullptr : &in[0];
    size_t srcLeft = in.size();
    char *dst = reinterpret_cast<char *>(buf.data());
    size_t dstLeft = buf.size();
    size_t r = in.empty() ? 0 : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || srcLeft) return false;
    buf.resize(buf.size() - dstLeft);
    *out = std::move(buf);
    return true;
}

namespace {

struct Entry {
    std::string key, value;
    int line = 0;
};

struct Section {
    std::string name;
    int line = 0;
    std::vector<Entry> entries;
};

// A parse failure: the line (0 for the whole file) and the message.
struct Failure {
    int line;
    std::string what;
};

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

[[noreturn]] void fail(int line, const std::string &what) { throw Failure{line, what}; }

bool parseHexText(const std::string &text, Bytes *out) {
    Bytes b;
    int high = -1;
    for (char ch : text) {
        if (ch == ' ' || ch == '\t') continue;
        int v;
        if (ch >= '0' && ch <= '9') v = ch - '0';
        else if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F') v = ch - 'A' + 10;
        else return false;
        if (high < 0) {
            high = v;
        } else {
            b.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return false;
    *out = std::move(b);
    return true;
}

Bytes hexValue(const Entry &e, size_t minLen, size_t maxLen) {
    Bytes b;
    if (!parseHexText(e.value, &b)) fail(e.line, e.key + ": not hexadecimal bytes: '" + e.value + "'");
    if (b.size() < minLen || b.size() > maxLen) {
        std::string want = minLen == maxLen ? std::to_string(minLen) : std::to_string(minLen) + " to " + std::to_string(maxLen);
        fail(e.line, e.key + ": " + std::to_string(b.size()) + " bytes, expected " + want);
    }
    return b;
}

int intValue(const Entry &e, int lo, int hi) {
    const std::string &v = e.value;
    bool ok = !v.empty() && v.size() <= 6 && v.find_first_not_of("0123456789") == std::string::npos;
    int n = ok ? std::stoi(v) : -1;
    if (!ok || n < lo || n > hi)
        fail(e.line, e.key + ": '" + v + "' is not a number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return n;
}

// Decimal digits packed two per byte, padded with F nibbles to `bytes`.
Bytes digitsValue(const Entry &e, size_t bytes, bool exact = false) {
    const std::string &v = e.value;
    if (v.find_first_not_of("0123456789") != std::string::npos)
        fail(e.line, e.key + ": '" + v + "' holds characters other than digits");
    if (v.size() > 2 * bytes || (exact && v.size() != 2 * bytes))
        fail(e.line, e.key + ": " + std::to_string(v.size()) + " digits, " + (exact ? "expected " : "at most ") +
                         std::to_string(2 * bytes));
    Bytes out(bytes, 0xFF);
    for (size_t i = 0; i < v.size(); i++) {
        uint8_t d = static_cast<uint8_t>(v[i] - '0');
        out[i / 2] = i % 2 ? static_cast<uint8_t>((out[i / 2] & 0xF0) | d) : static_cast<uint8_t>((d << 4) | 0x0F);
    }
    return out;
}

// Text as the card stores it (GB18030), at most `bytes` bytes.
Bytes textValue(const Entry &e, size_t bytes) {
    Bytes out;
    if (!utf8ToGb18030(e.value, &out)) fail(e.line, e.key + ": not UTF-8 text that GB18030 can hold");
    if (out.size() > bytes)
        fail(e.line, e.key + ": " + std::to_string(out.size()) + " bytes on the card, at most " + std::to_string(bytes));
    return out;
}

// An amount in fen as four bytes, big-endian.
Bytes amountValue(const Entry &e) {
    const std::string &v = e.value;
    if (v.empty() || v.size() > 10 || v.find_first_not_of("0123456789") != std::string::npos)
        fail(e.line, e.key + ": '" + v + "' is not an amount in fen");
    unsigned long long n = std::stoull(v);
    if (n > 0xFFFFFFFFULL) fail(e.line, e.key + ": amount too large");
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
            static_cast<uint8_t>(n)};
}

std::vector<Section> splitSections(const std::string &text) {
    if (text.size() > kMaxProfileSize) fail(0, "file larger than " + std::to_string(kMaxProfileSize) + " bytes");
    if (text.find('\0') != std::string::npos) fail(0, "file holds a NUL byte: not a text file");
    std::vector<Section> sections;
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        line++;
        if (raw.size() > kMaxProfileLine) fail(line, "line longer than " + std::to_string(kMaxProfileLine) + " characters");
        std::string s = trim(raw);
        if (s.empty() || s[0] == '#') continue;
        if (s[0] == '[') {
            if (s.back() != ']') fail(line, "section header without closing ']'");
            std::string name = trim(s.substr(1, s.size() - 2));
            if (name.empty()) fail(line, "section without a name");
            sections.push_back({name, line, {}});
            continue;
        }
        size_t eq = s.find('=');
        if (eq == std::string::npos) fail(line, "expected 'key = value' or '[section]': '" + s + "'");
        if (sections.empty()) fail(line, "'" + trim(s.substr(0, eq)) + "' before the first [section]");
        Entry e{trim(s.substr(0, eq)), trim(s.substr(eq + 1)), line};
        if (e.key.empty()) fail(line, "a value without a key");
        for (const Entry &other : sections.back().entries)
            if (other.key == e.key)
                fail(line, "'" + e.key + "' given twice in [" + sections.back().name + "] (first on line " +
                               std::to_string(other.line) + ")");
        sections.back().entries.push_back(e);
    }
    return sections;
}

[[noreturn]] void unknownKey(const Entry &e, const std::string &section) {
    fail(e.line, "unknown key '" + e.key + "' in [" + section + "]");
}

void readReader(const Section &s, Profile *p) {
    for (const Entry &e : s.entries) {
        if (e.key != "device-number") unknownKey(e, s.name);
        if (e.value == "none") {
            p->deviceNumber.reset();
        } else if (e.value.compare(0, 4, "hex:") == 0) {
            p->deviceNumber = hexValue({e.key, e.value.substr(4), e.line}, 1, 20);
        } else {
            if (e.value.size() > 20) fail(e.line, "device-number: more than 20 characters");
            for (char c : e.value)
                if (c < 0x20 || c > 0x7E) fail(e.line, "device-number: only printable ASCII (or hex:...)");
            p->deviceNumber = Bytes(e.value.begin(), e.value.end());
        }
        p->deviceNumber->resize(20, 0x00);
    }
}

void readCard(const Section &s, CardProfile *c) {
    const Entry *region = nullptr, *code = nullptr, *triesLeft = nullptr;
    bool versionTextGiven = false;
    for (const Entry &e : s.entries) {
        const std::string &k = e.key, &v = e.value;
        if (k == "slot") {
            if (v == "contact" || v == "01") c->slot = 0x01;
            else if (v == "contactless" || v == "02") c->slot = 0x02;
            else fail(e.line, "slot: expected contact or contactless, not '" + v + "'");
        } else if (k == "version") {
            c->version = intValue(e, 1, 3);
        } else if (k == "version-text") {
            versionTextGiven = true;
            if (v == "zeros") {
                c->versionText = Bytes(4, 0x00);
            } else {
                if (v.size() != 4) fail(e.line, "version-text: expected 4 characters (such as 2.00) or zeros");
                c->versionText = Bytes(v.begin(), v.end());
            }
        } else if (k == "algorithm") {
            c->algorithm = intValue(e, 1, 3);
        } else if (k == "fci") {
            static const std::map<std::string, FciStyle> kStyles = {
                {"indicator", FciStyle::Indicator}, {"tag86", FciStyle::Tag86},   {"neither", FciStyle::Neither},
                {"no-9f0c", FciStyle::No9F0C},      {"no-a5", FciStyle::NoA5},    {"no-6f", FciStyle::No6F},
            };
            if (v.compare(0, 4, "hex:") == 0) {
                c->fciBytes = hexValue({k, v.substr(4), e.line}, 1, 250);
            } else {
                auto it = kStyles.find(v);
                if (it == kStyles.end())
                    fail(e.line, "fci: expected indicator, tag86, neither, no-9f0c, no-a5, no-6f or hex:..., not '" + v + "'");
                c->fciStyle = it->second;
            }
        } else if (k == "fci-value") {
            c->fciValue = intValue(e, 0, 255);
        } else if (k == "atr") {
            c->atr = hexValue(e, 13, 33);
        } else if (k == "region") {
            region = &e;
            digitsValue(e, 3, true);
        } else if (k == "identification-code") {
            code = &e;
            c->identificationCode = hexValue(e, 16, 16);
        } else if (k == "card-type") {
            c->cardType = textValue(e, 1);
        } else if (k == "institution") {
            c->institution = digitsValue(e, 12);
        } else if (k == "issue-date") {
            c->issueDate = digitsValue(e, 4, true);
        } else if (k == "expiry-date") {
            c->expiryDate = digitsValue(e, 4, true);
        } else if (k == "card-number") {
            c->cardNumber = textValue(e, 9);
        } else if (k == "category") {
            c->category = v == "none" ? -1 : hexValue(e, 1, 1)[0];
        } else if (k == "pin") {
            if (packPinDigits(v).empty()) fail(e.line, "pin: expected 4 to 16 digits, not '" + v + "'");
            c->pin = v;
        } else if (k == "pin-tries") {
            c->pinTries = intValue(e, 1, 15);
        } else if (k == "pin-tries-left") {
            triesLeft = &e;
            c->pinTriesLeft = intValue(e, 0, 15);
        } else {
            unknownKey(e, s.name);
        }
    }
    if (triesLeft && c->pinTriesLeft > c->pinTries)
        fail(triesLeft->line, "pin-tries-left: more than the " + std::to_string(c->pinTries) + " tries of the PIN");
    if (!versionTextGiven) {
        std::string t = std::to_string(c->version) + ".00";
        c->versionText = Bytes(t.begin(), t.end());
    }
    Bytes regionBytes = region ? digitsValue(*region, 3, true) : hex("43 01 05");
    if (!code) {
        c->identificationCode = regionBytes;
        Bytes rest = hex("D1 56 00 00 05 00 00 00 00 00 00 00 01");
        c->identificationCode.insert(c->identificationCode.end(), rest.begin(), rest.end());
    } else if (region && !std::equal(regionBytes.begin(), regionBytes.end(), c->identificationCode.begin())) {
        fail(code->line, "identification-code does not begin with the region " + region->value + " (line " +
                             std::to_string(region->line) + ")");
    }
}

void readHolder(const Section &s, CardProfile *c) {
    for (const Entry &e : s.entries) {
        const std::string &k = e.key;
        if (k == "social-security-number") c->socialSecurityNumber = textValue(e, 18);
        else if (k == "name") c->name = textValue(e, 30);
        else if (k == "name-extension") {
            if (c->version == 1) fail(e.line, "name-extension: cards of version 1 have no name extension");
            c->nameExtension = textValue(e, 20);
        } else if (k == "sex") c->sex = textValue(e, 1);
        else if (k == "nation") c->nation = digitsValue(e, 1);
        else if (k == "birthplace") c->birthplace = digitsValue(e, 3);
        else if (k == "birth-date") c->birthDate = digitsValue(e, 4, true);
        else unknownKey(e, s.name);
    }
}

KeyRef keyRefValue(const Entry &e, const std::string &text) {
    Bytes b;
    if (!parseHexText(text, &b) || b.size() != 2)
        fail(e.line, e.key + ": expected a key type byte and a version byte in hexadecimal, such as 48 12");
    return {b[0], b[1]};
}

void readKeys(const Section &s, KeysProfile *k) {
    for (const Entry &e : s.entries) {
        if (e.key == "seed") {
            if (e.value.size() > 200) fail(e.line, "seed: longer than 200 characters");
            k->seed = e.value;
        } else if (e.key == "tries") {
            k->tries = intValue(e, 1, 15);
        } else if (e.key == "internal-key") {
            k->internal = keyRefValue(e, e.value);
        } else if (e.key.compare(0, 4, "key ") == 0) {
            KeyRef ref = keyRefValue(e, e.key.substr(4));
            if (ref.level() < 1 || ref.level() > 3) fail(e.line, e.key + ": the type byte's level must be 1, 2 or 3");
            k->keys.push_back({ref, hexValue(e, 16, 16)});
        } else {
            unknownKey(e, s.name);
        }
    }
}

void readPsam(const Section &s, const Profile &profile, PsamProfile *p) {
    // Without a terminal number of its own, the PSAM sits in the card's
    // region: its number begins with the card's region code.
    p->terminalNumber = profile.card ? Bytes(profile.card->identificationCode.begin(),
                                             profile.card->identificationCode.begin() + 3)
                                     : hex("43 01 05");
    Bytes serial = hex("00 00 01");
    p->terminalNumber->insert(p->terminalNumber->end(), serial.begin(), serial.end());
    for (const Entry &e : s.entries) {
        if (e.key == "slot") {
            Bytes b;
            if (!parseHexText(e.value, &b) || b.size() != 1 || b[0] < 0x11 || b[0] > 0x14)
                fail(e.line, "slot: expected 11, 12, 13 or 14, not '" + e.value + "'");
            p->slot = b[0];
        } else if (e.key == "applications") {
            p->applications.clear();
            if (e.value == "none") continue;
            std::istringstream in(e.value);
            for (std::string w; in >> w;) {
                if (w != "2" && w != "3") fail(e.line, "applications: expected 2, 3 or none, not '" + w + "'");
                p->applications.push_back(w[0] - '0');
            }
        } else if (e.key == "terminal-number") {
            if (e.value == "none") p->terminalNumber.reset();
            else p->terminalNumber = hexValue(e, 6, 6);
        } else {
            unknownKey(e, s.name);
        }
    }
}

// The records of a cyclic file, newest first: hexadecimal records of the
// file's record size separated by ",", at most as many as the file holds.
std::vector<Bytes> cyclicRecords(const Entry &e, const DirFile &file) {
    const DirItem &layout = file.items[0];
    std::vector<Bytes> records;
    std::istringstream in(e.value);
    for (std::string one; std::getline(in, one, ',');) {
        Entry part{e.key, trim(one), e.line};
        records.push_back(hexValue(part, static_cast<size_t>(layout.length), static_cast<size_t>(layout.length)));
    }
    if (records.size() > static_cast<size_t>(layout.occurrences))
        fail(e.line, "'" + e.key + "': " + std::to_string(records.size()) + " records, the file holds at most " +
                         std::to_string(layout.occurrences));
    return records;
}

// "DF01.EF05.21", "DF02.EF05.43:2" (second record of tag 43), "SSSE.EF07",
// "DF04.EF08" (the records of a cyclic file).
void readItems(const Section &s, CardProfile *c) {
    for (const Entry &e : s.entries) {
        ItemSetting item;
        std::string key = e.key;
        size_t colon = key.find(':');
        if (colon != std::string::npos) {
            Entry occ{e.key, key.substr(colon + 1), e.line};
            item.occurrence = intValue(occ, 1, 30);
            key = key.substr(0, colon);
        }
        unsigned df = 0, ef = 0, tag = 0;
        char rest = 0;
        int fields = 0;
        if (key.compare(0, 5, "SSSE.") == 0) {
            fields = sscanf(key.c_str() + 5, "EF%2x.%2x%c", &ef, &tag, &rest) + 1;
        } else {
            fields = sscanf(key.c_str(), "DF%2x.EF%2x.%2x%c", &df, &ef, &tag, &rest);
            if (fields >= 1) df |= 0xDF00;
        }
        if (fields < 2 || fields > 3 || key.size() != (fields == 3 ? 12u : 9u))
            fail(e.line, "'" + e.key + "': expected an item such as DF01.EF05.21, DF02.EF05.43:2 or SSSE.EF07");
        item.df = static_cast<uint16_t>(df);
        item.ef = static_cast<uint16_t>(0xEF00 | ef);
        const DirFile *file = nullptr;
        for (const DirFile &f : cardDirectory(c->version))
            if (f.df == item.df && f.ef == item.ef) file = &f;
        if (!file) fail(e.line, "'" + e.key + "': no such file on a card of version " + std::to_string(c->version));
        if (fields == 2) {
            if (file->structure == kCyclicRecords && colon == std::string::npos)
                item.records = cyclicRecords(e, *file);
            else if (file->structure != kTransparent)
                fail(e.line, "'" + e.key + "': only a transparent or cyclic file takes a value as a whole");
            else
                item.value = hexValue(e, 0, static_cast<size_t>(file->items[0].length));
        } else {
            item.tag = static_cast<int>(tag);
            const DirItem *it = nullptr;
            for (const DirItem &i : file->items)
                if (i.tag == tag) it = &i;
            if (!it || (file->structure != kTlvRecords && file->structure != kFixedRecords))
                fail(e.line, "'" + e.key + "': no such item in that file");
            if (item.occurrence > it->occurrences)
                fail(e.line, "'" + e.key + "': the card holds " + std::to_string(it->occurrences) + " of that item");
            size_t len = static_cast<size_t>(it->length);
            switch (it->kind) {
            case kItemText: item.value = textValue(e, len); break;
            case kItemCn:
            case kItemMoneyCn: item.value = digitsValue(e, len); break;
            case kItemMoneyB: item.value = amountValue(e); break;
            default: item.value = hexValue(e, 0, len); break;
            }
        }
        c->items.push_back(item);
    }
}

// ---- [idcard] ---------------------------------------------------------

// The holder's fields, with the number of characters each kind of card has
// room for (0: the kind has no such field).
struct IdField {
    const char *key;
    std::string IdHolder::*member;
    int resident, permit, permanent;  // "", "J", "I"
    bool digits;                      // decimal digits only
};
const IdField kIdFields[] = {
    {"name", &IdHolder::name, 15, 15, 15, false},
    {"latin-name", &IdHolder::latinName, 0, 0, 60, false},
    {"sex", &IdHolder::sex, 1, 1, 1, false},
    {"ethnic", &IdHolder::ethnic, 2, 0, 0, true},
    {"birth-date", &IdHolder::birth, 8, 8, 8, true},
    {"address", &IdHolder::address, 35, 35, 0, false},
    {"number", &IdHolder::number, 18, 18, 15, false},
    {"authority", &IdHolder::authority, 15, 15, 4, false},
    {"valid-from", &IdHolder::validFrom, 8, 8, 8, true},
    {"valid-to", &IdHolder::validTo, 8, 8, 8, false},
    {"nationality", &IdHolder::nationality, 0, 0, 3, false},
    {"card-version", &IdHolder::version, 0, 0, 2, true},
    {"pass-number", &IdHolder::passNumber, 0, 9, 0, false},
    {"issue-count", &IdHolder::issueCount, 0, 2, 0, true},
};

// Characters of UTF-8 text that the card's 16-bit characters can hold;
// fails for anything else.
size_t idTextLength(const Entry &e) {
    Bytes gb;
    if (!utf8ToGb18030(e.value, &gb)) fail(e.line, e.key + ": not UTF-8 text");
    size_t n = 0;
    for (unsigned char c : e.value) {
        if (c >= 0xF0) fail(e.line, e.key + ": a character that the card's 16-bit characters cannot hold");
        if ((c & 0xC0) != 0x80) n++;
    }
    return n;
}

void readIdCard(const Section &s, IdCardProfile *id) {
    id->holder = IdHolder{};
    IdHolder &h = id->holder;
    h.ethnic.clear();
    h.sex.clear();
    for (const Entry &e : s.entries) {
        if (e.key != "kind") continue;
        if (e.value == "resident") h.kind = "";
        else if (e.value == "I" || e.value == "J") h.kind = e.value;
        else fail(e.line, "kind: expected resident, I or J, not '" + e.value + "'");
    }
    const char *kindName = h.kind.empty() ? "resident" : h.kind.c_str();
    for (const Entry &e : s.entries) {
        if (e.key == "kind") continue;
        if (e.key == "in-field") {
            if (e.value != "yes" && e.value != "no") fail(e.line, "in-field: expected yes or no");
            id->inField = e.value == "yes";
            continue;
        }
        if (e.key == "photo-length") {
            h.photoLength = static_cast<size_t>(intValue(e, 0, 1024));
            continue;
        }
        const IdField *f = nullptr;
        for (const IdField &k : kIdFields)
            if (e.key == k.key) f = &k;
        if (!f) unknownKey(e, s.name);
        int room = h.kind == "I" ? f->permanent : h.kind == "J" ? f->permit : f->resident;
        if (room == 0) fail(e.line, e.key + ": a card of kind " + std::string(kindName) + " has no such field");
        size_t n = idTextLength(e);
        if (n > static_cast<size_t>(room))
            fail(e.line, e.key + ": " + std::to_string(n) + " characters, at most " + std::to_string(room));
        if (f->digits && e.value.find_first_not_of("0123456789") != std::string::npos)
            fail(e.line, e.key + ": '" + e.value + "' holds characters other than digits");
        h.*(f->member) = e.value;
    }
}

// ---- [memory-card] ----------------------------------------------------

void readMemoryCard(const Section &s, MemoryCardProfile *m) {
    for (const Entry &e : s.entries) {
        if (e.key == "key") {
            Bytes k = hexValue(e, 6, 6);
            M1Card::Key key{};
            std::copy(k.begin(), k.end(), key.begin());
            m->key = key;
        } else if (e.key.compare(0, 6, "block ") == 0) {
            std::string n = trim(e.key.substr(6));
            int block = intValue({e.key, n, e.line}, 0, M1Card::kSectors * M1Card::kBlocksPerSector - 1);
            m->blocks.push_back({block, hexValue(e, 1, M1Card::kBlockSize)});
        } else {
            unknownKey(e, s.name);
        }
    }
}

// ---- [keypad] -------------------------------------------------------

void readKeypad(const Section &s, Profile *p) {
    for (const Entry &e : s.entries) {
        if (e.key != "entries") unknownKey(e, s.name);
        std::string error;
        if (!parseKeypadScript(e.value, &p->keypad, &error)) fail(e.line, "entries: " + error);
    }
}

// ---- [payment] ------------------------------------------------------

void readPayment(const Section &s, CardProfile *c) {
    PaymentApplication app;
    for (const Entry &e : s.entries) {
        const std::string &k = e.key, &v = e.value;
        if (k == "account-number") {
            if (v.empty() || v.size() > 19 || v.find_first_not_of("0123456789") != std::string::npos)
                fail(e.line, "account-number: '" + v + "' is not 1 to 19 digits");
            app.accountNumber = packedDigits(v);
        } else if (k == "record") {
            app.record = intValue(e, 1, 255);
        } else if (k == "file") {
            app.file = intValue(e, 1, 30);
        } else if (k == "directory-file") {
            app.directoryFile = intValue(e, 1, 30);
        } else if (k == "aid") {
            app.aid = hexValue(e, 5, 16);
            if (app.aid == ssApplicationName() || app.aid == paymentEnvironmentName())
                fail(e.line, "aid: the name of another application on the card");
        } else if (k == "leave-out") {
            if (v == "none") continue;
            std::istringstream in(v);
            for (std::string w; in >> w;) {
                if (w == "environment") app.environment = false;
                else if (w == "88") app.directoryFileTag = false;
                else if (w == "4F" || w == "4f") app.aidTag = false;
                else if (w == "5A" || w == "5a") app.accountNumberTag = false;
                else fail(e.line, "leave-out: expected environment, 88, 4F, 5A or none, not '" + w + "'");
            }
        } else {
            unknownKey(e, s.name);
        }
    }
    c->payment = app;
}

// ---- [purse] --------------------------------------------------------

// "record N = SERIAL TERMINAL DATE-TIME AMOUNT AMOUNT AMOUNT": 4 and 12
// hexadecimal digits, 14 digits, amounts in fen or none.
Purchase purseRecordValue(const Entry &e) {
    std::istringstream in(e.value);
    std::vector<std::string> w;
    for (std::string t; in >> t;) w.push_back(t);
    if (w.size() != 6)
        fail(e.line, e.key + ": expected serial, terminal number, date and time and three amounts, such as "
                             "0001 430105000007 20240301093000 0 1250 none");
    Purchase p;
    Bytes serial = hexValue({e.key, w[0], e.line}, 2, 2);
    p.serial = static_cast<uint16_t>(serial[0] << 8 | serial[1]);
    p.terminal = hexValue({e.key, w[1], e.line}, 6, 6);
    p.dateTime = digitsValue({e.key, w[2], e.line}, 7, true);
    for (int i = 0; i < 3; i++) {
        if (w[3 + i] == "none") p.amounts[i] = 0xFFFFFFFF;
        else p.amounts[i] = bigEndian(amountValue({e.key, w[3 + i], e.line}).data(), 4);
    }
    return p;
}

void readPurse(const Section &s, CardProfile *c) {
    PurseProfile &pp = c->purse;
    int capacity = 0;
    for (const DirFile &f : cardDirectory(c->version))
        if (f.df == 0xDF04 && f.ef == 0xEF08) capacity = f.items[0].occurrences;
    std::map<int, Purchase> records;
    for (const Entry &e : s.entries) {
        if (e.key == "balance") {
            pp.balance = bigEndian(amountValue(e).data(), 4);
        } else if (e.key == "serial") {
            pp.serial = static_cast<uint16_t>(intValue(e, 0, 65535));
        } else if (e.key == "key-version") {
            pp.keyVersion = hexValue(e, 1, 1)[0];
        } else if (e.key == "algorithm-id") {
            pp.algorithmId = hexValue(e, 1, 1)[0];
        } else if (e.key.compare(0, 7, "record ") == 0) {
            int n = intValue({e.key, trim(e.key.substr(7)), e.line}, 1, capacity);
            records[n] = purseRecordValue(e);
        } else {
            unknownKey(e, s.name);
        }
    }
    int expected = 1;
    for (const auto &r : records) {
        if (r.first != expected)
            fail(s.line, "[purse]: record " + std::to_string(expected) + " missing before record " +
                             std::to_string(r.first));
        pp.records.push_back(r.second);
        expected++;
    }
}

// ---- [scanner] and [stripe] -----------------------------------------

// The most data one answer of the reader carries to the library.
constexpr size_t kMaxModuleAnswer = 4094;

// "refuse = NAME ...": the commands a module refuses, or none.
template <typename Command, size_t N>
std::vector<Command> refusalsValue(const Entry &e, const std::pair<const char *, Command> (&names)[N]) {
    std::vector<Command> out;
    if (e.value == "none") return out;
    std::istringstream in(e.value);
    for (std::string w; in >> w;) {
        bool known = false;
        for (const auto &n : names) {
            if (w != n.first) continue;
            out.push_back(n.second);
            known = true;
        }
        if (!known) {
            std::string all;
            for (const auto &n : names) all += std::string(n.first) + ", ";
            fail(e.line, "refuse: expected " + all + "or none, not '" + w + "'");
        }
    }
    return out;
}

void readScanner(const Section &s, ScannerProfile *sc) {
    using C = QrScanner::Command;
    static const std::pair<const char *, C> kNames[] = {
        {"auto", C::ModeAuto}, {"command", C::ModeCommand}, {"mode", C::ReadMode}, {"scan", C::Scan}, {"led", C::Led}};
    for (const Entry &e : s.entries) {
        if (e.key == "code") {
            if (e.value == "none") {
                sc->code.reset();
            } else if (e.value.compare(0, 4, "hex:") == 0) {
                sc->code = hexValue({e.key, e.value.substr(4), e.line}, 0, kMaxModuleAnswer);
            } else {
                if (e.value.size() > kMaxModuleAnswer)
                    fail(e.line, "code: more than " + std::to_string(kMaxModuleAnswer) + " bytes");
                sc->code = Bytes(e.value.begin(), e.value.end());
            }
        } else if (e.key == "mode") {
            sc->mode = hexValue(e, 1, 1)[0];
        } else if (e.key == "refuse") {
            sc->refusals = refusalsValue(e, kNames);
        } else {
            unknownKey(e, s.name);
        }
    }
}

void readStripe(const Section &s, StripeProfile *st) {
    using C = MagStripe::Command;
    static const std::pair<const char *, C> kNames[] = {{"set", C::SetTracks}, {"setting", C::ReadSetting},
                                                        {"channel", C::Channel}, {"swipe", C::Swipe},
                                                        {"read", C::Read}};
    static const size_t kTrackRoom[3] = {79, 40, 107};
    for (const Entry &e : s.entries) {
        if (e.key == "track1" || e.key == "track2" || e.key == "track3") {
            size_t i = static_cast<size_t>(e.key[5] - '1');
            if (e.value.size() > kTrackRoom[i])
                fail(e.line, e.key + ": more than " + std::to_string(kTrackRoom[i]) + " characters");
            for (char c : e.value)
                if (c < 0x20 || c > 0x7E || c == '|') fail(e.line, e.key + ": only printable ASCII other than '|'");
            st->tracks[i] = e.value;
        } else if (e.key == "tracks") {
            uint8_t t = hexValue(e, 1, 1)[0];
            if (t != 0x02 && t != 0x03 && t != 0x06) fail(e.line, "tracks: expected 02, 03 or 06");
            st->setting = t;
        } else if (e.key == "refuse") {
            st->refusals = refusalsValue(e, kNames);
        } else {
            unknownKey(e, s.name);
        }
    }
}

void interpret(const std::vector<Section> &sections, Profile *p) {
    std::map<std::string, int> seen;
    const Section *card = nullptr;
    for (const Section &s : sections) {
        static const char *const kKnown[] = {"reader", "card",        "holder",  "keys",   "psam",
                                             "items",  "idcard",      "payment", "keypad", "memory-card",
                                             "scanner", "stripe",     "purse"};
        bool known = false;
        for (const char *k : kKnown) known = known || s.name == k;
        if (!known)
            fail(s.line, "unknown section [" + s.name +
                             "] (known: reader, card, holder, keys, psam, items, idcard, memory-card, payment, "
                             "purse, keypad, scanner, stripe)");
        if (s.name != "psam" && seen.count(s.name))
            fail(s.line, "section [" + s.name + "] given twice (first on line " + std::to_string(seen[s.name]) + ")");
        seen[s.name] = s.line;
        if (s.name == "card") card = &s;
    }
    // The card first: what the holder and item values may be depends on its
    // version.
    if (card) {
        p->card = CardProfile{};
        readCard(*card, &*p->card);
    }
    for (const Section &s : sections) {
        if (s.name == "reader") {
            readReader(s, p);
        } else if (s.name == "keys") {
            readKeys(s, &p->keys);
        } else if (s.name == "psam") {
            PsamProfile psam;
            readPsam(s, *p, &psam);
            for (const PsamProfile &other : p->psams)
                if (other.slot == psam.slot) fail(s.line, "two PSAMs in one slot");
            p->psams.push_back(psam);
        } else if (s.name == "holder" || s.name == "items" || s.name == "payment" || s.name == "purse") {
            if (!p->card) fail(s.line, "[" + s.name + "] without a [card]");
            if (s.name == "holder") readHolder(s, &*p->card);
            else if (s.name == "items") readItems(s, &*p->card);
            else if (s.name == "purse") readPurse(s, &*p->card);
            else readPayment(s, &*p->card);
        } else if (s.name == "keypad") {
            readKeypad(s, p);
        } else if (s.name == "idcard") {
            p->idCard = IdCardProfile{};
            readIdCard(s, &*p->idCard);
        } else if (s.name == "memory-card") {
            if (p->card && p->card->slot == 0x02)
                fail(s.line, "[memory-card] in the contactless field, where the [card] is already");
            p->memoryCard = MemoryCardProfile{};
            readMemoryCard(s, &*p->memoryCard);
        } else if (s.name == "scanner") {
            p->scanner = ScannerProfile{};
            readScanner(s, &*p->scanner);
        } else if (s.name == "stripe") {
            p->stripe = StripeProfile{};
            readStripe(s, &*p->stripe);
        }
    }
}

}  // namespace

bool parseProfile(const std::string &text, const std::string &name, Profile *out, std::string *error) {
    try {
        Profile p;
        interpret(splitSections(text), &p);
        *out = std::move(p);
        return true;
    } catch (const Failure &f) {
        *error = f.line ? name + ":" + std::to_string(f.line) + ": " + f.what : name + ": " + f.what;
        return false;
    }
}

bool loadProfile(const std::string &path, Profile *out, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    std::string text;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxProfileSize) {
            *error = path + ": file larger than " + std::to_string(kMaxProfileSize) + " bytes";
            return false;
        }
    }
    return parseProfile(text, path, out, error);
}

const std::string &demoProfileText() {
    static const std::string text(reinterpret_cast<const char *>(kDemoProfileText), kDemoProfileSize);
    return text;
}

Profile demoProfile() {
    Profile p;
    std::string error;
    if (!parseProfile(demoProfileText(), "demo.profile", &p, &error)) {
        fprintf(stderr, "virtual reader: the built-in profile is broken: %s\n", error.c_str());
        abort();
    }
    return p;
}

std::shared_ptr<SsCard> buildCard(const Profile &p) {
    if (!p.card) return nullptr;
    const CardProfile &c = *p.card;
    auto card = std::make_shared<SsCard>(c.version, c.algorithm, c.atr.empty() ? ssAtr() : c.atr);
    int fciValue = c.fciValue >= 0 ? c.fciValue : c.algorithm;
    card->setApplicationFci(c.fciBytes ? *c.fciBytes
                                       : buildFci(c.fciStyle, static_cast<uint8_t>(fciValue), ssApplicationName()));
    auto set = [&card](uint16_t ef, uint8_t tag, const Bytes &v) {
        if (!v.empty()) card->setRecord(0, ef, tag, v);
    };
    set(0xEF05, 0x01, c.identificationCode);
    set(0xEF05, 0x02, c.cardType);
    set(0xEF05, 0x03, c.versionText);
    set(0xEF05, 0x04, c.institution);
    set(0xEF05, 0x05, c.issueDate);
    set(0xEF05, 0x06, c.expiryDate);
    set(0xEF05, 0x07, c.cardNumber);
    set(0xEF06, 0x08, c.socialSecurityNumber);
    set(0xEF06, 0x09, c.name);
    set(0xEF06, 0x4E, c.nameExtension);
    set(0xEF06, 0x0A, c.sex);
    set(0xEF06, 0x0B, c.nation);
    set(0xEF06, 0x0C, c.birthplace);
    set(0xEF06, 0x0D, c.birthDate);
    for (const ItemSetting &i : c.items) {
        if (i.tag < 0 && !i.records.empty())
            for (auto r = i.records.rbegin(); r != i.records.rend(); ++r) card->addCyclicRecord(i.df, i.ef, *r);
        else if (i.tag < 0)
            card->setContent(i.df, i.ef, i.value);
        else card->setRecord(i.df, i.ef, static_cast<uint8_t>(i.tag), i.value, i.occurrence);
    }
    if (c.payment) card->addPaymentApplication(*c.payment);
    card->setPin(c.pin, c.pinTries);
    if (c.pinTriesLeft >= 0) card->setPinTriesLeft(c.pinTriesLeft);
    card->setBalance(c.purse.balance);
    card->setPurseSerial(c.purse.serial);
    card->setPurseKeyVersion(c.purse.keyVersion);
    if (c.purse.algorithmId >= 0) card->setPurchaseAlgorithmId(static_cast<uint8_t>(c.purse.algorithmId));
    for (auto r = c.purse.records.rbegin(); r != c.purse.records.rend(); ++r) card->addPurseRecord(*r);
    card->setInternalKeyRef(p.keys.internal);
    card->installKeys(buildKeys(p, card.get()), p.keys.tries);
    return card;
}

KeySet buildKeys(const Profile &p, const SsCard *card) {
    KeySet keys;
    for (const auto &k : p.keys.keys) keys.set(k.first, k.second);
    std::unique_ptr<SsCard> fallback;
    if (!card) {
        fallback = std::make_unique<SsCard>();
        fallback->setInternalKeyRef(p.keys.internal);
        card = fallback.get();
    }
    for (const KeyRef &r : card->keyReferences()) keys.addFromSeed(p.keys.seed, r);
    return keys;
}

std::shared_ptr<Psam> buildPsam(const PsamProfile &p, const KeySet &keys) {
    auto psam = std::make_shared<Psam>();
    for (int alg : p.applications) psam->addApplication(psamApplicationName(alg), alg);
    psam->setKeys(keys);
    psam->setTerminalNumber(p.terminalNumber);
    return psam;
}

void insertProfile(Reader &reader, const Profile &p) {
    auto device = std::make_shared<ReaderDevice>(p.deviceNumber);
    for (const KeypadEntry &e : p.keypad) device->keypad().queue(e);
    reader.insert(0x00, device);
    auto card = buildCard(p);
    if (card) {
        reader.insert(p.card->slot, card);
        // The reader answers the category probe on the contact slot.
        if (p.card->slot == 0x01) reader.slot(0x01).categoryProbe = p.card->category;
    }
    KeySet keys = buildKeys(p, card.get());
    for (const PsamProfile &ps : p.psams) reader.insert(ps.slot, buildPsam(ps, keys));
    if (p.idCard) {
        auto module = std::make_shared<IdModule>();
        if (p.idCard->inField) module->setCard(p.idCard->holder);
        reader.insert(0x1B, module);
    }
    if (p.memoryCard) {
        auto m1 = std::make_shared<M1Card>();
        if (p.memoryCard->key)
            for (int sector = 0; sector < M1Card::kSectors; ++sector)
                for (int type = 0; type < 2; ++type) m1->setKey(sector, type, *p.memoryCard->key);
        for (const auto &b : p.memoryCard->blocks) m1->setBlock(b.first, b.second);
        reader.insert(0x02, m1);
    }
    if (p.scanner) {
        auto scanner = std::make_shared<QrScanner>();
        scanner->setCode(p.scanner->code);
        scanner->setMode(p.scanner->mode);
        for (QrScanner::Command c : p.scanner->refusals) scanner->refuse(c);
        reader.insert(0x1C, scanner);
    }
    if (p.stripe) {
        auto stripe = std::make_shared<MagStripe>();
        stripe->setTracks(p.stripe->tracks);
        stripe->setSetting(p.stripe->setting);
        for (MagStripe::Command c : p.stripe->refusals) stripe->refuse(c);
        reader.insert(0x1A, stripe);
    }
}

}  // namespace vr
