/* SPDX-License-Identifier: MIT */
// Fixture of the bank-card number and card-type tests: the security
// tests' virtual reader and scripted cards, a scripted card with a payment
// application, and the commands of the payment steps.
#pragma once

#include <cstdio>
#include <string>

#include "cards/ss_payment.h"
#include "cards/user_card.h"
#include "errors/errors.h"
#include "profile.h"
#include "security/security_fixture.h"

namespace banktest {

using namespace sectest;

constexpr const char *kSelectPse = "00 A4 04 00 0E 31 50 41 59 2E 53 59 53 2E 44 44 46 30 31";
constexpr const char *kAid = "F0 11 22 33 44 55 01";
constexpr const char *kSelectAid = "00 A4 04 00 07 F0 11 22 33 44 55 01";
constexpr const char *kReadDirectory = "00 B2 01 0C 00";

// READ RECORD of record r in the file with short identifier f (0: the
// current file), Le 00.
inline std::string readRecord(unsigned r, unsigned f) {
    char c[32];
    snprintf(c, sizeof c, "00 B2 %02X %02X 00", r, f << 3 | 4);
    return c;
}

// The first n reads of the record search on the contact slot: records 1,
// 2, ... and within each the files 0 to 11.
inline Seq searchReads(unsigned n) {
    Seq s;
    for (unsigned r = 1; r <= 255 && s.size() < n; r++)
        for (unsigned f = 0; f <= 11 && s.size() < n; f++) s.push_back(at(1, readRecord(r, f)));
    return s;
}

// Answer of the payment system environment's selection naming the
// directory in `tag88` (or anything else in place of it).
inline std::string pseFci(const std::string &tag88 = "88 01 01") {
    return tlv("6F", tlv("84", "31 50 41 59 2E 53 59 53 2E 44 44 46 30 31") + " " + tlv("A5", tag88));
}
inline std::string directoryRecord(const std::string &aid = kAid) {
    return tlv("70", tlv("61", tlv("4F", aid) + " " + tlv("50", "50 41 59")));
}

// The GB18030 texts of the payment steps.
const std::string kSelectPseFailed = "\xD1\xA1\xD4\xF1PSE\xCA\xA7\xB0\xDC";  // 选择PSE失败
const std::string kNoDirectoryFile =
    "\xB2\xE9\xD5\xD2" "88" "\xB6\xCC\xCE\xC4\xBC\xFE\xB1\xEA\xCA\xBE\xCA\xA7\xB0\xDC";  // 查找88短文件标示失败
const std::string kReadRecordFailed = "\xB6\xC1\xBC\xC7\xC2\xBC\xCA\xA7\xB0\xDC";  // 读记录失败
const std::string kNoAid = "\xB2\xE9\xD5\xD2" "4F AID\xB1\xEA\xCA\xB6\xCA\xA7\xB0\xDC";  // 查找4F AID标识失败
const std::string kSelectApplicationFailed = "\xD1\xA1\xD4\xF1\xD3\xA6\xD3\xC3\xCA\xA7\xB0\xDC";  // 选择应用失败

// A card with a payment application whose records are all missing (6A 83);
// tests add the records they need with card->on(readRecord(r, f), ...).
inline std::shared_ptr<vr::ScriptedCard> makePaymentCard() {
    auto c = std::make_shared<vr::ScriptedCard>();
    c->on("00 B2", "6A 83");
    c->on(kSelectPse, withOk(pseFci()));
    c->on(kReadDirectory, withOk(directoryRecord()));
    c->on(kSelectAid, withOk(tlv("6F", tlv("84", kAid))));
    return c;
}

// The commands up to the record search: the card search's power-on, the
// reset, the environment, the directory and the application.
inline Seq paymentSteps(uint8_t slot = 1) {
    return {at(slot, kPowerOn), at(slot, kPowerOn), at(slot, kSelectPse), at(slot, kReadDirectory),
            at(slot, kSelectAid)};
}

// The demonstration profile with one line replaced.
inline vr::Profile demoWith(const std::string &line, const std::string &replacement) {
    std::string text = vr::demoProfileText();
    size_t at = text.find("\n" + line + "\n");
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos) text.replace(at + 1, line.size(), replacement);
    vr::Profile p;
    std::string error;
    EXPECT_TRUE(vr::parseProfile(text, "demo", &p, &error)) << error;
    return p;
}

class BankCardTest : public SecurityTest {
protected:
    void TearDown() override {
        reader()->onExchange = nullptr;
        SecurityTest::TearDown();
    }
    void insertProfile(const vr::Profile &p) {
        auto r = reader();
        vr::insertProfile(*r, p);
        r->clearTrace();
    }
};

}  // namespace banktest
