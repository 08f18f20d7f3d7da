/* SPDX-License-Identifier: MIT */
// Fixture of the PIN tests: the virtual reader opened on USB1 with the
// card, PSAM and reader of a profile (the demonstration profile unless a
// test loads another), the session and card globals at their load-time
// values, what the holder types on the keypad, and the texts of the PIN
// calls in GB18030.
#pragma once

#include <iconv.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "cards/psam.h"
#include "cards/reader_device.h"
#include "cards/ss_card.h"
#include "errors/errors.h"
#include "guarded_buffer.h"
#include "profile.h"
#include "security/security_fixture.h"

namespace pintest {

using sectest::at;
using sectest::Seq;
using vr::Bytes;
using vr::hex;

// UTF-8 text as the library writes it: GB18030.
inline std::string gb(const std::string &utf8) {
    Bytes out;
    EXPECT_TRUE(vr::utf8ToGb18030(utf8, &out)) << utf8;
    return std::string(out.begin(), out.end());
}

inline std::string verifyRefused(int tries) { return gb("PIN校验失败，剩余次数" + std::to_string(tries) + "次"); }
inline std::string changeRefused(int tries) { return gb("PIN修改失败，剩余次数" + std::to_string(tries) + "次"); }

// The demonstration card with another algorithm or PIN.
inline vr::Profile demoWith(int algorithm = 2, const std::string &pin = "123456") {
    vr::Profile p = vr::demoProfile();
    p.card->algorithm = algorithm;
    p.card->pin = pin;
    return p;
}

// The demonstration card's card-info text.
constexpr const char *kCardInfo = "4301" "05D15600000500000000000000" "42|K43000042|";

class PinTest : public sectest::SecurityTest {
protected:
    void SetUp() override {
        SecurityTest::SetUp();
        if (HasFatalFailure()) return;
        load(demoWith());
    }

    // Puts a profile's card, PSAM and reader into the slots (the PSAM with
    // the given master keys instead of the profile's).
    void load(const vr::Profile &p, const vr::KeySet *psamKeys = nullptr) {
        auto r = reader();
        vr::insertProfile(*r, p);
        if (psamKeys) r->insert(p.psams.at(0).slot, vr::buildPsam(p.psams.at(0), *psamKeys));
        card = std::dynamic_pointer_cast<vr::SsCard>(r->slot(p.card->slot).card);
        device = std::dynamic_pointer_cast<vr::ReaderDevice>(r->slot(0x00).card);
        r->clearTrace();
    }

    // What the holder types, entry by entry (keypad script words).
    void type(std::initializer_list<const char *> entries) {
        auto r = reader();
        for (const char *e : entries) {
            std::vector<vr::KeypadEntry> parsed;
            std::string error;
            ASSERT_TRUE(vr::parseKeypadScript(e, &parsed, &error)) << error;
            for (const vr::KeypadEntry &k : parsed) device->keypad().queue(k);
        }
    }

    // The card prepared on the fixture's reader as an exported call leaves
    // it before its operation: powered, the application selected.
    void prepare() {
        ASSERT_EQ(findAndOpenCard(handle, 1), 0);
        int alg = kDefaultAlgorithm;
        char version[5] = {};
        ASSERT_EQ(selectSSSE(handle, &alg, version, false), 0);
        clearTrace();
    }

    // The commands seen that begin with one of the prefixes ("<slot>: <hex>").
    static Seq seenOf(std::initializer_list<std::string> prefixes) {
        Seq out;
        for (const std::string &c : seen())
            if (std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string &p) { return c.rfind(p, 0) == 0; }))
                out.push_back(c);
        return out;
    }
    // The card's PIN commands and the keypad's entries.
    static Seq pinCommands() { return seenOf({"01: 00 20", "01: 80 5E", "01: 84 24"}); }
    static Seq entries() { return seenOf({"00: 00 F9 08"}); }

    std::string text() const { return std::string(out); }

    std::shared_ptr<vr::SsCard> card;
    std::shared_ptr<vr::ReaderDevice> device;
    char out[KESTREL_PIN_OUT_SIZE] = {};
};

// Keypad commands by name.
constexpr const char *kPrepare = "00 F8 00 01 03 00 25 80";
constexpr const char *kReset = "00 F9 00 00 03 1B 43 30";
inline std::string pinEntry(const char *prompt) { return std::string("00 F9 08 3C 03 00 ") + prompt; }

}  // namespace pintest
