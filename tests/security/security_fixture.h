/* SPDX-License-Identifier: MIT */
// Fixture of the card security and operation tests: a freshly plugged
// virtual reader opened on port USB1, the session and card globals at
// their load-time values, scripted cards to put in its slots, and the
// trace of what the reader received in a compact form.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card.h"
#include "fixture.h"
#include "kestrel.h"
#include "reader/reader.h"
#include "security/security.h"
#include "session/session.h"
#include "session/session_fixture.h"

namespace sectest {

using vr::Bytes;
using vr::hex;
using vr::toHex;

// Commands by name.
constexpr const char *kPowerOn = "00 12 00 00 00";
constexpr const char *kSelectApp = "00 A4 04 00 0F 73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF";
constexpr const char *kSelectSx2 = "00 A4 04 00 0F 73 78 32 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF";
constexpr const char *kSelectSx3 = "00 A4 04 00 0F 73 78 33 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF";
constexpr const char *kSelectEF05 = "00 A4 00 00 02 EF 05";
constexpr const char *kSelectEF06 = "00 A4 00 00 02 EF 06";
constexpr const char *kReadCardId = "00 B2 01 04 12";
constexpr const char *kReadVersion = "00 B2 03 04 06";
constexpr const char *kReadIssue = "00 B2 05 04 06";
constexpr const char *kReadExpiry = "00 B2 06 04 06";
constexpr const char *kReadCardNo = "00 B2 07 04 0B";
constexpr const char *kReadSsn = "00 B2 01 04 14";
constexpr const char *kReadName = "00 B2 02 04 20";
constexpr const char *kReadNameExt = "00 B2 03 04 20";
constexpr const char *kSelectTerminal = "00 A4 00 00 02 00 16";
constexpr const char *kReadTerminal = "00 B0 00 00 06";
constexpr const char *kSelectDF01 = "00 A4 00 00 02 DF 01";
constexpr const char *kGetChallenge = "00 84 00 00 08";
constexpr const char *kDeviceQuery = "00 19 01 01 14";

inline std::string at(uint8_t slot, const std::string &command) {
    char prefix[8];
    snprintf(prefix, sizeof prefix, "%02X: ", slot);
    return prefix + toHex(hex(command));
}

using Seq = std::vector<std::string>;
inline Seq operator+(Seq a, const Seq &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A TLV element with a one-byte length (or 81 and the length from 128 on).
inline std::string tlv(const std::string &tag, const std::string &value) {
    Bytes v = hex(value);
    char len[8];
    if (v.size() < 128)
        snprintf(len, sizeof len, "%02X", static_cast<unsigned>(v.size()));
    else
        snprintf(len, sizeof len, "81 %02X", static_cast<unsigned>(v.size()));
    return tag + " " + len + " " + value;
}

// The application's DF name as the FCI carries it (tag 84).
inline std::string dfNameTlv() { return tlv("84", "73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF"); }

// FCI 6F { 84 name, A5 { 9F0C { inner } } }.
inline std::string fciWith9F0C(const std::string &inner) {
    return tlv("6F", dfNameTlv() + " " + tlv("A5", tlv("9F 0C", inner)));
}

// Hex of a text's bytes.
inline std::string textHex(const std::string &s) {
    return toHex(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}
// A text padded with zero bytes to n bytes, as hex.
inline std::string paddedText(const std::string &s, size_t n) {
    Bytes b(s.begin(), s.end());
    b.resize(n, 0);
    return toHex(b);
}

// What a scripted social-security card holds.
struct CardContent {
    std::string atr = "3B 6C 00 02 86 38 16 3C 4B 45 53 54 52 45 01 02";
    std::string fci = fciWith9F0C("00 01");
    std::string id = "14 01 02 00 00 00 00 86 00 00 00 00 00 12 34 56";  // card identification code
    std::string version = "32 2E 30 30";                                  // "2.00"
    std::string issue = "20 15 06 01";
    std::string expiry = "20 25 06 01";
    std::string cardNo = textHex("A12345678");
    std::string ssn = textHex("110101199001011234");
    std::string name = paddedText("\xD5\xC5\xC8\xFD", 30);  // 张三
    std::string nameExt = paddedText("", 20);
};

inline std::string withOk(const std::string &data) { return data.empty() ? "90 00" : data + " 90 00"; }

// A card answering the commands of the selection and basic read.  Tests
// override single rules with card->on(...): later rules win.
inline std::shared_ptr<vr::ScriptedCard> makeCard(const CardContent &s) {
    auto c = std::make_shared<vr::ScriptedCard>(hex(s.atr));
    c->on("00 A4 04 00 0F", withOk(s.fci));
    c->on(kSelectEF05, "90 00");
    c->on(kSelectEF06, "90 00");
    c->on(kReadCardId, withOk("01 10 " + s.id));
    c->on(kReadVersion, withOk("03 04 " + s.version));
    c->on(kReadIssue, withOk("05 04 " + s.issue));
    c->on(kReadExpiry, withOk("06 04 " + s.expiry));
    c->on(kReadCardNo, withOk("07 09 " + s.cardNo));
    c->on(kReadSsn, withOk("01 12 " + s.ssn));
    c->on(kReadName, withOk("02 1E " + s.name));
    c->on(kReadNameExt, withOk("03 14 " + s.nameExt));
    return c;
}

// The session fixture, with the card security globals also at their
// load-time values.
class SecurityTest : public sessiontest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        m_usercardAlg = 1;
        m_usercardVer = -1;
        std::memset(usrCardCityCOde, 0, sizeof usrCardCityCOde);
    }

    std::shared_ptr<vr::ScriptedCard> insertCard(const CardContent &s = CardContent()) {
        auto c = makeCard(s);
        reader()->insert(0x01, c);
        return c;
    }
    // A card powered as the card search leaves it.
    std::shared_ptr<vr::ScriptedCard> insertPoweredCard(const CardContent &s = CardContent()) {
        auto c = insertCard(s);
        reader()->slot(0x01).powered = true;
        return c;
    }
    std::shared_ptr<vr::ScriptedCard> insertPsam(uint8_t slot = 0x11) {
        auto p = std::make_shared<vr::ScriptedCard>(hex("3B 6C 00 00 50 53 41 4D"));
        reader()->insert(slot, p);
        return p;
    }
    // The reader's own answer to the device-number query.
    void setDeviceNumber(const std::string &answer) {
        auto r = std::make_shared<vr::ScriptedCard>(Bytes{});
        r->on(kDeviceQuery, answer);
        reader()->insert(0x00, r);
    }

    static void clearTrace() { reader()->clearTrace(); }
};

}  // namespace sectest
