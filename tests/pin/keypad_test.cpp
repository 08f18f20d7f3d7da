// SPDX-License-Identifier: MIT
// Keypad entry against the virtual reader's keypad: IputPIN on an opened
// reader (the PIN text, the length rules, the reset after a failed entry
// only) and the exported iGetPassword (its modes, no preparation, no
// padding, the reader closed on every path).
#include "pin_fixture.h"
#include "reader/keypad.h"

namespace pintest {
namespace {

using Keypad = PinTest;

TEST_F(Keypad, PinEntry) {
    struct Row {
        const char *typed;  // keypad script word
        int rc;
        std::string pin;    // the PIN text, or the text of the code
    };
    const std::string tooShort = errorText(-33), timedOut = errorText(-32);
    const Row rows[] = {
        {"123456", 0, "123456"},
        {"12345", 0, "12345F"},
        {"1234", 0, "1234"},
        {"123456789012345", 0, "123456789012345F"},
        {"1234567890123456", 0, "1234567890123456"},
        {"123", -33, tooShort},
        {"12345678901234567", -33, tooShort},
        {"12*456", -33, tooShort},  // a key that is no digit
        {"hex:", -33, tooShort},    // not even the framing
        {"hex:31", -33, tooShort},
        {"timeout", -32, timedOut},
        {"status:6A80", -32, timedOut},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.typed);
        type({row.typed});
        clearTrace();
        GuardedBuffer pin(kPinTextSize);
        EXPECT_EQ(IputPIN(handle, pin.text(), kPromptNewPin), row.rc);
        EXPECT_EQ(pin.str(), row.pin);
        Seq expected{at(0, kPrepare), at(0, kReset), at(0, pinEntry("1B 65"))};
        if (row.rc != 0) expected.push_back(at(0, kReset));
        EXPECT_EQ(seen(), expected);
    }
}

TEST_F(Keypad, KeypadNotReady) {
    type({"123456"});
    device->keypad().setResetStatus(0x6F00);
    char pin[kPinTextSize];
    EXPECT_EQ(IputPIN(handle, pin, kPromptPin), -32);
    EXPECT_EQ(std::string(pin), errorText(-32));
    EXPECT_EQ(seen(), (Seq{at(0, kPrepare), at(0, kReset)}));

    device->keypad().setPreparationStatus(0x6F00);
    clearTrace();
    EXPECT_EQ(IputPIN(handle, pin, kPromptPin), -32);
    EXPECT_EQ(seen(), (Seq{at(0, kPrepare)}));
    EXPECT_EQ(device->keypad().pending(), 1u);
}

TEST_F(Keypad, TextEntryModes) {
    const std::pair<int, const char *> modes[] = {{1, "49"}, {2, "45"}, {3, "65"}, {4, "45"}};
    for (const auto &m : modes) {
        SCOPED_TRACE(m.first);
        type({"Ab3"});
        clearTrace();
        GuardedBuffer text(KESTREL_PASSWORD_SIZE);
        EXPECT_EQ(iGetPassword(m.first, text.text()), 0);
        EXPECT_EQ(text.str(), "Ab3");  // no padding
        EXPECT_EQ(seen(), (Seq{at(0, std::string("00 F9 08 3A 03 00 1B ") + m.second)}));
        EXPECT_EQ(ConvHandle[1], -12);  // opened and closed again
    }
}

TEST_F(Keypad, TextEntryFailures) {
    const std::string readFailed = gb("读取失败");
    const std::string longest(KESTREL_PASSWORD_SIZE - 1, '7');
    struct Row {
        int mode;
        std::string typed;
        long rc;
        std::string text;
        bool sent;
    };
    const Row rows[] = {
        {0, "", -14, errorText(-14), false},
        {5, "", -14, errorText(-14), false},
        {1, "timeout", -6, readFailed, true},
        {1, "hex:", -6, readFailed, true},
        {1, "hex:31", -6, readFailed, true},
        {1, longest + "7", -6, readFailed, true},
        {1, longest, 0, longest, true},
        {1, "hex:3132", 0, "", true},  // framing without keys
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.typed);
        if (row.sent) type({row.typed.c_str()});
        clearTrace();
        GuardedBuffer text(KESTREL_PASSWORD_SIZE);
        EXPECT_EQ(iGetPassword(row.mode, text.text()), row.rc);
        EXPECT_EQ(text.str(), row.text);
        EXPECT_EQ(seen().size(), row.sent ? 1u : 0u);
        // Opened and closed again, or never opened.
        EXPECT_EQ(ConvHandle[1] == -12, row.sent);
    }
    EXPECT_EQ(iGetPassword(1, nullptr), -14);

    bus().plug(vr::UsbVariant::NoReader);
    GuardedBuffer text(KESTREL_PASSWORD_SIZE);
    EXPECT_EQ(iGetPassword(1, text.text()), -11);
    EXPECT_EQ(text.str(), errorText(-11));
}

}  // namespace
}  // namespace pintest
