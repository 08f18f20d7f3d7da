// SPDX-License-Identifier: MIT
// PIN verification through the virtual reader: iVerifyPIN with the
// keypad and the modelled card, VerifyPIN_JiaoYi and VerifyDefaultPIN on a
// prepared card, the texts and codes a host sees, the APDUs, and the
// card's try counter.
#include "operations/pin.h"
#include "pin_fixture.h"

namespace pintest {
namespace {

using Verify = PinTest;

TEST_F(Verify, KeypadPinAccepted) {
    type({"123456"});
    EXPECT_EQ(iVerifyPIN(1, out), 0);
    EXPECT_EQ(text(), gb("PIN校验成功"));
    using namespace sectest;
    // The modelled card holds back the answer to a command with data.
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kPowerOn), at(1, kSelectApp), at(1, "00 C0 00 00 1D"), at(1, kSelectEF05),
                           at(1, kReadVersion), at(1, kReadCardId), at(0, kPrepare), at(0, kReset),
                           at(0, pinEntry("1B 49")), at(1, "00 20 00 00 03 12 34 56")}));
    EXPECT_EQ(std::string(logbuf), "\r\n\r\niVerifyPIN, in para: 1");
    EXPECT_TRUE(card->pinVerified());
    EXPECT_EQ(m_pin_verified, 0);
    EXPECT_EQ(mHreader, -11);
}

TEST_F(Verify, WrongPinCountsDownToBlocked) {
    for (int left : {2, 1, 0}) {
        type({"654321"});
        EXPECT_EQ(iVerifyPIN(1, out), -51);
        EXPECT_EQ(text(), verifyRefused(left));
        EXPECT_EQ(card->pinTriesLeft(), left);
    }
    EXPECT_EQ(std::string(logbuf), std::string("getErrorInf, code:-51, error info ") + errorText(-51) + "\r\n");
    type({"123456"});
    EXPECT_EQ(iVerifyPIN(1, out), -52);
    EXPECT_EQ(text(), errorText(-52));
    EXPECT_EQ(card->pinTriesLeft(), 0);
}

TEST_F(Verify, OddPinIsPaddedAndSentPacked) {
    load(demoWith(2, "12345"));
    type({"12345"});
    EXPECT_EQ(iVerifyPIN(1, out), 0);
    EXPECT_EQ(pinCommands(), (Seq{at(1, "00 20 00 00 03 12 34 5F")}));
}

TEST_F(Verify, KeypadFailureTextReachesTheCaller) {
    for (const char *typed : {"timeout", "123"}) {
        SCOPED_TRACE(typed);
        type({typed});
        clearTrace();
        long rc = iVerifyPIN(1, out);
        EXPECT_EQ(rc, std::string(typed) == "timeout" ? -32 : -33);
        EXPECT_EQ(text(), errorText(static_cast<int>(rc)));
        EXPECT_TRUE(pinCommands().empty());
        EXPECT_EQ(mHreader, -11);
    }
}

TEST_F(Verify, ArgumentsAndReader) {
    EXPECT_EQ(iVerifyPIN(5, out), -14);
    EXPECT_EQ(text(), errorText(-14));
    EXPECT_EQ(iVerifyPIN(1, nullptr), -14);
    EXPECT_TRUE(seen().empty());
    reader()->remove(0x01);
    EXPECT_EQ(iVerifyPIN(1, out), -2);
    bus().plug(vr::UsbVariant::NoReader);
    EXPECT_EQ(iVerifyPIN(1, out), -11);
    EXPECT_EQ(text(), errorText(-11));
}

TEST_F(Verify, InitialPinRefusedForADebitOnly) {
    load(demoWith(2, "480913"));
    prepare();
    m_pin_verified = 1;  // the verification functions leave the flag alone
    type({"480913", "480913"});
    EXPECT_EQ(VerifyPIN_JiaoYi(handle, out), -35);
    EXPECT_EQ(text(), errorText(-35));
    EXPECT_TRUE(pinCommands().empty());
    EXPECT_EQ(VerifyPIN(handle, out), 0);
    EXPECT_EQ(pinCommands(), (Seq{at(1, "00 20 00 00 03 48 09 13")}));
    EXPECT_EQ(m_pin_verified, 1);

    type({"123456"});
    EXPECT_EQ(VerifyPIN_JiaoYi(handle, out), -51);
    EXPECT_EQ(text(), verifyRefused(2));
}

TEST_F(Verify, DefaultPinFromTheCaller) {
    vr::Profile p = demoWith();
    p.card->pinTries = 5;
    load(p);
    prepare();
    struct Row {
        int len;
        const char *pin;
        int rc;
        const char *sent;  // the VERIFY, or nothing
    };
    const Row rows[] = {
        {5, "12345", -51, "00 20 00 00 03 12 34 5F"},
        {6, "12345F", -51, "00 20 00 00 03 12 34 5F"},
        {4, "123456", -51, "00 20 00 00 02 12 34"},
        {6, "123456", 0, "00 20 00 00 03 12 34 56"},
        {6, "12a456", -14, nullptr},
        {3, "12F", -14, nullptr},
        {7, "123456", -14, nullptr},  // shorter than its length
        {0, "", -14, nullptr},
        {101, "", -14, nullptr},  // 101 digits
        {200, "123456", -14, nullptr},  // a negative char where char is signed
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.len);
        clearTrace();
        std::string pin = row.len == 101 ? std::string(101, '1') : row.pin;
        EXPECT_EQ(VerifyDefaultPIN(handle, static_cast<char>(row.len), &pin[0], out), row.rc);
        EXPECT_EQ(pinCommands(), row.sent ? Seq{at(1, row.sent)} : Seq{});
        if (row.rc == 0 || row.rc == -14) {
            EXPECT_EQ(text(), row.rc == 0 ? "" : errorText(-14));
        }
    }
    EXPECT_TRUE(seenOf({"00: "}).empty());  // no keypad
}

TEST_F(Verify, OtherCardAnswersAreTranslated) {
    auto scripted = insertPoweredCard();
    scripted->on("00 20 00 00", "6A 81");
    type({"123456"});
    EXPECT_EQ(VerifyPIN(handle, out), -27265);
    EXPECT_EQ(text(), errorText(-27265));
}

}  // namespace
}  // namespace pintest
