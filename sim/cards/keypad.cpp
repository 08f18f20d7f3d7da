// SPDX-License-Identifier: MIT
#include "cards/keypad.h"

namespace vr {

namespace {

const Bytes kPrepare = {0x00, 0xF8, 0x00, 0x01, 0x03, 0x00, 0x25, 0x80};
const Bytes kReset = {0x00, 0xF9, 0x00, 0x00, 0x03, 0x1B, 0x43, 0x30};
constexpr uint8_t kEnterKey = 0x0D;

bool isEntry(const Bytes &c) {
    if (c.size() != 8 || c[0] != 0x00 || c[1] != 0xF9 || c[2] != 0x08 || c[4] != 0x03 || c[5] != 0x00) return false;
    if (c[3] == 0x3C) return true;
    return c[3] == 0x3A && c[6] == 0x1B && (c[7] == 0x49 || c[7] == 0x45 || c[7] == 0x65);
}

int nibble(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

// Hexadecimal digits, two to a byte, without blanks.
bool parseHex(const std::string &text, Bytes *out) {
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

}  // namespace

KeypadEntry typedEntry(const std::string &keys) {
    KeypadEntry e;
    e.data.push_back(static_cast<uint8_t>(keys.size()));
    e.data.insert(e.data.end(), keys.begin(), keys.end());
    e.data.push_back(kEnterKey);
    return e;
}

bool parseKeypadScript(const std::string &text, std::vector<KeypadEntry> *out, std::string *error) {
    std::vector<KeypadEntry> entries;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t' || text[i] == ',') {
            i++;
            continue;
        }
        size_t end = text.find_first_of(" \t,", i);
        std::string word = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end == std::string::npos ? text.size() : end;
        KeypadEntry e;
        if (word == "timeout") {
            e.sw = Keypad::kSwTimedOut;
        } else if (word.compare(0, 7, "status:") == 0) {
            Bytes sw;
            if (!parseHex(word.substr(7), &sw) || sw.size() != 2) {
                *error = "'" + word + "': expected status: and a status word of 4 hexadecimal digits";
                return false;
            }
            e.sw = static_cast<uint16_t>(sw[0] << 8 | sw[1]);
        } else if (word.compare(0, 4, "hex:") == 0) {
            if (!parseHex(word.substr(4), &e.data) || e.data.size() > kMaxKeypadEntry) {
                *error = "'" + word + "': expected hex: and up to " + std::to_string(kMaxKeypadEntry) +
                         " bytes in hexadecimal digits";
                return false;
            }
        } else {
            for (char ch : word) {
                if (ch < 0x21 || ch > 0x7E) {
                    *error = "'" + word + "': keys are printable ASCII characters";
                    return false;
                }
            }
            if (word.size() > kMaxKeypadEntry) {
                *error = "an entry of more than " + std::to_string(kMaxKeypadEntry) + " keys";
                return false;
            }
            e = typedEntry(word);
        }
        entries.push_back(e);
    }
    out->insert(out->end(), entries.begin(), entries.end());
    return true;
}

bool Keypad::isKeypadCommand(const Bytes &c) { return c.size() >= 2 && c[0] == 0x00 && (c[1] == 0xF8 || c[1] == 0xF9); }

Bytes Keypad::transmit(const Bytes &c) {
    if (c == kPrepare) return withStatus({}, prepareSw_);
    if (c == kReset) return withStatus({}, resetSw_);
    if (!isEntry(c)) return withStatus({}, 0x6A86);
    if (entries_.empty()) return withStatus({}, kSwTimedOut);
    KeypadEntry e = entries_.front();
    entries_.pop_front();
    return withStatus(e.data, e.sw);
}

}  // namespace vr
