// SPDX-License-Identifier: MIT
// The basic-information read checked by the software security module,
// through the virtual reader: the request a host receives, the module's
// answer, the card's acceptance of the module's cryptogram (version 3),
// the text of the read, and each malformed or wrong answer.
#include "hsm_fixture.h"

namespace hsmtest {
namespace {

using ReadBasic = HsmTest;

// The demonstration card's basic information with its version text.
std::string basicInfo(const std::string &version) {
    return "430105|430105198001010042|K43000042|430105D1560000050000000000000042|" + pintest::gb("张三") +
           "|00814B45535343000000000042|" + version + "|20240301|20340301|430105000007|KVR1-000000000000042|";
}

TEST_F(ReadBasic, EndToEnd) {
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        use(version == 3 ? version3() : pintest::demoWith());
        const std::string expected = basicInfo(version == 3 ? "3.00" : "2.00");

        clearTrace();
        Result r1 = readStep1();
        ASSERT_EQ(r1.rc, 0) << r1.text;
        std::vector<std::string> f = fields(r1.text);
        ASSERT_EQ(f.size(), 9u);
        EXPECT_EQ(f[0] + "|" + f[2] + "|" + f[3], "430105|02|430105D1560000050000000000000042");
        // The challenges as the card gave them, the later of each pair first.
        std::vector<std::string> challenges = cardAnswers("00 84 00 00 08");
        ASSERT_EQ(challenges.size(), version == 3 ? 4u : 2u);
        EXPECT_EQ(f[4] + f[5], challenges[1] + challenges[0]);
        EXPECT_EQ(f[6] + f[7], version == 3 ? challenges[3] + challenges[2] : "");
        EXPECT_EQ(f[8], "KVR1-000000000000042");
        EXPECT_EQ(std::string(logbuf), "iReadCardBas_HSM_Step1, out para: 0, " + r1.text + "\r\n");
        EXPECT_EQ(mHreader, getHandler());
        EXPECT_GT(mHreader, 0);

        const std::string answer = ask(r1.text);
        clearTrace();
        EXPECT_EQ(readStep2(answer), (Result{0, expected}));
        Seq auth = seenOf({"01: 00 82"});
        const Seq none;
        EXPECT_EQ(auth, version == 3 ? Seq{at(1, "00 82 00 0A 10 " + vr::toHex(hex(fields(answer)[1])))} : none);
        EXPECT_EQ(std::string(logbuf), "iReadCardBas_HSM_Step2, out para: " + expected + "\r\n");
        expectClosed();
    }
}

// What Step 2 makes of answers derived from the module's: the code, and
// whether the card saw an external authentication.
TEST_F(ReadBasic, ModuleAnswers) {
    use(version3());
    struct Row {
        const char *what;
        std::function<std::string(const std::string &, const std::string &)> answer;  // from fields 1 and 2
        long rc;
        bool authenticates;
    };
    auto flip = [](std::string s, size_t i) {
        s[i] = s[i] == '0' ? '1' : '0';
        return s;
    };
    auto lower = [](std::string s) {
        for (char &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const Row rows[] = {
        {"only the first 16 digits count", [&](auto a, auto b) { return flip(a, 20) + "|" + b + "|"; }, 0, true},
        {"lower case", [&](auto a, auto b) { return lower(a) + "|" + lower(b) + "|"; }, 0, true},
        {"another internal answer", [&](auto a, auto b) { return flip(a, 15) + "|" + b + "|"; }, -21, false},
        {"field 1 of 31", [](auto a, auto b) { return a.substr(1) + "|" + b + "|"; }, -14, false},
        {"field 1 of 33", [](auto a, auto b) { return a + "0|" + b + "|"; }, -14, false},
        {"field 1 not hexadecimal", [](auto a, auto b) { return "G" + a.substr(1) + "|" + b + "|"; }, -14, false},
        {"field 2 without its |", [](auto a, auto b) { return a + "|" + b; }, -14, false},
        {"three fields", [](auto a, auto b) { return a + "|" + b + "||"; }, -14, false},
        {"field 2 of 33", [](auto a, auto b) { return a + "|" + b + "0|"; }, -14, false},
        {"field 2 not hexadecimal", [](auto a, auto b) { return a + "|" + b.substr(1) + "x|"; }, -14, false},
        {"far too long", [](auto a, auto) { return a + "|" + std::string(100000, 'A') + "|"; }, -14, false},
        // The card refuses the cryptogram (key 0A has 2 tries left) ...
        {"another cryptogram", [&](auto a, auto b) { return a + "|" + flip(b, 3) + "|"; }, -25536, true},
        // ... and without it keeps EF06 closed (69 82).
        {"no external authentication", [](auto a, auto) { return a + "||"; }, -27010, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Result r1 = readStep1();
        ASSERT_EQ(r1.rc, 0);
        std::vector<std::string> good = fields(ask(r1.text));
        ASSERT_EQ(good.size(), 2u);
        clearTrace();
        Result r2 = readStep2(row.answer(good[0], good[1]));
        EXPECT_EQ(r2, row.rc ? failure(row.rc) : (Result{0, basicInfo("3.00")}));
        EXPECT_EQ(seenOf({"01: 00 82"}).size(), row.authenticates ? 1u : 0u);
        expectClosed();
    }
}

}  // namespace
}  // namespace hsmtest
