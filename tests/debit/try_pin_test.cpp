// SPDX-License-Identifier: MIT
// The PIN trial through the virtual reader: the first 6 characters of the
// caller's text verified without the keypad, and the reader state closed
// on every path, so that a pending HSM step sequence ends.
#include "debit_fixture.h"

namespace debittest {
namespace {

using TryPin = DebitTest;

constexpr long kPendingSequence = 1700;

TEST_F(TryPin, FirstSixCharacters) {
    vr::Profile p = pintest::demoWith();
    p.card->pinTries = 5;
    load(p);
    struct Row {
        const char *pin;
        long rc;
        std::string text;
        const char *sent;  // the VERIFY, or nothing
    };
    const Row rows[] = {
        {"654321", -51, pintest::verifyRefused(4), "00 20 00 00 03 65 43 21"},
        {"12345F", -51, pintest::verifyRefused(3), "00 20 00 00 03 12 34 5F"},
        {"1234567890", 0, "", "00 20 00 00 03 12 34 56"},
        {"123456", 0, "", "00 20 00 00 03 12 34 56"},
        {"12345", -14, errorText(-14), nullptr},
        {"12345A", -14, errorText(-14), nullptr},
        {nullptr, -14, errorText(-14), nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.pin ? row.pin : "null");
        clearTrace();
        mHreader = kPendingSequence;
        std::string pin = row.pin ? row.pin : "";
        EXPECT_EQ(iTryPIN(1, row.pin ? &pin[0] : nullptr, out), row.rc);
        EXPECT_EQ(text(), row.text);
        EXPECT_EQ(pinCommands(), row.sent ? Seq{sectest::at(1, row.sent)} : Seq{});
        EXPECT_TRUE(seenOf({"00: "}).empty());  // no keypad
        EXPECT_EQ(mHreader, -11);
        EXPECT_EQ(std::string(logbuf), row.rc == 0 ? "\r\n\r\niTryPIN, in para: 1"
                                                   : "getErrorInf, code:" + std::to_string(row.rc) + ", error info " +
                                                         errorText(static_cast<int>(row.rc)) + "\r\n");
    }
    EXPECT_EQ(card->pinTriesLeft(), 5);
}

TEST_F(TryPin, ClosesTheReaderStateOnEveryPath) {
    char pin[] = "123456";
    struct Row {
        const char *what;
        int iType;
        std::function<void()> setup;
        long rc;
    };
    const Row rows[] = {
        {"card type 0", 0, [] {}, -14},
        {"PIN blocked", 1, [this] { card->setPinTriesLeft(0); }, -52},
        {"no card", 1, [] { reader()->remove(0x01); }, -2},
        {"no reader", 1, [] { bus().plug(vr::UsbVariant::NoReader); }, -11},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        row.setup();
        clearTrace();
        mHreader = kPendingSequence;
        m_pin_verified = 1;
        EXPECT_EQ(iTryPIN(row.iType, pin, out), row.rc);
        EXPECT_EQ(text(), errorText(static_cast<int>(row.rc)));
        EXPECT_EQ(mHreader, -11);
        EXPECT_EQ(m_pin_verified, 0);
        if (row.rc == -14) {
            EXPECT_TRUE(seen().empty());
        }
    }
}

}  // namespace
}  // namespace debittest
