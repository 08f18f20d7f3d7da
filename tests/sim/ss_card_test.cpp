// SPDX-License-Identifier: MIT
// The social-security card model on its own: selection, the file control
// information, records and their errors, challenges, and what a power-on
// clears.
#include "sim_test_util.h"

using namespace vr;

namespace simtest {
namespace {

const char *kName = "73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF";

std::shared_ptr<SsCard> freshCard(int version = 2, int algorithm = 2) {
    auto card = std::make_shared<SsCard>(version, algorithm);
    card->reset();
    return card;
}

Bytes selectApplication(SsCard &card) { return transact(card, selectByName(ssApplicationName())); }

TEST(SsCard, ApplicationNameIsTheGb18030Name) { EXPECT_EQ(toHex(ssApplicationName()), kName); }

TEST(SsCard, FileControlInformationOfEachStyle) {
    struct Case {
        FciStyle style;
        uint8_t value;
        std::string fci;
    } cases[] = {
        {FciStyle::Indicator, 2, std::string("6F 1B 84 0F ") + kName + " A5 08 88 01 01 9F 0C 02 00 02"},
        {FciStyle::Tag86, 3, std::string("6F 1C 84 0F ") + kName + " A5 09 88 01 01 9F 0C 03 86 01 03"},
        {FciStyle::Tag86, 0, std::string("6F 1C 84 0F ") + kName + " A5 09 88 01 01 9F 0C 03 86 01 00"},
        {FciStyle::Neither, 2, std::string("6F 1D 84 0F ") + kName + " A5 0A 88 01 01 9F 0C 04 87 02 00 02"},
        {FciStyle::No9F0C, 2, std::string("6F 16 84 0F ") + kName + " A5 03 88 01 01"},
        {FciStyle::NoA5, 3, std::string("6F 19 84 0F ") + kName + " 88 01 01 9F 0C 02 00 03"},
        {FciStyle::No6F, 2, std::string("84 0F ") + kName + " A5 08 88 01 01 9F 0C 02 00 02"},
    };
    for (const Case &c : cases) {
        auto card = freshCard();
        card->setApplicationFci(buildFci(c.style, c.value, ssApplicationName()));
        // The answer waits behind 61 La, as for any command with data.
        Bytes first = card->transmit(selectByName(ssApplicationName()));
        Bytes fci = hex(c.fci);
        EXPECT_EQ(first, (Bytes{0x61, static_cast<uint8_t>(fci.size())})) << c.fci;
        EXPECT_EQ(dataOf(card->transmit({0x00, 0xC0, 0x00, 0x00, static_cast<uint8_t>(fci.size())})), fci);
    }
    auto card = freshCard();
    Bytes other = ssApplicationName();
    other[2] = '2';
    EXPECT_EQ(swOf(transact(*card, selectByName(other))), 0x6A82);
}

// The basic records, read with the commands a host uses, on each version.
TEST(SsCard, BasicRecordsOfEachVersion) {
    for (int version : {1, 2, 3}) {
        SCOPED_TRACE(version);
        auto card = freshCard(version);
        Bytes code = hex("43 01 05 D1 56 00 00 05 00 00 00 00 00 00 00 42");
        ASSERT_TRUE(card->setRecord(0, 0xEF05, 0x01, code));
        ASSERT_TRUE(card->setRecord(0, 0xEF05, 0x03, hex("32 2E 30 30")));
        ASSERT_TRUE(card->setRecord(0, 0xEF05, 0x05, hex("20 24 03 01")));
        ASSERT_TRUE(card->setRecord(0, 0xEF05, 0x07, hex("4B 34 33")));
        ASSERT_TRUE(card->setRecord(0, 0xEF06, 0x09, hex("D5 C5 C8 FD")));
        ASSERT_EQ(swOf(selectApplication(*card)), 0x9000);
        ASSERT_EQ(transact(*card, "00 A4 00 00 02 EF 05"), hex("90 00"));
        EXPECT_EQ(transact(*card, "00 B2 01 04 12"), concat(concat(hex("01 10"), code), hex("90 00")));
        EXPECT_EQ(transact(*card, "00 B2 03 04 06"), hex("03 04 32 2E 30 30 90 00"));
        EXPECT_EQ(transact(*card, "00 B2 05 04 06"), hex("05 04 20 24 03 01 90 00"));
        EXPECT_EQ(transact(*card, "00 B2 06 04 06"), hex("06 04 FF FF FF FF 90 00"));  // never set: digits pad F
        EXPECT_EQ(transact(*card, "00 B2 07 04 0B"), hex("07 09 4B 34 33 00 00 00 00 00 00 90 00"));
        EXPECT_EQ(swOf(transact(*card, "00 B2 08 04 00")), 0x6A83);
        ASSERT_EQ(transact(*card, "00 A4 00 00 02 EF 06"), hex("90 00"));
        Bytes name = transact(*card, "00 B2 02 04 20");
        if (version == 3) {
            EXPECT_EQ(swOf(name), 0x6982);  // the holder's file needs key 0A
            continue;
        }
        EXPECT_EQ(name, concat(hex("09 1E D5 C5 C8 FD"), concat(Bytes(26, 0x00), hex("90 00"))));
        EXPECT_EQ(transact(*card, "00 B2 01 04 14"), concat(hex("08 12"), concat(Bytes(18, 0x00), hex("90 00"))));
        // Record 3: the name extension from version 2 on; the sex before.
        Bytes third = transact(*card, "00 B2 03 04 20");
        if (version == 1)
            EXPECT_EQ(third, hex("0A 01 00 90 00"));
        else
            EXPECT_EQ(third, concat(hex("4E 14"), concat(Bytes(20, 0x00), hex("90 00"))));
    }
}

TEST(SsCard, WrongLeIsAnsweredWithTheRightOne) {
    auto card = freshCard();
    selectApplication(*card);
    transact(*card, "00 A4 00 00 02 EF 06");
    EXPECT_EQ(card->transmit(hex("00 B2 03 04 20")), hex("6C 16"));
    EXPECT_EQ(card->transmit(hex("00 B2 01 04 00")), hex("6C 14"));
}

TEST(SsCard, ErrorsOfSelectionAndReading) {
    struct Case {
        const char *what;
        std::vector<std::string> before;
        std::string command;
        int sw;
    } cases[] = {
        {"read before any selection", {}, "00 B2 01 04 12", 0x6986},
        {"EF05 of the master file", {}, "00 A4 00 00 02 EF 05", 0x6A82},
        {"read with the application but no EF", {"app"}, "00 B2 01 04 12", 0x6986},
        {"a file the card lacks", {"app"}, "00 A4 00 00 02 EF 09", 0x6A82},
        {"DF05 on a version-2 card", {"app"}, "00 A4 00 00 02 DF 05", 0x6A82},
        {"record 0", {"app", "00 A4 00 00 02 EF 05"}, "00 B2 00 04 12", 0x6A83},
        {"a record past the end", {"app", "00 A4 00 00 02 EF 05"}, "00 B2 09 04 12", 0x6A83},
        {"READ BINARY of a record file", {"app", "00 A4 00 00 02 EF 05"}, "00 B0 00 00 04", 0x6981},
        {"READ RECORD of a transparent file", {"app", "00 A4 00 00 02 EF 07"}, "00 B2 01 04 00", 0x6981},
        {"a transparent file behind key 0A", {"app", "00 A4 00 00 02 EF 07"}, "00 B0 00 00 10", 0x6982},
        {"a sub-application behind PIN or key", {"app", "00 A4 00 00 02 DF 01", "00 A4 00 00 02 EF 05"},
         "00 B2 01 04 00", 0x6982},
        {"a public file of a sub-application", {"app", "00 A4 00 00 02 DF 01", "00 A4 00 00 02 EF 16"},
         "00 B0 00 00 08", 0x9000},
        {"an identifier of one byte", {"app"}, "00 A4 00 00 01 EF", 0x6700},
        {"an unknown instruction", {"app"}, "00 CA 00 00 02", 0x6D00},
        {"an unknown class", {"app"}, "A0 A4 00 00 02 EF 05", 0x6E00},
        {"GET CHALLENGE of 7 bytes", {}, "00 84 00 00 07", 0x6700},
    };
    for (const Case &c : cases) {
        auto card = freshCard();
        for (const std::string &b : c.before) {
            Bytes r = b == "app" ? selectApplication(*card) : transact(*card, b);
            ASSERT_EQ(swOf(r), 0x9000) << c.what << ": " << b;
        }
        EXPECT_EQ(swOf(transact(*card, c.command)), c.sw) << c.what;
    }
}

TEST(SsCard, SubApplicationsBelowAndBesideEachOther) {
    auto card = freshCard(2);
    ASSERT_TRUE(card->setContent(0xDF01, 0xEF16, hex("01 02 03")));
    selectApplication(*card);
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 DF 02"), hex("90 00"));
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 DF 01"), hex("90 00"));  // beside DF02
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 EF 16"), hex("90 00"));
    EXPECT_EQ(transact(*card, "00 B0 00 00 04"), hex("01 02 03 00 90 00"));
    EXPECT_EQ(transact(*card, "00 B0 01 26 08"), hex("00 00 90 00"));  // the last 2 of 296 bytes
    EXPECT_EQ(swOf(transact(*card, "00 B0 01 28 01")), 0x6B00);
    // DF01's own files.
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 EF 05"), hex("90 00"));
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 EF 07"), hex("90 00"));
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 EF 08"), hex("90 00"));
    EXPECT_EQ(swOf(transact(*card, "00 A4 00 00 02 EF 0B")), 0x6A82);
    // The master file, and the application by name from anywhere.
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 3F 00"), hex("90 00"));
    EXPECT_EQ(swOf(transact(*card, "00 A4 00 00 02 DF 01")), 0x6A82);
    EXPECT_EQ(swOf(selectApplication(*card)), 0x9000);
    // DF07 exists from version 2 on only.
    EXPECT_EQ(transact(*card, "00 A4 00 00 02 DF 07"), hex("90 00"));
    auto v1 = freshCard(1);
    selectApplication(*v1);
    EXPECT_EQ(swOf(transact(*v1, "00 A4 00 00 02 DF 07")), 0x6A82);
}

TEST(SsCard, RecordsByShortIdentifierAndByTag) {
    auto card = freshCard();
    card->setRecord(0, 0xEF05, 0x07, hex("4B"));
    selectApplication(*card);
    // SFI 5 in P2 (5 << 3 | 4): EF05 without a SELECT.
    EXPECT_EQ(transact(*card, "00 B2 07 2C 0B"), hex("07 09 4B 00 00 00 00 00 00 00 00 90 00"));
    // First occurrence of tag 07 in the current file.
    EXPECT_EQ(transact(*card, "00 B2 07 04 0B"), transact(*card, "00 B2 07 00 0B"));
    EXPECT_EQ(swOf(transact(*card, "00 B2 4E 00 00")), 0x6A83);
    EXPECT_EQ(swOf(transact(*card, "00 B2 01 05 00")), 0x6A86);
}

TEST(SsCard, RepeatedItemsByNextOccurrenceOnceAuthenticated) {
    auto card = std::make_shared<SsCard>(2, 2);
    auto psam = Psam::withApplications({2});
    pairWithPsam(*card, *psam, keysFromSeed("seed", *card));
    for (int n = 1; n <= 3; n++)
        ASSERT_TRUE(card->setRecord(0xDF01, 0xEF15, 0x40, Bytes(1, static_cast<uint8_t>(0x40 + n)), n));
    EXPECT_FALSE(card->setRecord(0xDF01, 0xEF15, 0x40, Bytes(1), 4));
    EXPECT_FALSE(card->setRecord(0xDF01, 0xEF15, 0x40, Bytes(53)));
    card->reset();
    selectApplication(*card);
    transact(*card, "00 A4 00 00 02 DF 01");
    transact(*card, "00 A4 00 00 02 EF 15");
    Bytes r1 = dataOf(transact(*card, "00 84 00 00 08")), r2 = dataOf(transact(*card, "00 84 00 00 08"));
    PsamSession s{*psam, 2};
    Bytes e = s.cryptogram({0x67, 0x2E}, card->diversificationData(), r1, r2);
    ASSERT_EQ(swOf(card->transmit(externalAuthenticate(0x88, e, r1))), 0x9000);
    for (int n = 1; n <= 3; n++) {
        Bytes r = transact(*card, "00 B2 40 02 00");
        ASSERT_EQ(swOf(r), 0x9000);
        ASSERT_EQ(r.size(), 2u + 52u + 2u);
        EXPECT_EQ(r[2], 0x40 + n);
    }
    EXPECT_EQ(swOf(transact(*card, "00 B2 40 02 00")), 0x6A83);
    // Record 1 is item 2A; the composite items follow as records 2 to 4.
    EXPECT_EQ(transact(*card, "00 B2 02 04 00")[0], 0x40);
    EXPECT_EQ(transact(*card, "00 B2 01 04 00"), hex("2A 01 FF 90 00"));
    // Leaving DF01 forgets the authentication.
    transact(*card, "00 A4 00 00 02 DF 02");
    transact(*card, "00 A4 00 00 02 DF 01");
    transact(*card, "00 A4 00 00 02 EF 15");
    EXPECT_EQ(swOf(transact(*card, "00 B2 01 04 00")), 0x6982);
}

TEST(SsCard, CompositeItemsHoldTheirChildren) {
    auto card = freshCard(2);
    // Item 43 of DF02 EF05: children 5A/7, 5B/1, 5C/70, 5D/4 (digits), 5E/16.
    Bytes v = card->record(0xDF02, 0xEF05, 0x43, 2);
    ASSERT_EQ(v.size(), 108u);
    EXPECT_EQ(Bytes(v.begin(), v.begin() + 2), hex("5A 07"));
    EXPECT_EQ(Bytes(v.begin() + 9, v.begin() + 11), hex("5B 01"));
    EXPECT_EQ(Bytes(v.begin() + 84, v.begin() + 90), hex("5D 04 FF FF FF FF"));
    EXPECT_EQ(Bytes(v.begin() + 90, v.begin() + 92), hex("5E 10"));
    // Version 1 knows the same parent with shorter children.
    EXPECT_EQ(freshCard(1)->record(0xDF02, 0xEF05, 0x43).size(), 29u);
}

TEST(SsCard, ChallengesAndWhatAPowerOnClears) {
    auto card = freshCard();
    selectApplication(*card);
    Bytes a = dataOf(transact(*card, "00 84 00 00 08"));
    Bytes b = dataOf(transact(*card, "00 84 00 00 08"));
    ASSERT_EQ(a.size(), 8u);
    EXPECT_NE(a, b);
    EXPECT_EQ(card->lastChallenge(), b);
    EXPECT_EQ(dataOf(transact(*card, "00 84 00 00 10")).size(), 16u);
    transact(*card, "00 A4 00 00 02 EF 05");
    ASSERT_EQ(swOf(transact(*card, "00 B2 01 04 12")), 0x9000);
    EXPECT_EQ(card->reset(), ssAtr());
    EXPECT_TRUE(card->lastChallenge().empty());
    EXPECT_EQ(swOf(transact(*card, "00 B2 01 04 12")), 0x6986);
    EXPECT_EQ(swOf(transact(*card, "00 A4 00 00 02 EF 05")), 0x6A82);
}

TEST(SsCard, DiversificationDataOfRegions) {
    struct Case {
        const char *code;
        const char *text;
    } cases[] = {
        {"14 01 02", "140102sx140000sh"},
        {"33 05 07", "330500sx330000sh"},
        {"33 01 02", "330100sx330000sh"},
        {"43 01 05", "430105sx430000sh"},
    };
    Bytes atr = hex("3B 6D 00 00 81 4B 45 53 53 43 01 23 45 67 89 AB");
    for (const Case &c : cases) {
        Bytes d = diversificationData(atr, concat(hex(c.code), Bytes(13)));
        ASSERT_EQ(d.size(), 24u);
        EXPECT_EQ(Bytes(d.begin(), d.begin() + 8), hex("53 43 01 23 45 67 89 AB"));
        EXPECT_EQ(std::string(d.begin() + 8, d.end()), c.text) << c.code;
    }
}

}  // namespace
}  // namespace simtest
