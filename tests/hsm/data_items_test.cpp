// SPDX-License-Identifier: MIT
// Data items read and written with the software security module, through
// the virtual reader: the challenge block and the file's key address, the
// card's commands of both steps, what the card holds afterwards, and the
// requests and answers refused (and whether the reader was touched).
#include "cards/ss_directory.h"
#include "hsm_fixture.h"

namespace hsmtest {
namespace {

using namespace sectest;

class ItemSteps : public HsmTest {
protected:
    static Seq writes() { return seenOf({"01: 00 DC", "01: 00 D6"}); }
    Bytes item20() const { return card->record(0xDF01, 0xEF05, 0x20); }
};

// The group that names a file of the card's layout: its first item (the
// first occurrence of a composite one), none for a whole file.
std::string groupOf(const vr::DirFile &f) {
    char addr[16];
    if (f.df)
        snprintf(addr, sizeof addr, "%04XEF%02X|", f.df, f.ef & 0xFF);
    else
        snprintf(addr, sizeof addr, "SSSEEF%02X|", f.ef & 0xFF);
    std::string g = addr;
    if (f.structure == vr::kFixedRecords || f.structure == vr::kTlvRecords) {
        const vr::DirItem &first = f.items.at(0);
        g += hex4(first.tag).substr(2) + (first.kind == vr::kItemComposite ? ":1|" : "|");
    }
    return g + "$";
}

// The library's directory against the card's layout, file by file: the
// access conditions, the keys and the key addresses under which a module
// holds their masters.  The two are written apart, so a slip in either
// shows here.
TEST(ItemDirectory, AgreesWithTheCard) {
    for (int version : {1, 2, 3}) {
        for (const vr::DirFile &f : vr::cardDirectory(version)) {
            const std::string group = groupOf(f);
            SCOPED_TRACE(std::to_string(version) + " " + group);
            unsigned char key[3];
            int level = -1;
            unsigned address = 1;
            ASSERT_EQ(findReadKey(group.c_str(), key, &level, version), 0);
            EXPECT_EQ(level, f.read.level);
            EXPECT_EQ(vr::Bytes(key, key + 3), (vr::Bytes{f.read.key.kid, f.read.key.type, f.read.key.version}));
            ASSERT_EQ(findReadKeyAddr(group.c_str(), &address, version), 0);
            EXPECT_EQ(address, f.read.address);
            ASSERT_EQ(findWriteKey(group.c_str(), key, version, &level), 0);
            EXPECT_EQ(level, f.write.level);
            EXPECT_EQ(vr::Bytes(key, key + 3), (vr::Bytes{f.write.key.kid, f.write.key.type, f.write.key.version}));
            ASSERT_EQ(findWriteKeyAddr(group.c_str(), &address, version), 0);
            EXPECT_EQ(address, f.write.address);
        }
    }
}

// Files that the module's authentication does not serve: free to read (on
// every version), and the debit records, which are never written (refused
// after the challenge).
TEST_F(ItemSteps, FilesTheModuleDoesNotServe) {
    for (int version : {1, 2, 3}) {
        SCOPED_TRACE(version);
        use(ofVersion(version));
        clearTrace();
        EXPECT_EQ(itemStep1(false, "SSSEEF05|01|$"), failure(-2204));
        EXPECT_TRUE(seenOf({"01: 00 84"}).empty());
        expectClosed();
    }
    EXPECT_EQ(itemStep1(true, "DF04EF08|$"), failure(-27264));
    Seq s = seenOf({"01: "});
    EXPECT_EQ(Seq(s.end() - 4, s.end()),
              (Seq{at(1, "00 A4 00 00 02 DF 04"), at(1, "00 A4 00 00 02 EF 08"), at(1, kGetChallenge),
                   at(1, kGetChallenge)}));
    expectClosed();
}

// The largest group, SSSE EF08 of a version-3 card (8192 bytes), fills
// Step 2's buffer up to its NUL.
TEST_F(ItemSteps, LargestGroupFillsTheBuffer) {
    use(version3());
    Result r1 = itemStep1(false, "SSSEEF08|$");
    ASSERT_EQ(r1.rc, 0) << r1.text;
    EXPECT_EQ(fields(r1.text).at(1), "004C");
    Result r2 = readItemStep2(ask(r1.text));
    EXPECT_EQ(r2.rc, 0);
    EXPECT_EQ(r2.text.size(), static_cast<size_t>(KESTREL_HSM_READ_OUT_SIZE - 1));
    EXPECT_EQ(seenOf({"01: 00 B0"}).size(), 41u);
}

TEST_F(ItemSteps, ReadServesTheFirstGroup) {
    ASSERT_TRUE(card->setRecord(0xDF01, 0xEF05, 0x20, Bytes{'A', 'B'}));
    clearTrace();
    Result r1 = itemStep1(false, "DF01EF05|20|$DF02EF05|42|$");
    ASSERT_EQ(r1.rc, 0) << r1.text;
    std::vector<std::string> r = cardAnswers(kGetChallenge);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r1.text, "02|004F|" + r[1] + "|" + r[0] + "|");
    // After the card's identity: the file, then the two challenges.
    Seq s = seenOf({"01: "});
    EXPECT_EQ(Seq(s.end() - 4, s.end()),
              (Seq{at(1, kSelectDF01), at(1, kSelectEF05), at(1, kGetChallenge), at(1, kGetChallenge)}));
    EXPECT_EQ(std::string(logbuf), "iReadCard_HSM_Step1, out para: 0, " + r1.text + "\r\n");
    EXPECT_EQ(mAuthType, 3);

    const std::string answer = ask(r1.text);
    clearTrace();
    EXPECT_EQ(readItemStep2(answer), (Result{0, "DF01EF05|AB|"}));
    EXPECT_EQ(seenOf({"01: "}),
              (Seq{at(1, "00 82 00 88 10 " + vr::toHex(hex(answer))), at(1, kSelectEF05), at(1, "00 B2 20 02 00"),
                   at(1, "00 B2 20 02 04")}));
    EXPECT_EQ(std::string(logbuf), "iReadCard_HSM_Step2, out para: 0, DF01EF05|AB|\r\n");
    expectClosed();
}

// A file that needs the terminal's authentication and the PIN (DF04 EF06
// of a version-2 card): the PIN comes first, before the challenge.
TEST_F(ItemSteps, PinBeforeTheChallenge) {
    ASSERT_TRUE(card->setRecord(0xDF04, 0xEF06, 0x92, hex("00 00 12 34")));
    type({"123456"});
    Result r1 = itemStep1(false, "DF04EF06|92|$");
    ASSERT_EQ(r1.rc, 0) << r1.text;
    EXPECT_EQ(seenOf({"00: 00 F9 08", "01: 00 20", "01: 00 84"}),
              (Seq{at(0, pintest::pinEntry("1B 49")), at(1, "00 20 00 00 03 12 34 56"), at(1, kGetChallenge),
                   at(1, kGetChallenge)}));
    EXPECT_EQ(readItemStep2(ask(r1.text)), (Result{0, "DF04EF06|12.34|"}));

    type({"654321"});
    clearTrace();
    EXPECT_EQ(itemStep1(false, "DF04EF06|92|$"), (Result{-51, pintest::verifyRefused(2)}));
    EXPECT_TRUE(seenOf({"01: 00 84"}).empty());
    expectClosed();
}

TEST_F(ItemSteps, WriteWithTheModulesCryptogram) {
    struct Row {
        const char *addr, *data, *update;
        std::function<Bytes()> stored;
        const char *expected;
    };
    const Row rows[] = {
        {"DF01EF05|20|$", "DF01EF05|XY|$", "00 DC 20 00 04 20 02 58 59", [&] { return item20(); }, "58 59"},
        // A cyclic file receives one record, of the first value.
        {"DF04EF15|$", "DF04EF15|1234^A^|5678^B^|$", "00 DC 00 03 03 12 34 41",
         [&] { return card->file(0xDF04, 0xEF15)->records.at(0); }, "12 34 41"},
        {"DF01EF16|$", "DF01EF16|A1B2|$", "00 D6 00 00 02 A1 B2",
         [&] {
             const Bytes &c = card->file(0xDF01, 0xEF16)->content;
             return Bytes(c.begin(), c.begin() + 2);
         },
         "A1 B2"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.addr);
        Result r1 = itemStep1(true, row.addr);
        ASSERT_EQ(r1.rc, 0) << r1.text;
        EXPECT_EQ(std::string(inParaBuffer1), row.addr);
        const std::string answer = ask(r1.text);
        clearTrace();
        EXPECT_EQ(writeItemStep2(answer, row.data), (Result{0, ""}));
        Seq s = seenOf({"01: 00 82", "01: 00 DC", "01: 00 D6"});
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0], at(1, "00 82 00 " + vr::toHex(Bytes{mKeys[0]}) + " 10 " + vr::toHex(hex(answer))));
        EXPECT_EQ(s[1], at(1, row.update));
        EXPECT_EQ(row.stored(), hex(row.expected));
        EXPECT_EQ(std::string(logbuf), "iWriteCard_HSM_Step2, out para: 0, \r\n");
        expectClosed();
    }
    EXPECT_EQ(card->file(0xDF04, 0xEF15)->records.size(), 1u);
}

// The card's answer to the write is lost on the way: the host is told of
// a failure, and reading the item back shows it that the card wrote it.
TEST_F(ItemSteps, LostAnswerToTheWrite) {
    Result r1 = itemStep1(true, "DF01EF05|20|$");
    ASSERT_EQ(r1.rc, 0);
    const std::string answer = ask(r1.text);
    {
        auto r = reader();
        r->passNext();  // EXTERNAL AUTHENTICATE
        r->passNext();  // SELECT EF05
        r->reshapeNext([](uint8_t nad, const Bytes &) { return vr::Reader::split(nad, hex("6F 00")); });
    }
    Result r2 = writeItemStep2(answer, "DF01EF05|XY|$");
    EXPECT_EQ(r2, failure(-28416));
    EXPECT_EQ(item20(), hex("58 59"));
    expectClosed();
    Result back = itemStep1(false, "DF01EF05|20|$");
    ASSERT_EQ(back.rc, 0);
    EXPECT_EQ(readItemStep2(ask(back.text)), (Result{0, "DF01EF05|XY|"}));
}

// Step 1 refusals, for the read and the write: before the reader opens,
// or after it, which closes it again.
TEST_F(ItemSteps, Step1Refusals) {
    const std::string head = "DF01EF05|20|";
    std::string info = kCardInfo;
    info[5] = 'd';  // the card's code is compared in upper case
    struct Row {
        const char *what;
        std::string addr, info;
        int iType;
        long rc;
        bool opened;
    };
    const Row rows[] = {
        {"no $", head, kCardInfo, 1, -14, false},
        {"a group of 1024 characters", head + std::string(1022 - head.size(), 'A') + "|$", kCardInfo, 1, -14, false},
        {"a group of 1023 characters", head + std::string(1021 - head.size(), 'A') + "|$", kCardInfo, 1, -23, true},
        {"three | in the card info", head + "$", std::string(kCardInfo) + "|", 1, -14, false},
        {"card type 5", head + "$", kCardInfo, 5, -14, false},
        {"a file the version lacks", "DF05EF05|01|$", kCardInfo, 1, -25, true},
        {"record 00 of a cyclic file", "DF04EF15|00|$", kCardInfo, 1, -23, true},
        {"a lower-case identification code", head + "$", info, 1, -22, true},
    };
    for (bool write : {false, true}) {
        for (const Row &row : rows) {
            SCOPED_TRACE(std::string(row.what) + (write ? " write" : " read"));
            mHreader = -11;
            clearTrace();
            EXPECT_EQ(itemStep1(write, row.addr, row.info, row.iType), failure(row.rc));
            EXPECT_EQ(seen().empty(), !row.opened);
            EXPECT_TRUE(seenOf({"01: 00 84"}).empty());
            expectClosed();
        }
    }
    GuardedBuffer out(KESTREL_HSM_OUT_SIZE);
    char addr[] = "DF01EF05|20|$";
    EXPECT_EQ(iReadCard_HSM_Step1(1, &info[0], nullptr, out.text()), -14);
    EXPECT_EQ(iWriteCard_HSM_Step1(1, &info[0], addr, nullptr), -14);
    EXPECT_TRUE(seen().empty());
}

// A Step 1 refused before the reader opens leaves an open sequence as it
// was, with the group that its Step 1 kept.
TEST_F(ItemSteps, RefusedStep1KeepsTheOpenSequence) {
    ASSERT_TRUE(card->setRecord(0xDF01, 0xEF05, 0x20, Bytes{'A', 'B'}));
    Result r1 = itemStep1(false, "DF01EF05|20|$");
    ASSERT_EQ(r1.rc, 0);
    EXPECT_EQ(itemStep1(true, "DF01EF06|23|$", kCardInfo, 0), failure(-14));
    EXPECT_EQ(readItemStep2(ask(r1.text)), (Result{0, "DF01EF05|AB|"}));
}

// Step 2 refusals: the code, whether the card saw the cryptogram, nothing
// read or written, and the sequence closed behind them.
TEST_F(ItemSteps, Step2Refusals) {
    auto flip = [](std::string s) {
        s[5] = s[5] == '0' ? '1' : '0';
        return s;
    };
    const std::string data = "DF01EF05|XY|12|$";
    struct Row {
        const char *what;
        bool write;
        std::function<std::string(const std::string &)> answer;
        std::string data;
        long rc;
        bool authenticates;
    };
    auto same = [](const std::string &a) { return a; };
    const Row rows[] = {
        {"31 characters", false, [](auto a) { return a.substr(1); }, "", -14, false},
        {"33 characters", true, [](auto a) { return a + "0"; }, data, -14, false},
        {"not hexadecimal", true, [](auto a) { return a.substr(1) + "G"; }, data, -14, false},
        {"another cryptogram", false, flip, "", -25536, true},
        {"another cryptogram", true, flip, data, -25536, true},
        {"data for another file", true, same, "DF01EF06|XY|12|$", -14, false},
        {"two groups", true, same, data + data, -14, false},
        {"no $", true, same, "DF01EF05|XY|12|", -14, false},
        {"another item count", true, same, "DF01EF05|XY|$", -14, false},
        // Digits that are not: refused before the card sees the cryptogram.
        {"a value that does not convert", true, same, "DF01EF05|XY|1A|$", -23, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.what) + (row.write ? " write" : " read"));
        Result r1 = itemStep1(row.write, "DF01EF05|20|0E|$");
        ASSERT_EQ(r1.rc, 0) << r1.text;
        const std::string answer = row.answer(ask(r1.text));
        clearTrace();
        Result r2 = row.write ? writeItemStep2(answer, row.data) : readItemStep2(answer);
        EXPECT_EQ(r2, failure(row.rc));
        EXPECT_EQ(seenOf({"01: 00 82"}).size(), row.authenticates ? 1u : 0u);
        EXPECT_TRUE(seenOf({"01: 00 B2", "01: 00 DC"}).empty());
        expectClosed();
    }
    EXPECT_EQ(item20(), Bytes(2, 0x00));

    // Any card call between the steps ends the sequence.
    Result r1 = itemStep1(true, "DF01EF05|20|0E|$");
    ASSERT_EQ(r1.rc, 0);
    char out[KESTREL_BASEINFO_SIZE];
    EXPECT_EQ(iReadCardBas(1, out), 0);
    clearTrace();
    EXPECT_EQ(writeItemStep2(ask(r1.text), data), failure(-11));
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(item20(), Bytes(2, 0x00));
}

}  // namespace
}  // namespace hsmtest
