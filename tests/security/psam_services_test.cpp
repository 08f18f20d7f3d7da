// SPDX-License-Identifier: MIT
// The PSAM services: preparation of the PSAM (application by algorithm,
// terminal number, DF01), key initialisation with the region check and
// the fallback on 6A88, encryption, MAC padding and folding, external
// authentication, the simplified exported variants, and file selection.
#include "security_fixture.h"

namespace sectest {
namespace {

// 24 bytes of diversification data A0 A1 .. B7.
Bytes divBytes() {
    Bytes d(24);
    for (size_t i = 0; i < d.size(); i++) d[i] = static_cast<uint8_t>(0xA0 + i);
    return d;
}
std::string divHex(size_t n) {
    Bytes d = divBytes();
    d.resize(n);
    return toHex(d);
}

class PsamServices : public SecurityTest {
protected:
    void SetUp() override {
        SecurityTest::SetUp();
        if (HasFatalFailure()) return;
        freshPsam();
        const unsigned char region[3] = {0x14, 0x01, 0x02};
        std::memcpy(usrCardCityCOde, region, 3);
        div = divBytes();
    }

    // A PSAM in slot 0x11 of region 14 01 02 that answers every step.
    void freshPsam() {
        psam = insertPsam();
        psam->on(kSelectTerminal, "90 00");
        psam->on(kReadTerminal, "14 01 02 00 00 01 90 00");
        psam->on(kSelectDF01, "90 00");
        psam->on(kSelectSx2, "6F 00 90 00");
        psam->on(kSelectSx3, "6F 00 90 00");
        psam->on("BF DE", "90 00");
        psam->on("80 FA 00 00", "E1 E2 E3 E4 E5 E6 E7 E8 90 00");
        psam->on("80 FA 05 00", "4D 41 43 31 90 00");
    }

    long des(unsigned char keyType, const Bytes &data, const Bytes &random) {
        Bytes d = data, r = random;
        outLen = 0;
        std::memset(out, 0, sizeof out);
        return PSAMDes(handle, keyType, 0x09, div.data(), 24, d.data(), static_cast<unsigned char>(d.size()), out,
                       &outLen, r.data(), static_cast<unsigned int>(r.size()));
    }
    long mac(unsigned char keyType, const Bytes &iv, const Bytes &data, const Bytes &random) {
        Bytes i = iv, d = data, r = random;
        std::memset(macOut, 0xEE, sizeof macOut);
        return PSAMMAC(handle, keyType, 0x09, div.data(), 24, i.data(), d.data(), static_cast<long>(d.size()),
                       macOut, r.data(), static_cast<unsigned int>(r.size()));
    }
    // The PSAM's part of a preparation up to DF01 for algorithm 1.
    static Seq preparation() {
        return {at(0x11, kPowerOn), at(0x11, kSelectTerminal), at(0x11, kReadTerminal), at(0x11, kSelectDF01)};
    }

    std::shared_ptr<vr::ScriptedCard> psam;
    Bytes div;
    unsigned char out[kPsamAnswerSize];
    unsigned int outLen = 0;
    unsigned char macOut[kMacBufferSize];
};

TEST(VerifyKeyLevel, RegionRules) {
    struct Row {
        unsigned char level;
        const char *city;
        const char *terminal;
        int rc;
    };
    const Row rows[] = {
        {1, "14 01 02", "14 01 02 00 00 01", 0},
        {1, "14 01 02", "14 01 03 00 00 01", -24},
        {1, "14 01 02", "15 01 02 00 00 01", -24},
        {2, "14 01 02", "14 09 09 00 00 01", 0},
        {2, "14 01 02", "15 01 02 00 00 01", -24},
        {3, "14 01 02", "00 00 00 00 00 00", 0},
        {3, "14 01 02", "99 99 99 99 99 99", 0},
        {0, "14 01 02", "14 01 02 00 00 01", -24},
        {4, "14 01 02", "14 01 02 00 00 01", -24},
        {7, "14 01 02", "14 01 02 00 00 01", -24},
        {2, "00 01 02", "00 00 00 00 00 00", 0},
    };
    for (const Row &row : rows) {
        Bytes c = hex(row.city), t = hex(row.terminal);
        EXPECT_EQ(VerifyKeyLevel(row.level, c.data(), t.data()), row.rc)
            << int(row.level) << " " << row.city << " " << row.terminal;
    }
}

TEST_F(PsamServices, EncryptWithAlgorithm1) {
    Bytes data = hex("01 02 03 04 05 06 07 08"), random = hex("11 12 13 14 15 16 17 18");
    EXPECT_EQ(des(0x48, data, random), 0);
    EXPECT_EQ(outLen, 8u);
    EXPECT_EQ(toHex(out, outLen), "E1 E2 E3 E4 E5 E6 E7 E8");
    EXPECT_EQ(seen(), (preparation() + Seq{at(0x11, "BF DE 48 09 18 " + divHex(16) + " 11 12 13 14 15 16 17 18"),
                                          at(0x11, "80 FA 00 00 08 01 02 03 04 05 06 07 08")}));
}

TEST_F(PsamServices, ApplicationOfTheAlgorithm) {
    for (int alg : {2, 3}) {
        clearTrace();
        m_usercardAlg = alg;
        EXPECT_EQ(des(0x28, Bytes(16, 0x01), Bytes(16, 0x02)), 0);
        Seq s = seen();
        ASSERT_GE(s.size(), 2u);
        EXPECT_EQ(s[1], at(0x11, alg == 2 ? kSelectSx2 : kSelectSx3));
        EXPECT_EQ(s[5], at(0x11, "BF DE 28 09 18 " + divHex(8) + " " + toHex(Bytes(16, 0x02))));
    }
    // Algorithm 1 and any value other than 2 and 3 select nothing.
    for (int alg : {1, 0, 4}) {
        clearTrace();
        m_usercardAlg = alg;
        EXPECT_EQ(des(0x28, Bytes(8, 0x01), Bytes(8, 0x02)), 0);
        EXPECT_EQ(seen()[1], at(0x11, kSelectTerminal));
    }
}

TEST_F(PsamServices, ApplicationMissing) {
    psam->on(kSelectSx3, "6A 82");
    m_usercardAlg = 3;
    EXPECT_EQ(des(0x28, Bytes(16, 1), Bytes(16, 2)), -2202);
    EXPECT_EQ(seen(), (Seq{at(0x11, kPowerOn), at(0x11, kSelectSx3)}));
}

TEST_F(PsamServices, RegionRefusesTheLevelBeforeAnyKeyInitialisation) {
    psam->on(kReadTerminal, "15 01 02 00 00 01 90 00");  // other province
    EXPECT_EQ(des(0x48, Bytes(8, 1), Bytes(8, 2)), -24);
    EXPECT_EQ(seen(), preparation());
}

TEST_F(PsamServices, MissingKeyFallsBackOneLevel) {
    psam->on("BF DE 48", "6A 88");
    EXPECT_EQ(des(0x48, Bytes(8, 1), Bytes(8, 2)), 0);
    EXPECT_EQ(seen(), (preparation() + Seq{at(0x11, "BF DE 48 09 18 " + divHex(16) + " " + toHex(Bytes(8, 2))),
                                          at(0x11, "BF DE 28 09 10 " + divHex(8) + " " + toHex(Bytes(8, 2))),
                                          at(0x11, "80 FA 00 00 08 " + toHex(Bytes(8, 1)))}));
}

TEST_F(PsamServices, NoKeyDownToLevel1) {
    psam->on("BF DE", "6A 88");
    EXPECT_EQ(des(0x48, Bytes(8, 1), Bytes(8, 2)), -24);
    Seq s = seen();
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[5].rfind(at(0x11, "BF DE 28 09 10"), 0), 0u);
}

TEST_F(PsamServices, Level3WithoutTerminalFile) {
    psam->on(kSelectTerminal, "6A 82");
    psam->on("BF DE 68", "6A 88");
    // Level 3 passes the check against six zero bytes; level 2 does not.
    EXPECT_EQ(des(0x68, Bytes(8, 1), Bytes(8, 2)), -24);
    EXPECT_EQ(seen(), (Seq{at(0x11, kPowerOn), at(0x11, kSelectTerminal), at(0x11, kSelectDF01),
                           at(0x11, "BF DE 68 09 20 " + divHex(24) + " " + toHex(Bytes(8, 2)))}));
    // A card of region 00 passes level 2 against the zeros.
    std::memset(usrCardCityCOde, 0, 3);
    clearTrace();
    EXPECT_EQ(des(0x68, Bytes(8, 1), Bytes(8, 2)), 0);
    EXPECT_EQ(seen().size(), 6u);
}

TEST_F(PsamServices, LevelZeroSendsNoKeyInitialisation) {
    EXPECT_EQ(des(0x08, Bytes(8, 1), Bytes(8, 2)), 0);
    EXPECT_EQ(seen(), (preparation() + Seq{at(0x11, "80 FA 00 00 08 " + toHex(Bytes(8, 1)))}));
}

TEST_F(PsamServices, LevelsAboveThreeAreRefused) {
    EXPECT_EQ(des(0xE8, Bytes(8, 1), Bytes(8, 2)), -24);
    EXPECT_EQ(seen(), preparation());
}

TEST_F(PsamServices, FailingPreparationSteps) {
    struct Row {
        const char *rule;
        const char *answer;
        long rc;
    };
    const Row rows[] = {
        {kReadTerminal, "69 82", -27010},
        {kSelectDF01, "6A 82", -27266},
        {"BF DE", "69 85", -27013},
        {"80 FA 00 00", "69 88", -27016},
        {"80 FA 00 00", "63 C1", -25537},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.rule);
        freshPsam();
        psam->on(row.rule, row.answer);
        EXPECT_EQ(des(0x28, Bytes(8, 1), Bytes(8, 2)), row.rc);
    }
}

TEST_F(PsamServices, NoPsam) {
    reader()->remove(0x11);
    EXPECT_EQ(des(0x28, Bytes(8, 1), Bytes(8, 2)), -28416);
}

TEST_F(PsamServices, ArgumentsThatDoNotFitOneCommand) {
    // The reader passes PSAM commands of up to 255 bytes: key
    // initialisation of level 3 leaves room for 226 random bytes.
    EXPECT_EQ(des(0x68, Bytes(8, 1), Bytes(227, 2)), -14);
    EXPECT_EQ(des(0x68, Bytes(251, 1), Bytes(8, 2)), -14);
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(des(0x68, Bytes(8, 1), Bytes(226, 2)), 0);
    EXPECT_EQ(des(0x68, Bytes(250, 1), Bytes(8, 2)), 0);
    clearTrace();
    unsigned int len = 0;
    EXPECT_EQ(PSAMDes(handle, 0x28, 9, nullptr, 24, out, 8, out, &len, out, 8), -14);
    EXPECT_EQ(PSAMDes(handle, 0x28, 9, div.data(), 24, out, 0, out, &len, out, 8), -14);
    EXPECT_TRUE(seen().empty());
}

TEST_F(PsamServices, MacPadding) {
    struct Row {
        size_t dataLen;
        std::string padded;
    };
    const Row rows[] = {
        {5, "01 01 01 01 01 80 00 00"},
        {7, "01 01 01 01 01 01 01 80"},
        {8, "01 01 01 01 01 01 01 01 80 00 00 00 00 00 00 00"},
        {0, "80 00 00 00 00 00 00 00"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.dataLen);
        clearTrace();
        Bytes iv = hex("10 20 30 40 50 60 70 80");
        EXPECT_EQ(mac(0x28, iv, Bytes(row.dataLen, 1), Bytes(8, 2)), 0);
        size_t lc = 8 + hex(row.padded).size();
        char lcHex[4];
        snprintf(lcHex, sizeof lcHex, "%02X", static_cast<unsigned>(lc));
        Seq s = seen();
        ASSERT_EQ(s.size(), 6u);
        EXPECT_EQ(s[5], at(0x11, std::string("80 FA 05 00 ") + lcHex + " 10 20 30 40 50 60 70 80 " + row.padded));
        EXPECT_EQ(toHex(macOut, 4), "4D 41 43 31");
    }
}

TEST_F(PsamServices, MacWithAlgorithm2UsesSixteenByteBlocksAndFolds) {
    m_usercardAlg = 2;
    psam->on("80 FA 05 00", "01 02 03 04 05 06 07 08 10 20 30 40 50 60 70 80 90 00");
    // The random data is 16 bytes whatever its length says: an 8-byte
    // challenge travels with eight zero bytes, and nothing past the
    // caller's 8 bytes is read.
    Bytes random = hex("A1 A2 A3 A4 A5 A6 A7 A8 00 00 00 00 00 00 00 00");
    Bytes r = hex("A1 A2 A3 A4 A5 A6 A7 A8");
    Bytes iv(16, 0), data = hex("84 24 00 00 04");
    EXPECT_EQ(PSAMMAC(handle, 0x28, 0x09, div.data(), 24, iv.data(), data.data(), 5, macOut, r.data(), 8), 0);
    Seq s = seen();
    ASSERT_EQ(s.size(), 7u);
    EXPECT_EQ(s[1], at(0x11, kSelectSx2));
    EXPECT_EQ(s[5], at(0x11, "BF DE 28 09 18 " + divHex(8) + " " + toHex(random)));
    EXPECT_EQ(s[6], at(0x11, "80 FA 05 00 20 " + toHex(Bytes(16, 0)) + " 84 24 00 00 04 80 " + toHex(Bytes(10, 0))));
    EXPECT_EQ(toHex(macOut, 8), "11 22 33 44 55 66 77 88");
}

TEST_F(PsamServices, MacAnswersThatAreNoMac) {
    const char *answers[] = {"01 02 03 90 00", "90 00", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 90 00"};
    for (const char *a : answers) {
        psam->on("80 FA 05 00", a);
        EXPECT_EQ(mac(0x28, Bytes(8, 0), Bytes(5, 1), Bytes(8, 2)), -28416) << a;
    }
    // Algorithm 2 needs the 16 bytes that it folds.
    m_usercardAlg = 2;
    psam->on("80 FA 05 00", "01 02 03 04 05 06 07 08 90 00");
    EXPECT_EQ(mac(0x28, Bytes(16, 0), Bytes(5, 1), Bytes(16, 2)), -28416);
}

TEST_F(PsamServices, MacDataTooLongToPad) {
    // B = 8: 239 bytes pad to 240 and fit with the initial value; 240 do not.
    EXPECT_EQ(mac(0x08, Bytes(8, 0), Bytes(239, 1), Bytes(8, 2)), 0);
    clearTrace();
    EXPECT_EQ(mac(0x08, Bytes(8, 0), Bytes(240, 1), Bytes(8, 2)), -14);
    // B = 16: 223 bytes pad to 224; 224 would need 240.
    m_usercardAlg = 2;
    EXPECT_EQ(mac(0x08, Bytes(16, 0), Bytes(224, 1), Bytes(16, 2)), -14);
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(mac(0x08, Bytes(16, 0), Bytes(223, 1), Bytes(16, 2)), -28416);  // the 4-byte answer is no 16-byte MAC
    Bytes iv(16, 0);
    EXPECT_EQ(PSAMMAC(handle, 0x08, 9, div.data(), 24, iv.data(), iv.data(), -1, macOut, iv.data(), 16), -14);
}

class ExternalAuth : public PsamServices {
protected:
    void SetUp() override {
        PsamServices::SetUp();
        if (HasFatalFailure()) return;
        card = insertPoweredCard();
        card->on(kGetChallenge, std::vector<std::string>{"C1 C1 C1 C1 C1 C1 C1 C1 90 00",
                                                         "C2 C2 C2 C2 C2 C2 C2 C2 90 00"});
        card->on("00 82 00", "90 00");
    }
    std::shared_ptr<vr::ScriptedCard> card;
};

TEST_F(ExternalAuth, CryptogramOfTheFirstChallengeAndTheFirstChallenge) {
    EXPECT_EQ(PSAMExterAuth(handle, 0x06, 0x48, 0x10, div.data(), 24), 0);
    EXPECT_EQ(seen(), (Seq{at(1, kGetChallenge), at(1, kGetChallenge)} + preparation() +
                       Seq{at(0x11, "BF DE 48 10 18 " + divHex(16) + " C2 C2 C2 C2 C2 C2 C2 C2"),
                           at(0x11, "80 FA 00 00 08 C1 C1 C1 C1 C1 C1 C1 C1"),
                           at(1, "00 82 00 06 10 E1 E2 E3 E4 E5 E6 E7 E8 C1 C1 C1 C1 C1 C1 C1 C1")}));
}

TEST_F(ExternalAuth, Algorithm2PadsTheChallengesAndFoldsTheCryptogram) {
    m_usercardAlg = 2;
    psam->on("80 FA 00 00", "01 02 03 04 05 06 07 08 F0 F0 F0 F0 F0 F0 F0 F0 90 00");
    EXPECT_EQ(PSAMExterAuth(handle, 0x0A, 0x28, 0x01, div.data(), 24), 0);
    Seq s = seen();
    ASSERT_EQ(s.size(), 10u);
    const std::string zeros = toHex(Bytes(8, 0));
    EXPECT_EQ(s[7], at(0x11, "BF DE 28 01 18 " + divHex(8) + " C2 C2 C2 C2 C2 C2 C2 C2 " + zeros));
    EXPECT_EQ(s[8], at(0x11, "80 FA 00 00 10 C1 C1 C1 C1 C1 C1 C1 C1 " + zeros));
    EXPECT_EQ(s[9], at(1, "00 82 00 0A 10 F1 F2 F3 F4 F5 F6 F7 F8 C1 C1 C1 C1 C1 C1 C1 C1"));
}

TEST_F(ExternalAuth, CardRejectsTheTerminal) {
    card->on("00 82 00", "63 C1");
    EXPECT_EQ(PSAMExterAuth(handle, 0x06, 0x48, 0x10, div.data(), 24), -25537);
    card->on("00 82 00", "69 88");
    EXPECT_EQ(PSAMExterAuth(handle, 0x06, 0x48, 0x10, div.data(), 24), -27016);
}

TEST_F(ExternalAuth, FailuresBeforeTheAuthentication) {
    card->on(kGetChallenge, "6D 00");
    EXPECT_EQ(PSAMExterAuth(handle, 0x06, 0x48, 0x10, div.data(), 24), -27904);
    // A challenge shorter than 8 bytes is no challenge.
    card->on(kGetChallenge, "C1 C1 C1 C1 90 00");
    EXPECT_EQ(PSAMExterAuth(handle, 0x06, 0x48, 0x10, div.data(), 24), -28416);
    card->on(kGetChallenge, "C1 C1 C1 C1 C1 C1 C1 C1 90 00");
    // The PSAM's errors pass through unchanged, and nothing reaches the card.
    psam->on(kReadTerminal, "15 01 02 00 00 01 90 00");
    clearTrace();
    EXPECT_EQ(PSAMExterAuth(handle, 0x06, 0x48, 0x10, div.data(), 24), -24);
    EXPECT_EQ(seen().back(), at(0x11, kSelectDF01));
    // A cryptogram shorter than a block.
    psam->on(kReadTerminal, "14 01 02 00 00 01 90 00");
    psam->on("80 FA 00 00", "E1 E2 E3 90 00");
    clearTrace();
    EXPECT_EQ(PSAMExterAuth(handle, 0x06, 0x48, 0x10, div.data(), 24), -28416);
    EXPECT_EQ(seen().back(), at(0x11, "80 FA 00 00 08 C1 C1 C1 C1 C1 C1 C1 C1"));
}

TEST_F(PsamServices, Des2SendsTheTypeByteUnchangedAndReturnsStatusWords) {
    m_usercardAlg = 3;  // not looked at
    Bytes data(8, 1), random(8, 2);
    unsigned int len = 0;
    EXPECT_EQ(PSAMDes2(handle, 0x48, 0x09, div.data(), 24, data.data(), 8, out, &len, random.data(), 8), 0);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(seen(), (Seq{at(0x11, kPowerOn), at(0x11, kSelectDF01),
                           at(0x11, "BF DE 48 09 18 " + divHex(16) + " " + toHex(random)),
                           at(0x11, "80 FA 00 00 08 " + toHex(data))}));
    // No fallback: the PSAM's status word comes back as it is.
    psam->on("BF DE", "6A 88");
    EXPECT_EQ(PSAMDes2(handle, 0x48, 0x09, div.data(), 24, data.data(), 8, out, &len, random.data(), 8), 0x6A88);
    psam->on(kSelectDF01, "6A 82");
    EXPECT_EQ(PSAMDes2(handle, 0x48, 0x09, div.data(), 24, data.data(), 8, out, &len, random.data(), 8), 0x6A82);
    reader()->remove(0x11);
    EXPECT_EQ(PSAMDes2(handle, 0x48, 0x09, div.data(), 24, data.data(), 8, out, &len, random.data(), 8), 0x6F00);
    // Arguments that the command cannot carry.
    EXPECT_EQ(PSAMDes2(handle, 0x48, 0x09, div.data(), 24, data.data(), 256, out, &len, random.data(), 8), -14);
    EXPECT_EQ(PSAMDes2(handle, 0x88, 0x09, div.data(), 24, data.data(), 8, out, &len, random.data(), 8), -24);
}

TEST_F(PsamServices, Mac2AlwaysUsesTheAlgorithm3ApplicationAndEightByteBlocks) {
    m_usercardAlg = 1;
    psam->on("80 FA 05 00", "01 02 03 04 05 06 07 08 90 00");
    Bytes iv(8, 0x33), data(9, 1), random(8, 2);
    EXPECT_EQ(PSAMMAC2(handle, 0x28, 0x09, div.data(), 24, iv.data(), data.data(), 9, macOut, random.data(), 8), 0);
    EXPECT_EQ(toHex(macOut, 8), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(seen(), (Seq{at(0x11, kPowerOn), at(0x11, kSelectSx3), at(0x11, kSelectDF01),
                           at(0x11, "BF DE 28 09 10 " + divHex(8) + " " + toHex(random)),
                           at(0x11, "80 FA 05 00 18 " + toHex(iv) + " " + toHex(data) + " 80 " + toHex(Bytes(6, 0)))}));
    // No folding of a 16-byte answer.
    psam->on("80 FA 05 00", "01 02 03 04 05 06 07 08 10 20 30 40 50 60 70 80 90 00");
    EXPECT_EQ(PSAMMAC2(handle, 0x28, 0x09, div.data(), 24, iv.data(), data.data(), 9, macOut, random.data(), 8), 0);
    EXPECT_EQ(toHex(macOut, 16), "01 02 03 04 05 06 07 08 10 20 30 40 50 60 70 80");
    psam->on("80 FA 05 00", "69 85");
    EXPECT_EQ(PSAMMAC2(handle, 0x28, 0x09, div.data(), 24, iv.data(), data.data(), 9, macOut, random.data(), 8),
              0x6985);
    psam->on(kSelectSx3, "6A 82");
    EXPECT_EQ(PSAMMAC2(handle, 0x28, 0x09, div.data(), 24, iv.data(), data.data(), 9, macOut, random.data(), 8),
              -2202);
}

TEST_F(SecurityTest, SelectDFEFAndSelectEF) {
    auto card = insertPoweredCard();
    card->on("00 A4 00 00 02 DF 01", "90 00");
    card->on("00 A4 00 00 02 EF 07", "90 00");
    unsigned char df01[2] = {0xDF, 0x01}, ssse[2] = {0xDF, 0x00}, ef07[2] = {0xEF, 0x07}, ef09[2] = {0xEF, 0x09};
    EXPECT_EQ(selectDFEF(handle, df01, ef07), 0);
    EXPECT_EQ(selectDFEF(handle, ssse, ef07), 0);
    EXPECT_EQ(selectEF(handle, ef07), 0);
    EXPECT_EQ(seen(), (Seq{at(1, "00 A4 00 00 02 DF 01"), at(1, "00 A4 00 00 02 EF 07"),
                           at(1, "00 A4 00 00 02 EF 07"), at(1, "00 A4 00 00 02 EF 07")}));
    card->on("00 A4 00 00 02 EF 09", "6A 82");
    EXPECT_EQ(selectEF(handle, ef09), -27266);
    EXPECT_EQ(selectDFEF(handle, df01, ef09), -27266);
    card->on("00 A4 00 00 02 DF 01", "6A 81");
    clearTrace();
    EXPECT_EQ(selectDFEF(handle, df01, ef07), -27265);
    EXPECT_EQ(seen(), (Seq{at(1, "00 A4 00 00 02 DF 01")}));
}

}  // namespace
}  // namespace sectest
