// SPDX-License-Identifier: MIT
// Application selection: the algorithm indicator from the file control
// information (or the region byte), the version from EF05 with its
// region exceptions, and what a failing step leaves behind.
#include "security_fixture.h"

namespace sectest {
namespace {

class SelectSSSE : public SecurityTest {
protected:
    long select(int *alg, bool required = true) {
        std::memset(version, 0, sizeof version);
        return selectSSSE(handle, alg, version, required);
    }
    char version[5] = {};
};

std::string regionId(const std::string &region) {
    return region + " 01 02 00 00 00 00 86 00 00 00 00 00 12 34 56";
}

struct AlgorithmRow {
    const char *what;
    std::string fci;
    std::string region;
    int callers;     // value in *alg before the call
    int expected;
    bool fallback;   // the identification code is read for the indicator
};

TEST_F(SelectSSSE, AlgorithmIndicator) {
    const std::string name = dfNameTlv();
    const AlgorithmRow rows[] = {
        {"9F0C of two bytes", fciWith9F0C("00 03"), "11", 1, 3, false},
        {"9F0C of two bytes, any byte stored", fciWith9F0C("00 07"), "14", 1, 7, false},
        {"tag 86 in 9F0C", fciWith9F0C("86 01 02"), "14", 1, 2, false},
        {"tag 86 with 00 keeps the caller's", fciWith9F0C("86 01 00"), "11", 5, 5, false},
        {"tag 86 after other objects", fciWith9F0C("85 01 09 86 02 03 00"), "14", 1, 3, false},
        {"9F0C without 86, region 11", fciWith9F0C("85 01 09"), "11", 1, 2, true},
        {"9F0C without 86, region 14", fciWith9F0C("85 01 09"), "14", 3, 1, true},
        {"9F0C of two bytes that look like an empty 86", fciWith9F0C("86 00"), "11", 1, 0, false},
        {"empty tag 86", fciWith9F0C("85 01 09 86 00"), "11", 1, 2, true},
        {"no 9F0C", tlv("6F", name + " " + tlv("A5", "88 01 02")), "11", 1, 2, true},
        {"no A5", tlv("6F", name + " " + tlv("9F 0C", "00 03")), "11", 1, 2, true},
        {"no 6F, 9F0C at the top", name + " " + tlv("A5", tlv("9F 0C", "00 03")), "33", 1, 1, true},
        {"no FCI at all", "", "11", 1, 2, true},
    };
    for (const AlgorithmRow &row : rows) {
        SCOPED_TRACE(row.what);
        CardContent content;
        content.fci = row.fci;
        content.id = regionId(row.region);
        insertCard(content);
        clearTrace();
        m_usercardAlg = 99;
        int alg = row.callers;
        EXPECT_EQ(select(&alg), 0);
        EXPECT_EQ(alg, row.expected);
        EXPECT_EQ(m_usercardAlg, row.expected);
        Seq expected{at(1, kPowerOn), at(1, kSelectApp)};
        if (row.fallback) expected = expected + Seq{at(1, kSelectEF05), at(1, kReadCardId)};
        expected = expected + Seq{at(1, kSelectEF05), at(1, kReadVersion), at(1, kReadCardId)};
        EXPECT_EQ(seen(), expected);
    }
}

TEST_F(SelectSSSE, LongFormLengthsInTheFci) {
    // A 6F of more than 127 bytes carries its length as 81 xx.
    std::string filler = tlv("73", toHex(Bytes(140, 0x11)));
    CardContent content;
    content.fci = tlv("6F", dfNameTlv() + " " + filler + " " + tlv("A5", tlv("9F 0C", "00 03")));
    ASSERT_EQ(hex(content.fci)[1], 0x81);
    insertCard(content);
    int alg = 1;
    EXPECT_EQ(select(&alg), 0);
    EXPECT_EQ(alg, 3);
}

struct VersionRow {
    std::string versionBytes;
    std::string region;
    const char *text;   // version text handed back
    int ver;
    bool readsId;       // record 1 is read for the version
};

TEST_F(SelectSSSE, Version) {
    const VersionRow rows[] = {
        {"00 00 00 00", "14", "1.00", 1, false},
        {textHex("2.00"), "14", "1.00", 1, true},
        {textHex("2.00"), "15", "1.00", 1, true},
        {textHex("2.00"), "35", "1.00", 1, true},
        {textHex("2.00"), "33", "2.00", 2, true},
        {textHex("2.00"), "11", "2.00", 2, true},
        {textHex("2.01"), "37", "2.01", 2, true},
        {textHex("1.20"), "33", "1.00", 1, true},
        {textHex("1.00"), "14", "1.00", 1, true},
        {textHex("3.00"), "35", "3.00", 3, true},
        {textHex("3.00"), "14", "3.00", 3, true},
        {textHex("1.20"), "14", "0.00", -1, true},
        {textHex("4.00"), "33", "0.00", -1, true},
        {"00 00 00 01", "14", "0.00", -1, true},
    };
    for (const VersionRow &row : rows) {
        for (bool required : {true, false}) {
            SCOPED_TRACE(row.versionBytes + " region " + row.region + (required ? " required" : ""));
            CardContent content;
            content.version = row.versionBytes;
            content.id = regionId(row.region);
            insertCard(content);
            clearTrace();
            m_usercardVer = 7;
            int alg = 1;
            long rc = select(&alg, required);
            EXPECT_EQ(rc, row.ver == -1 && required ? -20 : 0);
            EXPECT_EQ(std::string(version, 4), row.text);
            EXPECT_EQ(version[4], 0);  // exactly 4 bytes written
            EXPECT_EQ(m_usercardVer, row.ver);
            Seq expected{at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadVersion)};
            if (row.readsId) expected.push_back(at(1, kReadCardId));
            EXPECT_EQ(seen(), expected);
        }
    }
}

TEST_F(SelectSSSE, UnreadableVersionRecordIsMalformedWhateverTheStatus) {
    for (const char *answer : {"6A 83", "69 82", "62 81", "03 02 32 2E 90 00", "90 00"}) {
        SCOPED_TRACE(answer);
        auto card = insertCard();
        card->on(kReadVersion, answer);
        m_usercardVer = 2;
        int alg = 1;
        EXPECT_EQ(select(&alg, false), -20);
        EXPECT_EQ(m_usercardVer, 2);  // left as it was
        EXPECT_EQ(m_usercardAlg, 1);  // the indicator was already stored
    }
}

TEST_F(SelectSSSE, FailingStepsReturnTheirTranslatedStatus) {
    struct Row {
        const char *rule;
        const char *answer;
        long rc;
        bool algStored;
    };
    CardContent noIndicator;
    noIndicator.fci = dfNameTlv();
    noIndicator.id = regionId("11");
    const Row rows[] = {
        {"00 A4 04 00 0F", "6A 82", -27266, false},
        {kSelectEF05, "6A 82", -27266, false},      // EF05 of the fallback
        {kReadCardId, "6A 83", -27267, false},      // record 1 of the fallback
        {kReadCardId, "01 03 11 01 02 90 00", -20, false},  // identification code cut short
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.rule) + " -> " + row.answer);
        auto card = insertCard(noIndicator);
        card->on(row.rule, row.answer);
        m_usercardAlg = 9;
        m_usercardVer = 3;
        int alg = 1;
        EXPECT_EQ(select(&alg), row.rc);
        EXPECT_EQ(m_usercardAlg, 9);
        EXPECT_EQ(m_usercardVer, 3);
    }
}

TEST_F(SelectSSSE, FailuresAfterTheIndicatorKeepTheVersion) {
    // With the indicator in the FCI, EF05 is selected first for the version.
    auto card = insertCard();
    card->on(kSelectEF05, "6A 82");
    m_usercardVer = 3;
    int alg = 1;
    EXPECT_EQ(select(&alg), -27266);
    EXPECT_EQ(m_usercardAlg, 1);
    EXPECT_EQ(m_usercardVer, 3);

    card = insertCard();
    card->on(kReadCardId, "69 85");  // record 1 for the region exceptions
    EXPECT_EQ(select(&alg), -27013);
    EXPECT_EQ(m_usercardVer, 3);
}

TEST_F(SelectSSSE, NoCardAnswers) {
    // Power-on of an empty slot: the reader answers 62 00.
    int alg = 1;
    EXPECT_EQ(select(&alg), -25088);
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn)}));
}

TEST_F(SelectSSSE, NullArgumentsAreRefused) {
    insertCard();
    int alg = 1;
    EXPECT_EQ(selectSSSE(handle, nullptr, version, true), -14);
    EXPECT_EQ(selectSSSE(handle, &alg, nullptr, true), -14);
    EXPECT_TRUE(seen().empty());
}

TEST_F(SecurityTest, SelectFKJG) {
    for (const char *region : {"11", "33", "14"}) {
        SCOPED_TRACE(region);
        CardContent content;
        content.fci = fciWith9F0C("00 03");  // not looked at
        content.id = regionId(region);
        insertCard(content);
        clearTrace();
        int alg = 0;
        unsigned char code[4] = {0, 0, 0, 0xEE};
        EXPECT_EQ(selectFKJG(handle, &alg, nullptr, code), 0);
        int expected = std::string(region) == "11" ? 2 : 1;
        EXPECT_EQ(alg, expected);
        EXPECT_EQ(m_usercardAlg, expected);
        EXPECT_EQ(toHex(code, 4), std::string(region) + " 01 02 EE");
        EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadCardId)}));
    }
}

TEST_F(SecurityTest, SelectFKJGFailures) {
    auto card = insertCard();
    card->on("00 A4 04 00 0F", "6A 81");
    m_usercardAlg = 3;
    int alg = 0;
    unsigned char code[3] = {};
    EXPECT_EQ(selectFKJG(handle, &alg, nullptr, code), -27265);
    EXPECT_EQ(m_usercardAlg, 3);
    card = insertCard();
    card->on(kReadCardId, "6A 83");
    EXPECT_EQ(selectFKJG(handle, &alg, nullptr, code), -27267);
}

}  // namespace
}  // namespace sectest
