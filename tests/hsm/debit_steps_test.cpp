// SPDX-License-Identifier: MIT
// The debit in two steps with the software security module, through the
// virtual reader: the debit request and the commands of Step 1, the
// module's answer as the card receives it, the result text, the card's
// balance and records afterwards, and the refusals of both steps.
#include "hsm_fixture.h"

namespace hsmtest {
namespace {

using namespace sectest;

constexpr uint32_t kBalance = 50000;  // the demonstration purse, in fen
constexpr const char *kSelectDF04 = "00 A4 00 00 02 DF 04";

class DebitSteps : public HsmTest {
protected:
    // Step 1 after the holder typed the PIN; the debit request.
    Result requested(const std::string &pay = "12.50|3.00|20240401103000|") {
        type({"123456"});
        Result r1 = debitStep1(pay);
        EXPECT_EQ(r1.rc, 0) << r1.text;
        return r1;
    }
    // The commands from the first one that is `from` on.
    static Seq seenFrom(const std::string &from) {
        Seq all = seen(), out;
        for (const std::string &c : all)
            if (!out.empty() || c == from) out.push_back(c);
        return out;
    }
};

TEST_F(DebitSteps, DebitsTheCardWithTheModulesMac1) {
    hsm->setTerminalSerial(0xABCD12EF);
    Result r1 = requested();
    std::vector<std::string> init = cardAnswers("00 C0 00 00 16");
    ASSERT_EQ(init.size(), 1u);
    // The card's pseudo-random number and transaction serial, the amounts
    // 12.50 and 3.00, the PSAM's terminal number and the date and time.
    EXPECT_EQ(r1.text, "02|017F|" + init[0].substr(36, 8) + "|0003|000004E20000012C|32|430105000007|20240401103000|");
    EXPECT_EQ(std::string(inParaBuffer1), r1.text);
    EXPECT_EQ(std::string(logbuf), "iDoDebit_HSM_Step1, out para: 0, " + r1.text + "\r\n");
    // The PIN, then the purse with the terminal number of the PSAM of the
    // card's algorithm.
    EXPECT_EQ(seenOf({"00: 00 F9 08", "01: 00 20"}),
              (Seq{at(0, pintest::pinEntry("1B 49")), at(1, "00 20 00 00 03 12 34 56")}));
    EXPECT_EQ(seenFrom(at(1, kSelectDF04)),
              (Seq{at(1, kSelectDF04), at(0x11, kPowerOn), at(0x11, kSelectSx2), at(0x11, "00 C0 00 00 13"),
                   at(0x11, kSelectTerminal), at(0x11, kReadTerminal),
                   at(1, "B0 28 01 01 13 01 00000000 000004E2 0000012C 430105000007"), at(1, "00 C0 00 00 16")}));

    // The serial as the host passed it, in lower case, and a field after
    // the three that the debit takes.
    std::string answer = ask(r1.text);
    ASSERT_EQ(answer.substr(0, 24), "ABCD12EF|20240401103000|");
    answer = "abcd12ef" + answer.substr(8) + "FF|";
    clearTrace();
    Result r2 = debitStep2(answer);
    ASSERT_EQ(r2.rc, 0) << r2.text;
    EXPECT_EQ(seenOf({"01: "}),
              (Seq{at(1, "B0 2C 01 00 0F ABCD12EF 20240401103000 " + vr::toHex(hex(answer.substr(24, 8)))),
                   at(1, "00 C0 00 00 08")}));
    const std::string debited = cardAnswers("00 C0 00 00 08").at(0);
    EXPECT_EQ(r2.text, debited.substr(8) + "|02|00B5|000004E20000012C|32|430105000007|abcd12ef|20240401103000|" +
                           debited.substr(0, 8) + "|");
    EXPECT_EQ(std::string(logbuf), "iDoDebit_HSM_Step2, out para: 0, " + r2.text + "\r\n");
    EXPECT_EQ(card->balance(), kBalance - 1550);
    EXPECT_EQ(digits(card->purseRecords().at(0)),
              std::string("0003") + "32" + "430105000007" + "20240401103000" + "00000000000004E20000012C");
    expectClosed();
}

// The module serves cards of every algorithm, and without a PSAM (or one
// that cannot serve the card's algorithm) the debit goes ahead with the
// terminal number zero.
TEST_F(DebitSteps, AlgorithmsAndTerminalNumbers) {
    struct Row {
        const char *what;
        int algorithm;
        std::function<void(vr::Profile &)> change;
        const char *terminal;
    };
    const Row rows[] = {
        {"algorithm 1", 1, [](vr::Profile &) {}, "430105000007"},
        {"algorithm 3", 3, [](vr::Profile &) {}, "430105000007"},
        {"no PSAM", 2, [](vr::Profile &p) { p.psams.clear(); }, "000000000000"},
        {"PSAM without the application", 2, [](vr::Profile &p) { p.psams[0].applications.clear(); },
         "000000000000"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        vr::Profile p = pintest::demoWith(row.algorithm);
        row.change(p);
        use(p);
        if (p.psams.empty()) reader()->remove(0x11);
        Result r1 = requested("0|0.01|20240401103100|");
        EXPECT_EQ(fields(r1.text).at(6), row.terminal);
        Result r2 = debitStep2(ask(r1.text));
        ASSERT_EQ(r2.rc, 0) << r2.text;
        EXPECT_EQ(fields(r2.text).at(5), row.terminal);
        EXPECT_EQ(card->balance(), kBalance - 1);
    }
}

// Step 1 refusals: before the reader opens, or after it, which closes it
// again; the purse is never initialized.
TEST_F(DebitSteps, Step1Refusals) {
    std::string lower = kCardInfo;
    lower[5] = 'd';
    struct Row {
        const char *what;
        std::string pay, info;
        int iType;
        const char *typed;  // the PIN the holder types, if asked
        Result result;
        bool opened;
    };
    const Row rows[] = {
        {"card type 0", "1|2|20240401103000|", kCardInfo, 0, nullptr, failure(-14), false},
        {"three | in the card info", "1|2|20240401103000|", std::string(kCardInfo) + "|", 1, nullptr, failure(-14), false},
        {"three decimals", "1.005|2|20240401103000|", kCardInfo, 1, nullptr, failure(-14), false},
        {"a date of 13 digits", "1|2|2024040110300|", kCardInfo, 1, nullptr, failure(-14), false},
        {"no date", "1|2|", kCardInfo, 1, nullptr, failure(-14), false},
        {"another card", "1|2|20240401103000|", lower, 1, nullptr, failure(-22), true},
        {"the initial PIN", "1|2|20240401103000|", kCardInfo, 1, "480913", failure(-35), true},
        {"a wrong PIN", "1|2|20240401103000|", kCardInfo, 1, "654321", {-51, pintest::verifyRefused(2)}, true},
        {"more than the balance", "500|0.01|20240401103000|", kCardInfo, 1, "123456", failure(-37889), true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        mHreader = -11;
        if (row.typed) type({row.typed});
        clearTrace();
        EXPECT_EQ(debitStep1(row.pay, row.info, row.iType), row.result);
        EXPECT_EQ(seen().empty(), !row.opened);
        expectClosed();
    }
    EXPECT_EQ(card->balance(), kBalance);
    GuardedBuffer out(KESTREL_HSM_OUT_SIZE);
    std::string info = kCardInfo;
    EXPECT_EQ(iDoDebit_HSM_Step1(1, &info[0], nullptr, out.text()), -14);
    EXPECT_EQ(out.str(), errorText(-14));
    EXPECT_TRUE(seen().empty());
}

// Step 2 refusals: the code, whether the card saw the debit, the balance
// unchanged, and the sequence closed behind them.
TEST_F(DebitSteps, Step2Refusals) {
    struct Row {
        const char *what;
        std::function<std::string(const std::string &)> answer;
        long rc;
        bool sent;
    };
    const Row rows[] = {
        {"the third field without its |", [](auto a) { return a.substr(0, a.size() - 1); }, -14, false},
        {"a serial of 7 digits", [](auto a) { return a.substr(1); }, -14, false},
        {"a MAC1 not hexadecimal", [](auto a) { return a.substr(0, a.size() - 2) + "G|"; }, -14, false},
        {"an answer far longer than any buffer", [](auto a) { return std::string(20000, '1') + a; }, -14, false},
        {"another MAC1", [](auto a) { return a.substr(0, a.size() - 2) + (a[a.size() - 2] == '0' ? "1|" : "0|"); },
         -37634, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Result r1 = requested();
        const std::string answer = row.answer(ask(r1.text));
        clearTrace();
        EXPECT_EQ(debitStep2(answer), failure(row.rc));
        EXPECT_EQ(seenOf({"01: B0 2C"}).size(), row.sent ? 1u : 0u);
        expectClosed();
    }

    // Any card call between the steps ends the sequence.
    Result r1 = requested();
    char out[KESTREL_BASEINFO_SIZE];
    EXPECT_EQ(iReadCardBas(1, out), 0);
    clearTrace();
    EXPECT_EQ(debitStep2(ask(r1.text)), failure(-11));
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(card->balance(), kBalance);
}

// The card's answer to the debit is lost on the way: the host is told of
// a failure and of the transaction to look for, and finds it among the
// card's records.
TEST_F(DebitSteps, LostAnswerToTheDebit) {
    Result r1 = requested();
    const std::string answer = ask(r1.text);
    reader()->reshapeNext([](uint8_t nad, const Bytes &) { return vr::Reader::split(nad, hex("6F 00")); });
    EXPECT_EQ(debitStep2(answer), failure(-28416));
    const std::string error = std::string(logbuf);
    EXPECT_EQ(error.substr(error.find("iDoDebit_HSM_Step2, debit")),
              "iDoDebit_HSM_Step2, debit not confirmed: serial 0003, terminal serial " + answer.substr(0, 8) +
                  ", TAC \r\n");
    EXPECT_EQ(card->balance(), kBalance - 1550);
    expectClosed();
    type({"123456"});
    GuardedBuffer records(KESTREL_DEBIT_RECORDS_SIZE);
    ASSERT_EQ(iReadDebitRecord(1, records.text()), 0);
    EXPECT_EQ(records.str().substr(0, 33), "0003^430105000007^20240401103000^");
}

}  // namespace
}  // namespace hsmtest
