// SPDX-License-Identifier: MIT
// iWriteCard through the virtual reader: what a write leaves on the
// modelled card of each version (read back with iReadCard), the commands
// it sends, and the requests it refuses before anything is written.
#include "operations/read_write.h"
#include "rw_fixture.h"

namespace rwtest {
namespace {

using namespace sectest;
using Write = ReadWriteTest;

// The value of item 43 as the card stores it for the text ABC^1^XYZ^2024^
// (and Q^ from version 2 on).
std::string item43(int version) {
    std::string v = tlv("5A", paddedText("ABC", 7)) + " " + tlv("5B", "31") + " " +
                    tlv("5C", paddedText("XYZ", version == 1 ? 9 : 70)) + " " + tlv("5D", "20 24 FF FF");
    return version == 1 ? v : v + " " + tlv("5E", paddedText("Q", 16));
}

TEST_F(Write, WhatIsWrittenReadsBack) {
    for (int version : {1, 2, 3}) {
        SCOPED_TRACE(version);
        useVersion(version);
        const std::string fixed = version == 1 ? "DF01EF0A|37|" : "DF01EF07|29|";
        const std::string composite = version == 1 ? "DF02EF05|43:1|" : "DF02EF05|43:2|";
        const std::string binary = version == 1 ? "SSSEEF07|" : "DF01EF16|";
        const std::string compositeText = version == 1 ? "ABC^1^XYZ^2024^" : "ABC^1^XYZ^2024^Q^";
        // Text longer than item 02 (1 byte) is cut, digits beyond item 05
        // (4 bytes) are dropped.
        Result w = write("SSSEEF05|02|05|$" + fixed + "$" + composite + "$DF02EF07|$" + binary + "$",
                         "SSSEEF05|XYZ|2024030112|$" + fixed.substr(0, 9) + (version == 1 ? "12.34" : "Y") +
                             "|$" + composite.substr(0, 9) + compositeText + "|$DF02EF07|ABC^20240101^20251231^XYZ^|$" +
                             binary + "A1B2|$");
        ASSERT_EQ(w.rc, 0) << w.text;
        EXPECT_EQ(w.text, "");
        EXPECT_EQ(std::string(logbuf).rfind("DivIndex: ", 0), 0u);  // no out-para line
        EXPECT_EQ(writes().size(), 6u);
        EXPECT_TRUE(pinCommands().empty());

        type({"123456"});
        Result r = read("SSSEEF05|02|05|$" + fixed + "$" + composite + "$DF02EF07|01|$" + binary + "$", 1);
        ASSERT_EQ(r.rc, 0) << r.text;
        const size_t size = version == 1 ? card->file(0, 0xEF07)->content.size()
                                         : card->file(0xDF01, 0xEF16)->content.size();
        EXPECT_EQ(r.text, "SSSEEF05|X|20240301|$" + fixed.substr(0, 9) + (version == 1 ? "12.34" : "Y") + "|$" +
                              composite.substr(0, 9) + compositeText + "|$DF02EF07|ABC^20240101^20251231^XYZ^|$" + binary +
                              "A1B2" + std::string(2 * size - 4, '0') + "|$");
        EXPECT_EQ(card->record(0xDF02, 0xEF05, 0x43, version == 1 ? 1 : 2), hex(item43(version)));
    }
}

TEST_F(Write, CompositeItemsByRecordNumberFromVersion2) {
    struct Case {
        int version;
        const char *addr, *data;
        std::string update;
    } cases[] = {
        // Occurrence 2 of item 43 is record 2 + 2 of DF02 EF05.
        {2, "DF02EF05|43:2|$", "DF02EF05|ABC^1^XYZ^2024^Q^|$", "00 DC 04 04 6E 43 6C " + item43(2)},
        {1, "DF02EF05|43:1|$", "DF02EF05|ABC^1^XYZ^2024^|$", "00 DC 43 00 1F 43 1D " + item43(1)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.version);
        useVersion(c.version);
        ASSERT_EQ(write(c.addr, c.data).rc, 0);
        Seq card = seenOf({"01: "});
        // The card powered anew for its diversification data, the file,
        // the terminal's authentication with key 83, the update.
        auto group = std::find(card.begin(), card.end(), at(1, "00 A4 00 00 02 DF 02"));
        ASSERT_NE(group, card.end());
        EXPECT_EQ(*(group - 5), at(1, kPowerOn));
        EXPECT_EQ(Seq(group, card.end()),
                  (Seq{at(1, "00 A4 00 00 02 DF 02"), at(1, kSelectEF05), at(1, kGetChallenge), at(1, kGetChallenge),
                       card.end()[-3], at(1, kSelectEF05), at(1, c.update)}));
        EXPECT_EQ(card.end()[-3].substr(0, 15), at(1, "00 82 00 83"));
    }
}

TEST_F(Write, RefusedBeforeAnythingIsWritten) {
    struct Case {
        const char *what;
        std::string addr, data;
        long rc;
        bool readerOpened;
    } cases[] = {
        {"the debit records", "DF04EF08|$", "DF04EF08|0000^1^1^1^1^1^1^|$", -27010, true},
        {"the debit records after a writable group", "DF01EF16|$DF04EF08|$", "DF01EF16|AA|$DF04EF08||$", -27010,
         true},
        {"another file in the data", "DF01EF16|$", "DF01EF05|AA|$", -14, false},
        {"fewer data groups", "DF01EF16|$DF01EF17|$", "DF01EF16|AA|$", -14, false},
        {"two contents of a transparent file", "DF01EF16|$", "DF01EF16|AA|BB|$", -14, true},
        {"no content of a transparent file", "DF01EF16|$", "DF01EF16|$", -23, true},
        {"odd hexadecimal", "DF01EF16|$", "DF01EF16|ABC|$", -23, true},
        {"binary longer than the item", "SSSEEF05|01|$", "SSSEEF05|" + std::string(34, 'A') + "|$", -23, true},
        {"an amount that is not one", "DF04EF06|92|$", "DF04EF06|1.2.3|$", -23, true},
        {"digits that are not", "SSSEEF05|05|$", "SSSEEF05|2024A|$", -23, true},
        {"too few sub-fields", "DF02EF05|43:1|$", "DF02EF05|A^B^|$", -23, true},
        {"a cyclic record that does not convert", "DF02EF07|$", "DF02EF07|A^|$", -23, true},
        {"an item the version lacks", "DF08EF05|01|$", "DF08EF05|A|$", -25, true},
        {"a bad value in the last group", "DF01EF16|$DF01EF17|$", "DF01EF16|AA|$DF01EF17|A|$", -23, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clearTrace();
        Result r = write(c.addr, c.data);
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(r.text, errorText(static_cast<int>(c.rc)));
        EXPECT_EQ(seen(), c.readerOpened ? selectionOnly(true) : Seq{});
        EXPECT_EQ(std::string(logbuf), errorLine(c.rc));
    }
    EXPECT_EQ(card->file(0xDF01, 0xEF16)->content[0], 0x00);
    // Card-info texts and null arguments never reach the reader.
    clearTrace();
    EXPECT_EQ(write("DF01EF16|$", "DF01EF16|AA|$", "4301|").rc, -14);
    GuardedBuffer out(KESTREL_WRITECARD_OUT_SIZE);
    char addr[] = "DF01EF16|$", data[] = "DF01EF16|AA|$", info[] = "x|y|";
    EXPECT_EQ(iWriteCard(1, info, addr, nullptr, out.text()), -14);
    EXPECT_EQ(iWriteCard(1, info, addr, data, nullptr), -14);
    EXPECT_EQ(iWriteCard(7, info, addr, data, out.text()), -14);
    EXPECT_TRUE(seen().empty());
}

TEST_F(Write, GroupsWrittenBeforeAFailureStayWritten) {
    // The card's key for DF01 EF17 does not match the PSAM's any more.
    card->externalKey(0xDF01, 0x8B)->value[0] ^= 0x01;
    Result r = write("DF01EF16|$DF01EF17|$", "DF01EF16|A1|$DF01EF17|B2|$");
    EXPECT_EQ(r.rc, -25536);
    EXPECT_EQ(r.text, errorText(-25536));
    EXPECT_EQ(card->file(0xDF01, 0xEF16)->content[0], 0xA1);
    EXPECT_EQ(card->file(0xDF01, 0xEF17)->content[0], 0x00);
    EXPECT_EQ(writes(), (Seq{at(1, "00 D6 00 00 01 A1")}));
}

TEST_F(Write, CyclicRecordPerValue) {
    // Each value is appended in turn, so the last becomes the newest.
    ASSERT_EQ(write("DF04EF15|$", "DF04EF15|1234^A^|5678^B^|$").rc, 0);
    EXPECT_EQ(writes(), (Seq{at(1, "00 DC 00 03 03 12 34 41"), at(1, "00 DC 00 03 03 56 78 42")}));
    EXPECT_EQ(card->file(0xDF04, 0xEF15)->records, (std::vector<Bytes>{hex("56 78 42"), hex("12 34 41")}));

    // One record from the first value, for steps that write one (on the
    // reader that the call above closed, opened again).
    handle = ICC_Reader_Open("USB1");
    prepare();
    card->file(0xDF04, 0xEF15)->write = vr::DirAccess{};
    unsigned char df04[2] = {0xDF, 0x04}, ef15[2] = {0xEF, 0x15};
    ASSERT_EQ(selectDFEF(handle, df04, ef15), 0);
    char addr[5][KESTREL_ROW_SIZE] = {"DF04EF15"}, data[5][KESTREL_ROW_SIZE] = {"DF04EF15", "9999^C^", "8888^D^"};
    clearTrace();
    EXPECT_EQ(writeGroupItems(handle, data, addr, 2, 2, CyclicValues::FirstValueOnly), 0);
    EXPECT_EQ(writes(), (Seq{at(1, "00 DC 00 03 03 99 99 43")}));
}

}  // namespace
}  // namespace rwtest
