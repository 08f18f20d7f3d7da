// SPDX-License-Identifier: MIT
// PIN reload and unblock in three steps with the software security module,
// through the virtual reader: the challenge block and its order, the
// module's cryptogram and command as the card receives them, the keypad
// entries, the card's PIN state afterwards, and the sequence rules.
#include "hsm_fixture.h"

namespace hsmtest {
namespace {

class PinSteps : public HsmTest {
protected:
    // Steps 1 and 2 with the module's cryptogram; the Step 2 result.
    Result throughStep2(bool unblock) {
        Result r1 = pinStep1(unblock);
        EXPECT_EQ(r1.rc, 0) << r1.text;
        return pinStep2(unblock, ask(r1.text));
    }
    // A whole sequence with the module's answers; the Step 3 result.
    Result wholeSequence(bool unblock) {
        Result r2 = throughStep2(unblock);
        EXPECT_EQ(r2.rc, 0) << r2.text;
        return pinStep3(unblock, ask(r2.text));
    }
};

TEST_F(PinSteps, ChallengeBlockCarriesTheLaterChallengeFirst) {
    Result r1 = pinStep1(false);
    ASSERT_EQ(r1.rc, 0);
    std::vector<std::string> r = cardAnswers("00 84 00 00 08");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r1.text, "02|0090|" + r[1] + "|" + r[0] + "|");
    EXPECT_EQ(std::string(logbuf), "iReloadPIN_HSM_Step1, out para: 0, " + r1.text + "\r\n");
    EXPECT_EQ(mKeys[0], 0x06);
    // The module's cryptogram answers the card's last challenge.
    const std::string cryptogram = ask(r1.text);
    clearTrace();
    type({"246810", "246810"});
    EXPECT_EQ(pinStep2(false, cryptogram).rc, 0);
    EXPECT_EQ(seenOf({"01: 00 82"}), (Seq{at(1, "00 82 00 06 10 " + vr::toHex(hex(cryptogram)))}));
}

TEST_F(PinSteps, ReloadSetsTheTypedPin) {
    struct Row {
        int algorithm;
        const char *typed, *pin, *header;
    };
    // The PIN block (length, packed PIN, 80) of more than 6 PIN bytes
    // needs two 8-byte blocks.
    const Row rows[] = {
        {1, "123456", "123456", "842400010C"},         {1, "12345", "12345F", "842400010C"},
        {1, "123456789012", "123456789012", "842400010C"}, {1, "1234567890123", "1234567890123F", "8424000114"},
        {1, "1234567890123456", "1234567890123456", "8424000114"}, {2, "123456", "123456", "8424000114"},
        {3, "4321", "4321", "8424000114"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.typed) + " alg " + std::to_string(row.algorithm));
        vr::Profile p = pintest::demoWith(row.algorithm);
        p.card->pinTriesLeft = 1;
        use(p);
        type({row.typed, row.typed});
        Result r2 = throughStep2(false);
        ASSERT_EQ(r2.rc, 0) << r2.text;
        std::vector<std::string> f = fields(r2.text);
        ASSERT_EQ(f.size(), 5u);
        EXPECT_EQ(f[0] + f[1], "0" + std::to_string(row.algorithm) + "0173");
        EXPECT_EQ(f[2], cardAnswers("00 84 00 00 08").back());
        EXPECT_EQ(f[3] + "|" + f[4], std::string(row.header) + "|" + row.pin);
        EXPECT_EQ(entries(), (Seq{at(0, pintest::pinEntry("1B 65")), at(0, pintest::pinEntry("1B 45"))}));
        EXPECT_EQ(mKeys[2], 0x09);
        EXPECT_EQ(mHreader, getHandler());

        const std::string command = ask(r2.text);
        clearTrace();
        EXPECT_EQ(pinStep3(false, command), (Result{0, ""}));
        EXPECT_EQ(pinCommands(), (Seq{at(1, vr::toHex(hex(command)))}));
        EXPECT_EQ(std::string(logbuf), "\r\n\r\niReloadPIN_HSM_Step3, in para: " + command);
        EXPECT_EQ(card->pin(), std::string(row.typed));
        EXPECT_EQ(card->pinTriesLeft(), 3);
        expectClosed();
    }
}

TEST_F(PinSteps, UnblockRestoresTheTries) {
    for (int alg : {1, 2}) {
        SCOPED_TRACE(alg);
        vr::Profile p = pintest::demoWith(alg);
        p.card->pinTriesLeft = 0;
        use(p);
        Result r2 = throughStep2(true);
        EXPECT_EQ(r2.text, "0" + std::to_string(alg) + "|0173|" + cardAnswers("00 84 00 00 08").back() + "|8424000004||");
        EXPECT_EQ(std::string(logbuf), "iUnblockPIN_HSM_Step2, out para: 0, " + r2.text + "\r\n");
        EXPECT_TRUE(entries().empty());
        EXPECT_EQ(pinStep3(true, ask(r2.text)), (Result{0, ""}));
        EXPECT_EQ(card->pin(), "123456");
        EXPECT_EQ(card->pinTriesLeft(), 3);
        expectClosed();
    }
}

// Each failing later step: its code and text, what reached the card, and
// the sequence closed behind it.
TEST_F(PinSteps, LaterStepFailuresCloseTheSequence) {
    struct Row {
        const char *what;
        bool unblock;
        int step;                                                       // the step that fails
        std::function<std::string(const std::string &)> answer;         // from the module's
        long rc;
        const char *lastCommand;  // prefix of the card's last command in the step, or none
    };
    auto last = [](const std::string &s, char c) { return s.substr(0, s.size() - 1) + c; };
    const Row rows[] = {
        {"cryptogram of 31", false, 2, [](auto a) { return a.substr(1); }, -14, nullptr},
        {"cryptogram of 33", false, 2, [](auto a) { return a + "0"; }, -14, nullptr},
        {"cryptogram not hexadecimal", true, 2, [](auto a) { return a.substr(1) + "Z"; }, -14, nullptr},
        {"far too long", false, 2, [](auto) { return std::string(100000, '0'); }, -14, nullptr},
        {"another cryptogram", true, 2, [&](auto a) { return last(a, a.back() == '0' ? '1' : '0'); }, -25536, "00 82"},
        {"header with lower-case c", false, 3, [](auto a) { return "842400010c" + a.substr(10); }, -14, nullptr},
        {"long command with the short header", false, 3, [](auto a) { return "842400010C" + a.substr(10); }, -14, nullptr},
        {"reload command to unblock", true, 3, [](auto) { return "842400010C" + std::string(24, '0'); }, -14, nullptr},
        {"command not hexadecimal", true, 3, [](auto a) { return a.substr(0, 17) + "G"; }, -14, nullptr},
        {"another MAC", true, 3, [&](auto a) { return last(a, a.back() == '0' ? '1' : '0'); }, -27016, "84 24"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        use(pintest::demoWith());
        card->setPinTriesLeft(1);
        type({"246810", "246810"});
        Result r1 = pinStep1(row.unblock);
        ASSERT_EQ(r1.rc, 0);
        std::string answer = ask(r1.text);
        if (row.step == 3) {
            Result r2 = pinStep2(row.unblock, answer);
            ASSERT_EQ(r2.rc, 0);
            answer = ask(r2.text);
        }
        clearTrace();
        Result r = row.step == 2 ? pinStep2(row.unblock, row.answer(answer)) : pinStep3(row.unblock, row.answer(answer));
        EXPECT_EQ(r, failure(row.rc));
        Seq s = seenOf({"01: "});
        EXPECT_EQ(s.empty() ? "none" : s.back().substr(0, 9), row.lastCommand ? at(1, row.lastCommand) : "none");
        EXPECT_EQ(card->pinTriesLeft(), 1);
        // A refused cryptogram costs the key a try; a malformed one none.
        EXPECT_EQ(card->externalKey(0, 0x06)->tries, row.rc == -25536 ? 2 : 3);
        expectClosed();
    }
}

TEST_F(PinSteps, KeypadFailureClosesTheSequence) {
    struct Row {
        std::initializer_list<const char *> typed;
        long rc;
    };
    for (const Row &row : {Row{{"246810", "246811"}, -34}, Row{{"timeout"}, -32}, Row{{"123"}, -33}}) {
        SCOPED_TRACE(row.rc);
        use(pintest::demoWith());
        type(row.typed);
        Result r1 = pinStep1(false);
        ASSERT_EQ(r1.rc, 0);
        clearTrace();
        EXPECT_EQ(pinStep2(false, ask(r1.text)), failure(row.rc));
        EXPECT_TRUE(seenOf({"01: 00 84"}).empty());
        expectClosed();
        EXPECT_EQ(card->pin(), "123456");
    }
}

TEST_F(PinSteps, AnyCardCallEndsTheSequence) {
    Result r1 = pinStep1(false);
    ASSERT_EQ(r1.rc, 0);
    char out[KESTREL_BASEINFO_SIZE];
    EXPECT_EQ(iReadCardBas(1, out), 0);
    clearTrace();
    EXPECT_EQ(pinStep2(false, ask(r1.text)), failure(-11));
    EXPECT_TRUE(seen().empty());
    // A Step 1 over an open sequence opens the reader anew and goes on.
    ASSERT_EQ(pinStep1(true).rc, 0);
    EXPECT_EQ(wholeSequence(true).rc, 0);
}

TEST_F(PinSteps, Step1RefusesBeforeTheReaderOpens) {
    const int claims = bus().claimCount();
    const std::string row(KESTREL_ROW_SIZE, 'A');
    for (const std::string &info : {std::string(kCardInfo) + "|", std::string("430105|"), row + "|K43000042|"}) {
        SCOPED_TRACE(info.substr(0, 40));
        EXPECT_EQ(pinStep1(true, info), failure(-14));
    }
    EXPECT_EQ(pinStep1(false, kCardInfo, 5), failure(-14));
    EXPECT_EQ(readStep1(0), failure(-14));
    EXPECT_EQ(iReloadPIN_HSM_Step1(1, nullptr, nullptr), -14);
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(bus().claimCount(), claims);
}

TEST_F(PinSteps, Step1OfAnotherCard) {
    std::string lower = kCardInfo;
    lower[5] = 'd';  // the card's code is compared in upper case
    for (const std::string &info : {lower, std::string("430105D1560000050000000000000042|K43000043|")}) {
        SCOPED_TRACE(info);
        EXPECT_EQ(pinStep1(false, info), failure(-22));
        EXPECT_EQ(seenOf({"01: "}).back(), at(1, "00 B2 07 04 0B"));
        expectClosed();
    }
}

// At load time no step has kept a reader: a later step reaches the
// exchange with a handle that names no reader and fails there.
TEST_F(PinSteps, LaterStepBeforeAnyStep1) {
    mHreader = 0;
    EXPECT_EQ(pinStep2(false, std::string(32, '0')), failure(-28416));
    EXPECT_TRUE(seen().empty());
    expectClosed();
}

}  // namespace
}  // namespace hsmtest
