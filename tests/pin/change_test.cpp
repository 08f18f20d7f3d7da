// SPDX-License-Identifier: MIT
// PIN change through the virtual reader: the three keypad entries, the
// CHANGE PIN command, the card's PIN afterwards, and each refusal.
#include "pin_fixture.h"

namespace pintest {
namespace {

using Change = PinTest;

TEST_F(Change, NewPinReplacesTheOld) {
    type({"123456", "654321", "654321"});
    EXPECT_EQ(iChangePIN(1, out), 0);
    EXPECT_EQ(text(), gb("PIN修改成功"));
    EXPECT_EQ(entries(), (Seq{at(0, pinEntry("1B 69")), at(0, pinEntry("1B 65")), at(0, pinEntry("1B 45"))}));
    EXPECT_EQ(pinCommands(), (Seq{at(1, "80 5E 01 00 07 12 34 56 FF 65 43 21")}));
    EXPECT_EQ(std::string(logbuf), "\r\n\r\niChangePIN, in para: 1");
    EXPECT_EQ(card->pin(), "654321");

    // A PIN of another length, padded.
    type({"654321", "12345", "12345"});
    EXPECT_EQ(iChangePIN(1, out), 0);
    EXPECT_EQ(pinCommands().back(), at(1, "80 5E 01 00 07 65 43 21 FF 12 34 5F"));
    type({"12345"});
    EXPECT_EQ(iVerifyPIN(1, out), 0);
}

TEST_F(Change, Refusals) {
    struct Row {
        const char *what;
        std::initializer_list<const char *> typed;
        long rc;
        std::string text;
        size_t entries;  // keypad entries asked for
        bool sent;       // CHANGE PIN reached the card
    };
    const Row rows[] = {
        {"repetition differs", {"123456", "654321", "654320"}, -34, errorText(-34), 3, false},
        {"repetition differs from the initial PIN", {"123456", "480913", "654321"}, -34, errorText(-34), 3, false},
        {"initial PIN", {"123456", "480913", "480913"}, -36, errorText(-36), 3, false},
        {"new PIN times out", {"123456", "timeout"}, -32, errorText(-32), 2, false},
        {"old PIN too short", {"123"}, -33, errorText(-33), 1, false},
        {"wrong old PIN", {"111111", "654321", "654321"}, -51, changeRefused(2), 3, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        type(row.typed);
        clearTrace();
        EXPECT_EQ(iChangePIN(1, out), row.rc);
        EXPECT_EQ(text(), row.text);
        EXPECT_EQ(entries().size(), row.entries);
        EXPECT_EQ(pinCommands().size(), row.sent ? 1u : 0u);
        EXPECT_EQ(card->pin(), "123456");
    }
}

TEST_F(Change, BlockedPin) {
    vr::Profile p = demoWith();
    p.card->pinTriesLeft = 0;
    load(p);
    type({"123456", "654321", "654321"});
    EXPECT_EQ(iChangePIN(1, out), -52);
    EXPECT_EQ(text(), errorText(-52));
    EXPECT_EQ(card->pin(), "123456");
}

}  // namespace
}  // namespace pintest
