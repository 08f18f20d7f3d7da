// SPDX-License-Identifier: MIT
// The card model's writing on its own: UPDATE RECORD by identifier and by
// number, the append of a cyclic record, UPDATE BINARY, what each refuses,
// and the write conditions that guard them.
#include "sim/sim_test_util.h"

namespace simtest {
namespace {

using vr::hex;

// A version-2 card with the application selected and every file free to
// read and write, so that a command meets only the file's structure.
std::shared_ptr<vr::SsCard> openCard() {
    auto card = std::make_shared<vr::SsCard>(2, 2);
    for (uint16_t df : {0x0000, 0xDF01, 0xDF02})
        for (uint16_t ef = 0xEF05; ef <= 0xEF1A; ef++)
            if (vr::CardFile *f = card->file(df, ef)) f->read = f->write = vr::DirAccess{};
    card->reset();
    transact(*card, selectByName(vr::ssApplicationName()));
    return card;
}

std::string selectFile(uint16_t df, uint16_t ef) {
    char s[64];
    snprintf(s, sizeof s, "00 A4 00 00 02 %02X %02X", ef >> 8, ef & 0xFF);
    if (!df) return s;
    char d[64];
    snprintf(d, sizeof d, "00 A4 00 00 02 %02X %02X|", df >> 8, df & 0xFF);
    return std::string(d) + s;
}

TEST(CardFiles, UpdateCommandsKeepWhatTheyWrite) {
    const std::string sixteen = "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";
    struct Case {
        const char *what;
        uint16_t df, ef;
        std::string command;
        int sw;
        std::string readBack;  // command, and the answer it must get ("" when not read back)
        std::string answer;
    } cases[] = {
        {"TLV record by identifier", 0xDF02, 0xEF05, "00 DC 42 00 05 42 03 41 42 43", 0x9000, "00 B2 01 04 05",
         "42 03 41 42 43"},
        {"a shorter value in a TLV file", 0xDF02, 0xEF05, "00 DC 42 00 03 42 01 41", 0x9000, "00 B2 42 00 03",
         "42 01 41"},
        {"a repeated item by number", 0xDF02, 0xEF15, "00 DC 02 04 12 99 10 " + sixteen, 0x9000,
         "00 B2 02 04 12", "99 10 " + sixteen},
        {"a fixed record of its length", 0xDF01, 0xEF07, "00 DC 29 00 03 29 01 31", 0x9000, "00 B2 29 00 03",
         "29 01 31"},
        {"a cyclic record appended", 0xDF02, 0xEF16, "00 DC 00 03 12 " + sixteen + " 01 02", 0x9000,
         "00 B2 01 04 12", sixteen + " 01 02"},
        {"binary at an offset", 0xDF01, 0xEF16, "00 D6 01 26 02 AA BB", 0x9000, "00 B0 01 25 03", "00 AA BB"},
        {"a record of another item", 0xDF02, 0xEF05, "00 DC 01 04 05 41 03 41 42 43", 0x6A80, "", ""},
        {"data of another tag than P1", 0xDF02, 0xEF05, "00 DC 42 00 05 41 03 41 42 43", 0x6A80, "", ""},
        {"a length byte that lies", 0xDF02, 0xEF05, "00 DC 42 00 05 42 04 41 42 43", 0x6A80, "", ""},
        {"a value longer than the item", 0xDF02, 0xEF05, "00 DC 42 00 06 42 04 41 42 43 44", 0x6700, "", ""},
        {"a short fixed record", 0xDF01, 0xEF07, "00 DC 29 00 02 29 00", 0x6700, "", ""},
        {"a record number past the end", 0xDF02, 0xEF05, "00 DC 07 04 05 44 03 41 42 43", 0x6A83, "", ""},
        {"an identifier the file lacks", 0xDF02, 0xEF05, "00 DC 99 00 03 99 01 41", 0x6A83, "", ""},
        {"P2 other than 00, 04", 0xDF02, 0xEF05, "00 DC 42 02 05 42 03 41 42 43", 0x6A86, "", ""},
        {"a cyclic record of another size", 0xDF02, 0xEF16, "00 DC 00 03 02 01 02", 0x6700, "", ""},
        {"a cyclic record by number", 0xDF02, 0xEF16, "00 DC 01 04 12 " + sixteen + " 01 02", 0x6A86, "", ""},
        {"binary past the end", 0xDF01, 0xEF16, "00 D6 01 27 02 AA BB", 0x6700, "", ""},
        {"binary at the end", 0xDF01, 0xEF16, "00 D6 01 28 01 AA", 0x6B00, "", ""},
        {"a record of a transparent file", 0xDF01, 0xEF16, "00 DC 01 04 01 AA", 0x6981, "", ""},
        {"binary of a record file", 0xDF02, 0xEF05, "00 D6 00 00 01 AA", 0x6981, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto card = openCard();
        std::string path = selectFile(c.df, c.ef);
        for (size_t at = 0, bar; at < path.size(); at = bar + 1) {
            bar = path.find('|', at);
            if (bar == std::string::npos) bar = path.size();
            ASSERT_EQ(swOf(transact(*card, path.substr(at, bar - at))), 0x9000);
        }
        EXPECT_EQ(swOf(transact(*card, c.command)), c.sw);
        if (!c.readBack.empty()) {
            EXPECT_EQ(transact(*card, c.readBack), concat(hex(c.answer), hex("90 00")));
        }
    }
}

TEST(CardFiles, CyclicFileKeepsItsNewestRecords) {
    auto card = openCard();
    // DF04 EF15 holds 8 records of 3 bytes; the ninth pushes out the first.
    for (uint8_t n = 1; n <= 9; n++) ASSERT_TRUE(card->addCyclicRecord(0xDF04, 0xEF15, {n, n, n}));
    const auto &records = card->file(0xDF04, 0xEF15)->records;
    ASSERT_EQ(records.size(), 8u);
    EXPECT_EQ(records.front(), hex("09 09 09"));
    EXPECT_EQ(records.back(), hex("02 02 02"));
    EXPECT_FALSE(card->addCyclicRecord(0xDF04, 0xEF15, {1, 2}));
    EXPECT_FALSE(card->addCyclicRecord(0xDF01, 0xEF16, {1, 2, 3}));
}

TEST(CardFiles, WriteConditions) {
    auto card = std::make_shared<vr::SsCard>(2, 2);
    ASSERT_TRUE(card->setPin("123456"));
    card->reset();
    transact(*card, selectByName(vr::ssApplicationName()));
    // SSSE EF05 needs key 04; the PIN does not open it.
    transact(*card, "00 A4 00 00 02 EF 05");
    EXPECT_EQ(swOf(transact(*card, "00 DC 02 00 03 02 01 31")), 0x6982);
    EXPECT_EQ(swOf(transact(*card, "00 20 00 00 03 12 34 56")), 0x9000);
    EXPECT_EQ(swOf(transact(*card, "00 DC 02 00 03 02 01 31")), 0x6982);
    // The debit records are never written with UPDATE RECORD.
    transact(*card, "00 A4 00 00 02 DF 04");
    transact(*card, "00 A4 00 00 02 EF 08");
    EXPECT_EQ(swOf(transact(*card, concat(hex("00 DC 00 03 1C"), Bytes(28, 0x11)))), 0x6982);
    EXPECT_TRUE(card->file(0xDF04, 0xEF08)->records.empty());
}

}  // namespace
}  // namespace simtest
