// SPDX-License-Identifier: MIT
// Card authentication: the diversification data and its trace, the
// internal authentication checked by the PSAM, and the data collected for
// the host's security module.
#include <algorithm>

#include "security_fixture.h"

namespace sectest {
namespace {

class DivIndex : public SecurityTest {
protected:
    long run() {
        std::memset(atr, 0, sizeof atr);
        std::memset(div, 0, sizeof div);
        atrLen = 0;
        divLen = 0;
        return GetCardDivIndex(handle, atr, &atrLen, div, &divLen);
    }
    unsigned char atr[kAtrBufferSize];
    unsigned int atrLen = 0;
    unsigned char div[kAtrBufferSize];
    unsigned char divLen = 0;
};

TEST_F(DivIndex, BuiltFromTheAnswerToResetAndTheRegion) {
    struct Row {
        std::string id;
        std::string cityText;  // diversification bytes 8 to 23
    };
    const Row rows[] = {
        {"14 01 02", "140102sx140000sh"},
        {"33 05 07", "330500sx330000sh"},  // county digits replaced for this region only
        {"33 01 02", "330100sx330000sh"},
        {"3A BC DE", "3ABCDEsx3A0000sh"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.id);
        CardContent content;
        content.atr = "3B 6C 00 02 86 38 16 3C 4B 45 53 54 52 45 01 02";
        content.id = row.id + " 00 00 00 00 86 00 00 00 00 00 12 34 56";
        insertPoweredCard(content);
        clearTrace();
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(atrLen, 16u);
        EXPECT_EQ(toHex(atr, atrLen), content.atr);
        EXPECT_EQ(divLen, 24);
        EXPECT_EQ(toHex(div, 8), "4B 45 53 54 52 45 01 02");
        EXPECT_EQ(std::string(reinterpret_cast<char *>(div + 8), 16), row.cityText);
        EXPECT_EQ(toHex(div + 24, 4), "00 00 00 00");
        EXPECT_EQ(toHex(usrCardCityCOde, 3), row.id);
        // The trace: "DivIndex: " and the 48 upper-case digits.
        std::string digits = toHex(div, 24);
        digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
        EXPECT_EQ(std::string(logbuf), "DivIndex: " + digits);
        EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadCardId)}));
    }
}

TEST_F(DivIndex, ShortAnswerToResetFillsTheEndOfItsEightBytes) {
    CardContent content;
    content.atr = "3B 02 14 50";
    insertPoweredCard(content);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(atrLen, 4u);
    EXPECT_EQ(toHex(div, 8), "00 00 00 00 3B 02 14 50");
}

TEST_F(DivIndex, Failures) {
    // An answer to reset longer than the caller's buffer is refused.
    CardContent longAtr;
    longAtr.atr = toHex(Bytes(kAtrBufferSize + 1, 0x3B));
    insertPoweredCard(longAtr);
    EXPECT_EQ(run(), -28416);

    struct Row {
        const char *rule;
        const char *answer;
        long rc;
    };
    const Row rows[] = {
        {"00 A4 04 00 0F", "6A 82", -27266},
        {kSelectEF05, "6A 82", -27266},
        {kReadCardId, "6A 83", -27267},
        {kReadCardId, "01 10 14 01 02 90 00", -20},  // identification code cut short
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.rule);
        auto card = insertPoweredCard();
        card->on(row.rule, row.answer);
        std::memset(usrCardCityCOde, 0x77, 3);
        EXPECT_EQ(run(), row.rc);
        EXPECT_EQ(toHex(usrCardCityCOde, 3), "77 77 77");
    }
    reader()->remove(0x01);
    EXPECT_EQ(run(), -25088);
}

// A card and a PSAM for the internal authentication.
class InternalAuthTest : public SecurityTest {
protected:
    void SetUp() override {
        SecurityTest::SetUp();
        if (HasFatalFailure()) return;
        card = insertPoweredCard();
        card->on(kGetChallenge, std::vector<std::string>{"C1 C1 C1 C1 C1 C1 C1 C1 90 00",
                                                         "C2 C2 C2 C2 C2 C2 C2 C2 90 00"});
        card->on("00 88 00 00 10", "E1 E2 E3 E4 E5 E6 E7 E8 90 00");
        psam = insertPsam();
        psam->on(kSelectTerminal, "6A 82");  // no terminal file: only level 3 passes
        psam->on(kSelectDF01, "90 00");
        psam->on(kSelectSx2, "90 00");
        psam->on("BF DE", "90 00");
        psam->on("80 FA 00 00", "E1 E2 E3 E4 E5 E6 E7 E8 90 00");
        div = Bytes(24, 0x5A);
    }
    long run() { return InternalAuth(handle, 0x68, 0x01, div.data(), 24); }

    std::shared_ptr<vr::ScriptedCard> card, psam;
    Bytes div;
};

TEST_F(InternalAuthTest, CardAnswerMatchesThePsam) {
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(seen(), (Seq{at(1, kGetChallenge), at(1, kGetChallenge), at(0x11, kPowerOn), at(0x11, kSelectTerminal),
                           at(0x11, kSelectDF01),
                           at(0x11, "BF DE 68 01 20 " + toHex(Bytes(24, 0x5A)) + " C2 C2 C2 C2 C2 C2 C2 C2"),
                           at(0x11, "80 FA 00 00 08 C1 C1 C1 C1 C1 C1 C1 C1"),
                           at(1, "00 88 00 00 10 C2 C2 C2 C2 C2 C2 C2 C2 C1 C1 C1 C1 C1 C1 C1 C1")}));
}

TEST_F(InternalAuthTest, CardAnswerDiffers) {
    card->on("00 88 00 00 10", "E1 E2 E3 E4 E5 E6 E7 E9 90 00");
    EXPECT_EQ(run(), -21);
    // An answer shorter than 8 bytes proves nothing, even when it is the
    // start of the PSAM's cryptogram and the rest of that is zero bytes.
    psam->on("80 FA 00 00", "E1 E2 E3 00 00 00 00 00 90 00");
    card->on("00 88 00 00 10", "E1 E2 E3 90 00");
    EXPECT_EQ(run(), -21);
    card->on("00 88 00 00 10", "90 00");
    EXPECT_EQ(run(), -21);
    card->on("00 88 00 00 10", "E1 E2 E3 00 00 00 00 00 90 00");
    EXPECT_EQ(run(), 0) << "the same bytes in full are the proof";
    card->on("00 88 00 00 10", "6A 88");
    EXPECT_EQ(run(), -27272);
}

TEST_F(InternalAuthTest, Algorithm2ComparesTheFoldedHalves) {
    m_usercardAlg = 2;
    psam->on("80 FA 00 00", "01 02 03 04 05 06 07 08 E0 E0 E0 E0 E0 E0 E0 E0 90 00");
    card->on("00 88 00 00 10", "E1 E2 E3 E4 E5 E6 E7 E8 90 00");
    EXPECT_EQ(run(), 0);
    Seq s = seen();
    ASSERT_EQ(s.size(), 9u);
    const std::string zeros = toHex(Bytes(8, 0));
    EXPECT_EQ(s[3], at(0x11, kSelectSx2));
    EXPECT_EQ(s[6], at(0x11, "BF DE 68 01 28 " + toHex(Bytes(24, 0x5A)) + " C2 C2 C2 C2 C2 C2 C2 C2 " + zeros));
    EXPECT_EQ(s[7], at(0x11, "80 FA 00 00 10 C1 C1 C1 C1 C1 C1 C1 C1 " + zeros));
    // Only 8 bytes of the PSAM's answer are not a 16-byte result.
    psam->on("80 FA 00 00", "E1 E2 E3 E4 E5 E6 E7 E8 90 00");
    EXPECT_EQ(run(), -28416);
}

TEST_F(InternalAuthTest, PsamErrorsPassThrough) {
    m_usercardAlg = 3;  // the PSAM has no application of algorithm 3
    psam->on(kSelectSx3, "6A 82");
    EXPECT_EQ(run(), -2202);
    m_usercardAlg = 1;
    usrCardCityCOde[0] = 0x14;
    EXPECT_EQ(InternalAuth(handle, 0x48, 0x01, div.data(), 24), -24);  // level 2 against zeros
    card->on(kGetChallenge, "69 85");
    EXPECT_EQ(run(), -27013);
}

class VerifyData : public SecurityTest {
protected:
    void SetUp() override {
        SecurityTest::SetUp();
        if (HasFatalFailure()) return;
        CardContent content;
        content.atr = "3B 6C 00 02 86 38 16 3C 4B 45 53 54 52 45 01 02";
        card = insertPoweredCard(content);
        card->on(kGetChallenge, std::vector<std::string>{
                                    "11 11 11 11 11 11 11 11 90 00", "22 22 22 22 22 22 22 22 90 00",
                                    "33 33 33 33 33 33 33 33 90 00", "44 44 44 44 44 44 44 44 90 00"});
        card->on("00 88 00 00 10", "A1 A2 A3 A4 A5 A6 A7 A8 90 00");
        m_usercardAlg = 2;
    }
    long run() {
        std::memset(out, 0x7E, sizeof out);
        std::memset(answer, 0, sizeof answer);
        return readDataForInternalVerify(handle, out, answer, atr, &atrLen);
    }
    static std::string head() {
        return "140102|028638163C4B45535452450102|02|14010200000000860000000000123456|"
               "2222222222222222|1111111111111111|";
    }
    std::shared_ptr<vr::ScriptedCard> card;
    char out[256];
    unsigned char answer[8];
    unsigned char atr[kAtrBufferSize];
    int atrLen = 0;
};

TEST_F(VerifyData, Version2) {
    m_usercardVer = 2;
    setDeviceNumber(textHex("KST2024060100000017") + " 39 90 00");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(std::string(out), head() + "||KST20240601000000179|");
    EXPECT_EQ(toHex(answer, 8), "A1 A2 A3 A4 A5 A6 A7 A8");
    EXPECT_EQ(atrLen, 16);
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadCardId),
                           at(1, kGetChallenge), at(1, kGetChallenge),
                           at(1, "00 88 00 00 10 22 22 22 22 22 22 22 22 11 11 11 11 11 11 11 11"),
                           at(0, kDeviceQuery)}));
}

TEST_F(VerifyData, Version3AddsTheLaterChallenges) {
    m_usercardVer = 3;
    setDeviceNumber(textHex("KST2024060100000017") + " 39 90 00");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(std::string(out), head() + "4444444444444444|3333333333333333|KST20240601000000179|");
    EXPECT_EQ(seen().size(), 10u);
}

TEST_F(VerifyData, DeviceNumberMissingOrWithNulBytes) {
    m_usercardVer = 1;
    // The 20 bytes go as they are: 20 zero bytes when the reader does not
    // answer, so the text read up to its NUL ends after field 8's "|".
    EXPECT_EQ(run(), 0);
    const std::string h = head() + "||";
    EXPECT_EQ(std::string(out), h);
    EXPECT_EQ(std::string(out, h.size() + 22), h + std::string(20, '\0') + "|" + std::string(1, '\0'));
    card->on(kGetChallenge, std::vector<std::string>{"11 11 11 11 11 11 11 11 90 00",
                                                     "22 22 22 22 22 22 22 22 90 00"});
    setDeviceNumber("4B 53 54 00 31 32 90 00");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(std::string(out, h.size() + 22), h + "KST" + std::string(1, '\0') + "12" + std::string(14, '\0') + "|" + std::string(1, '\0'));
}

TEST_F(VerifyData, Failures) {
    // An internal-authentication answer shorter than 8 bytes is refused
    // as InternalAuth refuses it; the text is not written.
    for (const char *shortAnswer : {"A1 A2 A3 A4 90 00", "90 00"}) {
        card->on(kGetChallenge, "11 11 11 11 11 11 11 11 90 00");
        card->on("00 88 00 00 10", shortAnswer);
        EXPECT_EQ(run(), -21) << shortAnswer;
        EXPECT_EQ(out[0], 0x7E) << shortAnswer;
    }
    card->on("00 88 00 00 10", "69 82");
    EXPECT_EQ(run(), -27010);
    card->on(kGetChallenge, "6A 81");
    EXPECT_EQ(run(), -27265);
    card->on(kReadCardId, "6A 83");
    EXPECT_EQ(run(), -27267);
    EXPECT_EQ(atrLen, 16);  // the answer to reset is kept all the same
}

}  // namespace
}  // namespace sectest
