/* SPDX-License-Identifier: MIT */
// Fixture of the session tests: a freshly plugged virtual reader opened on
// port USB1, the session globals at their load-time values, and the trace
// of what the reader received in a compact form.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cards/psam.h"
#include "cards/user_card.h"
#include "fixture.h"
#include "kestrel.h"
#include "reader/reader.h"
#include "session/session.h"

namespace sessiontest {

class SessionTest : public vr::VirtualReaderTest {
protected:
    void SetUp() override {
        VirtualReaderTest::SetUp();
        cardSlot = 0x01;
        psamSlot = 0x11;
        mHreader = 0;
        m_pin_verified = 0;
        savedTimeout_ = kestrel::responseTimeoutMs;
        handle = ICC_Reader_Open("USB1");
        ASSERT_GE(handle, 1650);
        ASSERT_LE(handle, 1999);
    }

    void TearDown() override {
        ICC_Reader_Close(handle);
        kestrel::responseTimeoutMs = savedTimeout_;
        EXPECT_TRUE(reader()->protocolErrors().empty());
    }

    // Exchanges that never get an answer end after this wait.
    static void shortTimeout() { kestrel::responseTimeoutMs = 300; }

    // Every message the reader received, as "<slot>: <bytes>", slot in hex.
    static std::vector<std::string> seen() {
        std::vector<std::string> out;
        auto r = reader();
        for (const auto &e : r->trace()) {
            const vr::SlotInfo *info = vr::slotByNad(e.nad);
            char slot[8];
            snprintf(slot, sizeof slot, "%02X: ", info ? info->slot : 0xEE);
            out.push_back(slot + vr::toHex(e.command));
        }
        return out;
    }

    static std::shared_ptr<vr::UserCard> insertCard(uint8_t slot, vr::Bytes atr) {
        auto card = std::make_shared<vr::UserCard>(std::move(atr));
        reader()->insert(slot, card);
        return card;
    }
    static std::shared_ptr<vr::UserCard> insertContactCard() { return insertCard(0x01, vr::contactAtr()); }
    static std::shared_ptr<vr::UserCard> insertContactlessCard(uint8_t firstByte) {
        return insertCard(0x02, vr::contactlessAnswer(firstByte));
    }

    long handle = 0;

private:
    unsigned int savedTimeout_ = 0;
};

// Commands the tests expect, by name.
constexpr const char *kPowerOn = "00 12 00 00 00";
constexpr const char *kCardStatus = "00 14 00 00 00";
constexpr const char *kPsamStatus = "00 16 00 00 00";

inline std::string at(uint8_t slot, const std::string &command) {
    char prefix[8];
    snprintf(prefix, sizeof prefix, "%02X: ", slot);
    return prefix + command;
}

}  // namespace sessiontest
