// SPDX-License-Identifier: MIT
// iReadCard through the virtual reader against the modelled card of each
// version: every file structure, the access levels, the commands the card
// receives, the result text and the call log.
#include "reader/reader_test_util.h"
#include "rw_fixture.h"

namespace rwtest {
namespace {

using namespace sectest;
using Read = ReadWriteTest;

// A cyclic record of DF04 EF08 and its text: a transaction's number, kind,
// time, terminal, amounts in fen (binary) and a field without value.
const char *kDebitRecord = "00 2A 31 20 24 01 31 12 00 43 01 05 00 00 00 07 00 00 30 39 00 00 00 64 FF FF FF FF";
const char *kDebitText = "002A^1^202401311200^43010500000007^123.45^1.00^^";

// A record of DF02 EF07 (version 1): a text of 7, two dates, a text of 70.
std::string referralRecord() { return paddedText("ABC", 7) + " 20 24 01 01 20 25 12 31 " + paddedText("XYZ", 70); }
const char *kReferralText = "ABC^20240101^20251231^XYZ^";

// The children of item 43: 5A, 5B, 5C, 5D (digits) and, from version 2
// on, 5E; texts ABC, 1, XYZ, 2024 and Q.
std::string item43(int version) {
    std::string v = tlv("5A", paddedText("ABC", 7)) + " " + tlv("5B", "31") + " " +
                    tlv("5C", paddedText("XYZ", version == 1 ? 9 : 70)) + " " + tlv("5D", "20 24 FF FF");
    return version == 1 ? v : v + " " + tlv("5E", paddedText("Q", 16));
}

std::string hexOf(const Bytes &b) {
    std::string s = toHex(b);
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

TEST_F(Read, EveryFileStructureOnEveryVersion) {
    for (int version : {1, 2, 3}) {
        SCOPED_TRACE(version);
        useVersion(version);
        const int occurrence = version == 1 ? 1 : 2;
        ASSERT_TRUE(card->setRecord(0xDF02, 0xEF05, 0x43, hex(item43(version)), occurrence));
        // A fixed record: digits (version 1) or a character.
        ASSERT_TRUE(version == 1 ? card->setRecord(0xDF01, 0xEF07, 0x2A, hex("7F"))
                                 : card->setRecord(0xDF01, 0xEF07, 0x29, hex("59")));
        // Cyclic records, newest first, and a transparent file.
        uint16_t cyclicDf = version == 1 ? 0xDF02 : 0xDF04, cyclicEf = version == 1 ? 0xEF07 : 0xEF08;
        Bytes record = hex(version == 1 ? referralRecord() : kDebitRecord);
        ASSERT_TRUE(card->addCyclicRecord(cyclicDf, cyclicEf, record));
        ASSERT_TRUE(card->addCyclicRecord(cyclicDf, cyclicEf, record));
        uint16_t binDf = version == 2 ? 0xDF01 : 0x0000, binEf = version == 2 ? 0xEF16 : 0xEF07;
        ASSERT_TRUE(card->setContent(binDf, binEf, hex("01 02 03")));
        const Bytes &content = card->file(binDf, binEf)->content;

        std::string fixedItem = version == 1 ? "DF01EF07|2A|" : "DF01EF07|29|";
        std::string cyclic = version == 1 ? "DF02EF07|" : "DF04EF08|";
        std::string binary = version == 2 ? "DF01EF16|" : "SSSEEF07|";
        std::string composite = version == 1 ? "DF02EF05|43:1|" : "DF02EF05|43:2|";
        type({"123456"});
        Result r = read("SSSEEF05|07|$" + fixedItem + "$" + composite + "$" + cyclic + "$" + binary + "$", 2);
        ASSERT_EQ(r.rc, 0) << r.text;
        std::string recordText = version == 1 ? kReferralText : kDebitText;
        std::string expected = "SSSEEF05|K43000042|$" + fixedItem.substr(0, 9) + (version == 1 ? "7" : "Y") +
                               "|$" + composite.substr(0, 9) + "ABC^1^XYZ^2024^" + (version == 1 ? "" : "Q^") +
                               "|$" + cyclic + recordText + "|" + recordText + "|$" + binary + hexOf(content) + "|$";
        EXPECT_EQ(r.text, expected);
        EXPECT_EQ(std::string(logbuf), "iReadCard, out para: " + expected + "\r\n");
        // The composite item and (from version 2 on) the debit records ask
        // for the PIN; the other protected files for the PSAM.
        EXPECT_EQ(pinCommands().size(), 1u);
        EXPECT_EQ(commandsWith({0x82}).size(), version == 3 ? 3u : 2u);
        EXPECT_EQ(mHreader, -11);
        EXPECT_EQ(m_pin_verified, 0);
    }
}

TEST_F(Read, CompositeItemByOccurrenceWithThePin) {
    ASSERT_TRUE(card->setRecord(0xDF02, 0xEF05, 0x43, hex(item43(2)), 2));
    type({"123456"});
    Result r = read("DF02EF05|43:2|$", 1);
    ASSERT_EQ(r.rc, 0) << r.text;
    EXPECT_EQ(r.text, "DF02EF05|ABC^1^XYZ^2024^Q^|$");
    const Seq checks{at(1, kSelectEF05), at(1, kReadCardId), at(1, kReadCardNo)};
    const Seq divIndex{at(1, kPowerOn), at(1, kSelectApp), at(1, "00 C0 00 00 1D"), at(1, kSelectEF05),
                       at(1, kReadCardId)};
    // Level 3 with the PIN; the second record of tag 43 (the card answers
    // the Le of 00 with the record's length).
    const Seq group{at(1, "00 A4 00 00 02 DF 02"), at(1, kSelectEF05), at(0, pintest::kPrepare), at(0, pintest::kReset),
                    at(0, pintest::pinEntry("1B 49")), at(1, "00 20 00 00 03 12 34 56"), at(1, kSelectEF05),
                    at(1, "00 B2 43 02 00"), at(1, "00 B2 43 02 6E"), at(1, "00 B2 43 02 00"),
                    at(1, "00 B2 43 02 6E")};
    EXPECT_EQ(seen(), selectionOnly() + checks + divIndex + group);
}

TEST_F(Read, ThePinIsAskedOncePerCall) {
    struct Case {
        int version, authType;
        const char *request, *result;
    } cases[] = {
        // Two files of level 1: the PIN whatever the authentication type.
        {1, 2, "DF01EF05|20|$DF02EF05|42|$", "DF01EF05||$DF02EF05||$"},
        // Two files of level 3, opened with the PIN for type 1.
        {2, 1, "DF01EF05|20|21|$DF02EF05|42|$", "DF01EF05|||$DF02EF05||$"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.version);
        useVersion(c.version);
        type({"123456", "123456"});
        Result r = read(c.request, c.authType);
        ASSERT_EQ(r.rc, 0) << r.text;
        EXPECT_EQ(r.text, c.result);
        EXPECT_EQ(entries().size(), 1u);
        EXPECT_EQ(pinCommands(), (Seq{at(1, "00 20 00 00 03 12 34 56")}));
        EXPECT_TRUE(commandsWith({0x82}).empty());
        // The next call asks again.
        clearTrace();
        ASSERT_EQ(read("DF02EF05|42|$", c.authType).rc, 0);
        EXPECT_EQ(entries().size(), 1u);
    }
}

TEST_F(Read, PinFailuresReachTheCaller) {
    type({"111111"});
    Result r = read("SSSEEF05|02|$DF04EF08|$");
    EXPECT_EQ(r.rc, -51);
    EXPECT_EQ(r.text, pintest::verifyRefused(2));  // the result of the first group is dropped
    EXPECT_EQ(commandsWith({0xB2}).back(), at(1, "00 B2 02 02 03"));  // no record of DF04 EF08 read
    type({"timeout"});
    r = read("DF04EF08|$");
    EXPECT_EQ(r.rc, -32);
    EXPECT_EQ(r.text, errorText(-32));
    EXPECT_EQ(std::string(logbuf), errorLine(-32));
}

TEST_F(Read, CyclicRecords) {
    struct Case {
        const char *what;
        int records;
        std::string items;
        long rc;
        size_t reads;  // cyclic reads sent
        size_t fields;
    } cases[] = {
        {"all of 3 records", 3, "", 0, 4, 3},
        {"all of 30 records", 30, "", 0, 30, 30},
        {"records named", 3, "03|01|", 0, 2, 2},
        {"a record the card lacks", 3, "05|", -27267, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        useVersion(2);
        for (int i = 0; i < c.records; i++) ASSERT_TRUE(card->addCyclicRecord(0xDF04, 0xEF08, hex(kDebitRecord)));
        type({"123456"});
        Result r = read("DF04EF08|" + c.items + "$");
        EXPECT_EQ(r.rc, c.rc);
        Seq reads;
        for (const std::string &cmd : commandsWith({0xB2}))
            if (cmd.substr(cmd.size() - 5) == "04 1C") reads.push_back(cmd);
        EXPECT_EQ(reads.size(), c.reads);
        if (c.rc != 0) {
            EXPECT_EQ(r.text, errorText(static_cast<int>(c.rc)));
            continue;
        }
        std::string expected = "DF04EF08|";
        for (size_t i = 0; i < c.fields; i++) expected += std::string(kDebitText) + "|";
        EXPECT_EQ(r.text, expected + "$");
    }
}

// The card's refusal ends the records; a reader that does not answer a
// record's read does not: the host is not told of fewer records than the
// card holds.
TEST_F(Read, ReaderSilentOnARecordFailsTheRead) {
    for (int i = 0; i < 3; i++) ASSERT_TRUE(card->addCyclicRecord(0xDF04, 0xEF08, hex(kDebitRecord)));
    type({"123456"});
    ASSERT_EQ(read("DF04EF08|$").rc, 0);
    size_t second = 0;
    {
        auto r = reader();
        while (second < r->trace().size() && vr::toHex(r->trace()[second].command) != "00 B2 02 04 1C") second++;
        ASSERT_LT(second, r->trace().size());
        for (size_t i = 0; i < second; i++) r->passNext();
        r->muteNext();
    }
    readertest::ShortResponseWait wait(150);
    type({"123456"});
    Result r = read("DF04EF08|$");
    EXPECT_EQ(r.rc, -28416);
    EXPECT_EQ(r.text, errorText(-28416));
}

TEST_F(Read, TransparentFileInChunks) {
    useVersion(3);
    Bytes content(4096);
    for (size_t i = 0; i < content.size(); i++) content[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(card->setContent(0, 0xEF07, content));
    Result r = read("SSSEEF07|$", 1);
    ASSERT_EQ(r.rc, 0) << r.text;
    EXPECT_EQ(r.text, "SSSEEF07|" + hexOf(content) + "|$");
    Seq expected;
    for (unsigned offset = 0; offset < 4096; offset += 200) {
        char cmd[32];
        snprintf(cmd, sizeof cmd, "00 B0 %02X %02X %02X", offset >> 8, offset & 0xFF, offset < 4000 ? 200 : 96);
        expected.push_back(at(1, cmd));
    }
    EXPECT_EQ(commandsWith({0xB0}), expected);
    EXPECT_EQ(expected.size(), 21u);

    // A file shorter on the card than in the directory ends with 6B00.
    useVersion(2);
    card->file(0xDF01, 0xEF16)->content.assign(150, 0xAB);
    r = read("DF01EF16|$");
    ASSERT_EQ(r.rc, 0) << r.text;
    std::string ab;
    for (int i = 0; i < 150; i++) ab += "AB";
    EXPECT_EQ(r.text, "DF01EF16|" + ab + "|$");
    EXPECT_EQ(commandsWith({0xB0}), (Seq{at(1, "00 B0 00 00 C8"), at(1, "00 B0 00 00 96"), at(1, "00 B0 00 C8 60")}));
}

TEST_F(Read, ApplicationFileAfterASubApplication) {
    // DF01 has an EF05 of its own: the application is selected again so
    // that SSSE EF05 is the application's.
    Result r = read("DF01EF16|$SSSEEF05|02|$");
    ASSERT_EQ(r.rc, 0) << r.text;
    EXPECT_EQ(r.text, "DF01EF16|" + std::string(592, '0') + "|$SSSEEF05|3|$");
    Seq s = seen();
    auto firstRead = std::find(s.begin(), s.end(), at(1, "00 B0 00 00 C8"));
    ASSERT_NE(firstRead, s.end());
    EXPECT_EQ(Seq(firstRead + 2, firstRead + 4), (Seq{at(1, kSelectApp), at(1, "00 C0 00 00 1D")}));
    EXPECT_EQ(*(firstRead + 4), at(1, kSelectEF05));
}

TEST_F(Read, BadRequestsAreRefusedBeforeAnyDataCommand) {
    struct Case {
        const char *addr;
        int authType;
        const char *info;
        long rc;
        bool readerOpened;
    } cases[] = {
        {"DF02EF05|43|$", 1, kCardInfo, -23, true},    // composite item without occurrence
        {"DF02EF05|43:3|$", 1, kCardInfo, -25, true},  // the item has 2
        {"DF01EF05|$", 1, kCardInfo, -23, true},       // record file without items
        {"SSSEEF05|01|02|", 1, kCardInfo, -23, true},  // no "$"
        {"SSSEEF05|1|$", 1, kCardInfo, -23, true},
        {"DF04EF08|00|$", 1, kCardInfo, -23, true},    // records are numbered from 01
        {"DF04EF08|1F|$", 1, kCardInfo, -23, true},    // to 1E
        {"DF09EF05|01|$", 1, kCardInfo, -25, true},
        {"SSSEEF05|01|$", 3, kCardInfo, -14, false},
        {"SSSEEF05|01|$", 1, "4301|", -14, false},
        {"SSSEEF05|01|$", 1, "a|b|c|", -14, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.addr);
        clearTrace();
        Result r = read(c.addr, c.authType, c.info);
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(r.text, errorText(static_cast<int>(c.rc)));
        EXPECT_EQ(seen(), c.readerOpened ? selectionOnly() : Seq{});
        EXPECT_EQ(std::string(logbuf), errorLine(c.rc));
    }
    // Another card than the one named: -22 after the identity check.
    Result r = read("SSSEEF05|01|$", 1, "4301|K43000042|");
    EXPECT_EQ(r.rc, -22);
    EXPECT_TRUE(commandsWith({0xB0}).empty());
    // Null arguments and the card type.
    GuardedBuffer out(KESTREL_READCARD_OUT_SIZE);
    char addr[] = "SSSEEF05|01|$", info[] = "x|y|";
    EXPECT_EQ(iReadCard(1, 1, info, nullptr, out.text()), -14);
    EXPECT_EQ(iReadCard(1, 1, nullptr, addr, out.text()), -14);
    EXPECT_EQ(iReadCard(1, 1, info, addr, nullptr), -14);
    EXPECT_EQ(iReadCard(0, 1, info, addr, out.text()), -14);
    EXPECT_EQ(std::string(logbuf), errorLine(-14));
}

}  // namespace
}  // namespace rwtest
