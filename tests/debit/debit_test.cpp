// SPDX-License-Identifier: MIT
// The debit through the virtual reader: the modelled card's purse and the
// PSAM computing and checking the MACs under their own keys, the exact
// APDUs, the result text and call log a host sees, the card's balance and
// records afterwards, and every way the transaction ends early.
#include "debit_fixture.h"

namespace debittest {
namespace {

using namespace sectest;
using Debit = DebitTest;

TEST_F(Debit, LowersTheBalanceAndReportsTheTransaction) {
    type({"123456"});
    ASSERT_EQ(debit(), 0);
    const Bytes init = answerTo(1, "B0 28", true), mac1 = answerTo(0x11, "80 70", true),
                debited = answerTo(1, "B0 2C", true);
    ASSERT_EQ(init.size(), 22u);
    ASSERT_EQ(mac1.size(), 8u);
    ASSERT_EQ(debited.size(), 8u);
    // Balance 500.00, serial 0003, key version 01, algorithm identifier 04.
    EXPECT_EQ(part(init, 0, 4) + " " + part(init, 14, 4), "00 00 C3 50 00 03 01 04");
    EXPECT_EQ(part(mac1, 0, 4), "00 00 00 01");
    const std::string div16 = part(card->diversificationData(), 0, 16);
    EXPECT_EQ(seenFrom(at(1, kSelectDF04)),
              (Seq{at(1, kSelectDF04), at(0x11, kPowerOn), at(0x11, "00 B0 96 00 06"),
                   at(1, "B0 28 01 01 13 01 00000000 000004E2 0000012C 430105000007"), at(1, "00 C0 00 00 16"),
                   at(0x11, kPowerOn), at(0x11, kSelectSx2), at(0x11, "00 C0 00 00 13"), at(0x11, kSelectTerminal),
                   at(0x11, kReadTerminal), at(0x11, kSelectDF01),
                   at(0x11, "80 70 01 00 2C " + part(init, 18, 4) +
                                " 0003 00000000 000004E2 0000012C 32 20240401103000 01 04 " + div16),
                   at(0x11, "00 C0 00 00 08"),
                   at(1, "B0 2C 01 00 0F " + part(mac1, 0, 4) + " 20240401103000 " + part(mac1, 4, 4)),
                   at(1, "00 C0 00 00 08"), at(0x11, "80 72 00 00 04 " + part(debited, 4, 4))}));
    EXPECT_EQ(text(), "02|00B5|000004E20000012C|32|430105000007|00000001|20240401103000|" + hexText(debited, 0, 4) + "|");
    EXPECT_EQ(text().size(), 74u);
    EXPECT_EQ(std::string(logbuf), "iDoDebit, out para: 0, " + text() + "\r\n");
    EXPECT_EQ(card->balance(), kBalance - 1550);
    auto records = card->purseRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(toHex(records[0]), toHex(hex("0003 32 430105000007 20240401103000 00000000 000004E2 0000012C")));
    EXPECT_EQ(mHreader, -11);

    // The next debit: the card's and the PSAM's serials have moved on.
    type({"123456"});
    ASSERT_EQ(debit("0|0.01|20240401103100|"), 0);
    EXPECT_EQ(text().substr(0, 65), "02|00B5|0000000000000001|32|430105000007|00000002|20240401103100|");
    EXPECT_EQ(hexText(card->purseRecords()[0], 0, 2), "0004");
    EXPECT_EQ(card->balance(), kBalance - 1551);
}

// MAC1 starts at key level 2 and falls back once to level 1 when the PSAM
// lacks the key (6A 88); the PSAM's region decides which levels may serve
// the card at all.
TEST_F(Debit, KeyLevelOfMac1) {
    enum Key { Level2, Level1, None };
    struct Row {
        const char *what;
        Key key;
        const char *terminal;
        long rc;
        Seq lcs;  // Lc of each MAC1 command sent
    };
    const Row rows[] = {
        {"key at level 2", Level2, "43 01 05 00 00 07", 0, {"2C"}},
        {"key at level 1 only", Level1, "43 01 05 00 00 07", 0, {"2C", "24"}},
        {"no purchase key", None, "43 01 05 00 00 07", -24, {"2C", "24"}},
        {"PSAM of another province", Level2, "44 01 05 00 00 07", -24, {}},
        {"level 1 key of another city", Level1, "43 99 99 00 00 07", -24, {"2C"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        vr::Profile p = pintest::demoWith();
        p.psams[0].terminalNumber = hex(row.terminal);
        auto model = vr::buildCard(p);
        vr::KeySet keys = vr::buildKeys(p, model.get());
        if (row.key == Level1) keys.lowerLevel(0x0B, 0x01, vr::Cipher::Sm4, model->diversificationData());
        if (row.key == None) keys.remove(0x0B, 0x01);
        load(p, &keys);
        type({"123456"});
        EXPECT_EQ(debit(), row.rc);
        Seq lcs;
        for (const std::string &c : seenOf({"11: 80 70 01 00"})) lcs.push_back(c.substr(16, 2));
        EXPECT_EQ(lcs, row.lcs);
        if (row.rc != 0) {
            EXPECT_EQ(text(), errorText(static_cast<int>(row.rc)));
        }
        EXPECT_EQ(card->balance(), row.rc == 0 ? kBalance - 1550 : kBalance);
    }
}

// The algorithm identifier of MAC1 is the card's, except for cards of
// algorithm 3, for which the PSAM is given 04 whatever the card answered.
TEST_F(Debit, AlgorithmIdentifier) {
    struct Row {
        int algorithm;
        int cardId;         // -1: the card's default
        const char *answered, *sent;
        int psamSelections; // the card's PSAM application selected, in all
        long rc;
    };
    const Row rows[] = {
        {1, -1, "00", "00", 0, 0},
        {2, -1, "04", "04", 2, 0},
        {3, -1, "03", "04", 2, 0},
        {3, 0x07, "07", "04", 2, 0},
        // Passed on as the card gave it, which the PSAM does not take.
        {2, 0x03, "03", "03", 2, -27264},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.algorithm);
        vr::Profile p = pintest::demoWith(row.algorithm);
        p.card->purse.algorithmId = row.cardId;
        load(p);
        type({"123456"});
        EXPECT_EQ(debit(), row.rc);
        EXPECT_EQ(part(answerTo(1, "B0 28", true), 17, 1), row.answered);
        EXPECT_EQ(part(hex(seenOf({"11: 80 70"}).at(0).substr(4)), 5 + 27, 1), row.sent);
        std::string sx = row.algorithm == 3 ? kSelectSx3 : kSelectSx2;
        EXPECT_EQ(seenOf({at(0x11, sx)}).size(), static_cast<size_t>(row.psamSelections));
        if (row.rc == 0) {
            EXPECT_EQ(text().substr(0, 3), "0" + std::to_string(row.algorithm) + "|");
        }
    }
}

// Once the debit is sent the card may have debited though the call fails:
// the error line is followed by the transaction to look for, and the
// transaction is among the card's records.  A card that refuses the
// debit keeps its balance, and the line is not written.
TEST_F(Debit, FailureAfterTheDebitCommand) {
    struct Row {
        const char *what;
        Tamper::Change change;
        bool otherPsamKeys;
        long rc;
        bool debited;
        bool tacKnown;
    };
    const Row rows[] = {
        {"MAC2 refused by the PSAM",
         [](const Bytes &prev, const Bytes &, Bytes answer) {
             if (startsWith(prev, "B0 2C") && answer.size() == 10) answer[7] ^= 0x01;
             return answer;
         },
         false, -37634, true, true},
        {"answer to the debit lost",
         [](const Bytes &prev, const Bytes &, Bytes answer) {
             return startsWith(prev, "B0 2C") ? hex("6F 00") : answer;
         },
         false, -28416, true, false},
        {"fetch of the answer to the debit refused",
         [](const Bytes &prev, const Bytes &, Bytes answer) {
             return startsWith(prev, "B0 2C") ? hex("6A 82") : answer;
         },
         false, -27266, true, false},
        {"answer to the debit garbled",
         [](const Bytes &prev, const Bytes &, Bytes answer) {
             return startsWith(prev, "B0 2C") ? hex("00 00") : answer;
         },
         false, -28416, true, false},
        {"answer to the debit still pending",
         [](const Bytes &prev, const Bytes &, Bytes answer) {
             return startsWith(prev, "B0 2C") ? hex("61 08") : answer;
         },
         false, -0x6108, true, false},
        {"MAC1 refused by the card", [](const Bytes &, const Bytes &, Bytes a) { return a; }, true, -37634, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        vr::Profile p = pintest::demoWith();
        vr::KeySet keys = vr::buildKeys(p, vr::buildCard(p).get());
        if (row.otherPsamKeys) keys.set({0x4B, 0x01}, Bytes(16, 0x11));
        load(p, &keys);
        tamperWithCard(row.change);
        type({"123456"});
        EXPECT_EQ(debit(), row.rc);
        EXPECT_EQ(text(), errorText(static_cast<int>(row.rc)));
        EXPECT_EQ(card->balance(), row.debited ? kBalance - 1550 : kBalance);
        EXPECT_EQ(seenOf({"11: 80 72"}).size(), row.tacKnown ? 1u : 0u);
        std::string line = "getErrorInf, code:" + std::to_string(row.rc) + ", error info " + text() + "\r\n";
        if (row.debited) {
            std::string tac = row.tacKnown ? hexText(answerTo(1, "B0 2C", true), 0, 4) : "";
            line += "iDoDebit, debit not confirmed: serial 0003, terminal serial 00000001, TAC " + tac + "\r\n";
        }
        EXPECT_EQ(std::string(logbuf), line);

        // The host finds the transaction by its serial.
        type({"123456"});
        char records[KESTREL_DEBIT_RECORDS_SIZE];
        ASSERT_EQ(iReadDebitRecord(1, records), 0);
        EXPECT_EQ(std::string(records).rfind("0003^430105000007^20240401103000^12.50^3.00^|", 0) == 0, row.debited);
    }
}

TEST_F(Debit, RefusedBeforeTheDebit) {
    const std::string otherCard = std::string(pintest::kCardInfo).replace(40, 1, "9");
    struct Row {
        const char *what;
        int iType;
        const char *cardInfo, *payInfo;
        std::function<void(vr::Profile &)> change;
        const char *typed;
        long rc;
        bool readerUsed;
    };
    const auto same = [](vr::Profile &) {};
    const Row rows[] = {
        {"card type 0", 0, pintest::kCardInfo, kPayInfo, same, nullptr, -14, false},
        {"card type 5", 5, pintest::kCardInfo, kPayInfo, same, nullptr, -14, false},
        {"card info of one field", 1, "4301|", kPayInfo, same, nullptr, -14, false},
        {"card info of three fields", 1, "4301|K43000042||", kPayInfo, same, nullptr, -14, false},
        {"no card info", 1, nullptr, kPayInfo, same, nullptr, -14, false},
        {"three decimals", 1, pintest::kCardInfo, "12.345|0|20240401103000|", same, nullptr, -14, false},
        {"second amount not a number", 1, pintest::kCardInfo, "1|x|20240401103000|", same, nullptr, -14, false},
        {"13-digit date", 1, pintest::kCardInfo, "1|2|2024040110300|", same, nullptr, -14, false},
        {"date with a letter", 1, pintest::kCardInfo, "1|2|2024040110300A|", same, nullptr, -14, false},
        {"no date field", 1, pintest::kCardInfo, "1|2|", same, nullptr, -14, false},
        {"amount beyond a moneyb field", 1, pintest::kCardInfo, "42949672.96|0|20240401103000|", same, nullptr, -14, false},
        {"no pay info", 1, pintest::kCardInfo, nullptr, same, nullptr, -14, false},
        {"another card", 1, otherCard.c_str(), kPayInfo, same, nullptr, -22, true},
        {"no PSAM", 1, pintest::kCardInfo, kPayInfo, [](vr::Profile &p) { p.psams.clear(); }, nullptr, -2201, true},
        {"PSAM without applications", 1, pintest::kCardInfo, kPayInfo,
         [](vr::Profile &p) { p.psams[0].applications.clear(); }, nullptr, -2202, true},
        {"PIN entry timed out", 1, pintest::kCardInfo, kPayInfo, same, "timeout", -32, true},
        {"initial PIN", 1, pintest::kCardInfo, kPayInfo, [](vr::Profile &p) { p.card->pin = "480913"; }, "480913", -35,
         true},
        {"balance too low", 1, pintest::kCardInfo, "500.00|0.01|20240401103000|", same, "123456", -37889, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        vr::Profile p = pintest::demoWith();
        row.change(p);
        {
            auto r = reader();
            for (uint8_t slot : {0x11, 0x12, 0x13, 0x14}) r->remove(slot);
        }
        load(p);
        if (row.typed) type({row.typed});
        mHreader = 0;
        EXPECT_EQ(debit(row.payInfo, row.cardInfo, row.iType), row.rc);
        EXPECT_EQ(text(), errorText(static_cast<int>(row.rc)));
        EXPECT_EQ(std::string(logbuf), "getErrorInf, code:" + std::to_string(row.rc) + ", error info " + text() + "\r\n");
        EXPECT_EQ(seen().empty(), !row.readerUsed);
        EXPECT_TRUE(seenOf({"01: B0 2C"}).empty());
        EXPECT_EQ(card->balance(), kBalance);
        EXPECT_EQ(mHreader, row.readerUsed ? -11 : 0);
    }
    type({"654321"});
    EXPECT_EQ(debit(), -51);
    EXPECT_EQ(text(), pintest::verifyRefused(2));
    bus().plug(vr::UsbVariant::NoReader);
    EXPECT_EQ(debit(), -11);
    EXPECT_EQ(text(), errorText(-11));
    EXPECT_EQ(debit(kPayInfo, pintest::kCardInfo, 1), -11);
}

// DoDebit on its own: its inputs are checked before anything is sent, and
// a PSAM whose application of the card's algorithm is missing at the
// second selection stops the transaction before MAC1.
TEST_F(Debit, DoDebitOnAPreparedCard) {
    prepare();
    struct Inputs {
        const char *first, *second, *third, *dateTime;
    };
    const Inputs bad[] = {
        {"", "1", "1", "20240401103000"},     {"0.0", "1.234", "1", "20240401103000"},
        {"0.0", "1", "-1", "20240401103000"}, {"0.0", "1", "1", "2024040110300"},
        {"0.0", "1", "1", "2024040110300x"},  {"0.0", nullptr, "1", "20240401103000"},
    };
    for (const Inputs &in : bad) {
        std::string a = in.first, b = in.second ? in.second : "", c = in.third, d = in.dateTime;
        EXPECT_EQ(DoDebit(handle, &a[0], in.second ? &b[0] : nullptr, &c[0], &d[0], out), -14);
        EXPECT_EQ(text(), errorText(-14));
    }
    EXPECT_TRUE(seen().empty());

    reader()->insert(0x11, std::make_shared<vr::Psam>());
    ASSERT_EQ(findAndOpenPSAM(handle, 1), 0);
    type({"123456"});
    char first[] = "0.0", second[] = "1", third[] = "2", dateTime[] = "20240401103000";
    EXPECT_EQ(DoDebit(handle, first, second, third, dateTime, out), -2202);
    EXPECT_EQ(text(), errorText(-2202));
    EXPECT_EQ(seenOf({"01: B0 28"}).size(), 1u);
    EXPECT_TRUE(seenOf({"11: 80 70", "01: B0 2C"}).empty());
    EXPECT_EQ(card->balance(), kBalance);
}

}  // namespace
}  // namespace debittest
