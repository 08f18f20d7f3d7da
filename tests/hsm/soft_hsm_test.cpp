// SPDX-License-Identifier: MIT
// The software security module: the requests it refuses, and vreader-hsm,
// its command-line form, serving a whole step sequence of the library.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cards/ss_directory.h"
#include "hsm_fixture.h"

extern char **environ;

namespace hsmtest {
namespace {

using SoftHsm = HsmTest;

TEST_F(SoftHsm, RequestsItCannotServe) {
    const std::string r8 = "1122334455667788";
    struct Row {
        std::string request, error;
    };
    const Row rows[] = {
        {"", "not a request"},
        {"02|0090|" + r8 + "|", "not a request"},
        {"02|0091|" + r8 + "|" + r8 + "|", "unknown key address 0091"},
        {"02|009|" + r8 + "|" + r8 + "|", "key address is not"},
        {"02|0090|" + r8 + "|" + r8.substr(1) + "x|", "malformed challenge"},
        {"2|0090|" + r8 + "|" + r8 + "|", "malformed challenge"},
        // 8 encrypted bytes cannot be SM4 blocks; a PIN of 7 bytes does
        // not fit one 8-byte block.
        {"02|0173|" + r8 + "|842400010C|123456|", "does not fit the cipher"},
        {"01|0173|" + r8 + "|842400010C|12345678901234|", "PIN does not fit"},
        {"01|0173|" + r8 + "|842400010C||", "no PIN"},
        {"02|017F|11223344|0003|000004E20000012C|32|430105000007|2024040110300|", "malformed debit"},
        {"02|0180|11223344|0003|000004E20000012C|32|430105000007|20240401103000|", "unknown key address 0180"},
        {std::string(5000, '|'), "too long"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.request.substr(0, 60));
        std::string reply, error;
        EXPECT_FALSE(hsm->answer(row.request, &reply, &error));
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
    // Requests without card data need the card.
    std::string reply, error;
    vr::SoftHsm bare{vr::KeySet()};
    EXPECT_FALSE(bare.answer("02|0090|" + r8 + "|" + r8 + "|", &reply, &error));
    EXPECT_EQ(error, "no card set for key address 0090");
}

// Every key address of the card's layout names, in the module, the master
// of the file's key: the card, driven directly, accepts the module's
// cryptogram for its own challenge in the file's DF, on every version.
TEST_F(SoftHsm, KnowsTheKeyOfEveryFile) {
    for (int version : {1, 2, 3}) {
        const vr::Profile p = ofVersion(version);
        std::shared_ptr<vr::SsCard> c = vr::buildCard(p);
        const vr::SoftHsm module = vr::softHsmFor(p);
        for (const vr::DirFile &f : vr::cardDirectory(version)) {
            for (const vr::DirAccess *a : {&f.read, &f.write}) {
                if (!a->address) continue;
                SCOPED_TRACE(std::to_string(version) + " " + hex4(f.df) + " " + hex4(f.ef) + " " + hex4(a->address));
                c->reset();
                c->transmit(hex(sectest::kSelectApp));
                if (f.df) {
                    EXPECT_EQ(c->transmit(hex("00 A4 00 00 02 " + hex4(f.df))), hex("90 00"));
                }
                const Bytes r1 = c->transmit(hex(sectest::kGetChallenge)), r2 = c->transmit(hex(sectest::kGetChallenge));
                ASSERT_EQ(r2.size(), 10u);
                std::string reply, error;
                ASSERT_TRUE(module.answer("02|" + hex4(a->address) + "|" + digits(Bytes(r2.begin(), r2.end() - 2)) +
                                              "|" + digits(Bytes(r1.begin(), r1.end() - 2)) + "|",
                                          &reply, &error))
                    << error;
                EXPECT_EQ(c->transmit(hex("00 82 00 " + vr::toHex(Bytes{a->key.kid}) + " 10 " + reply)), hex("90 00"));
            }
        }
    }
}

std::string buildDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string p(path);
    return p.substr(0, p.rfind('/'));
}

struct Exit {
    int status;
    std::string out;
};

// Runs vreader-hsm with the arguments (and text on its standard input).
Exit vreaderHsm(std::vector<std::string> args, const std::string &input = "") {
    std::vector<std::string> argv;
    if (const char *emulator = getenv("VREADER_EMULATOR")) argv.push_back(emulator);
    argv.push_back(buildDir() + "/vreader-hsm");
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (auto &a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return {-1, ""};
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(in[0], 0);
        int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, 2);
        for (int fd : {out[0], out[1], in[0], in[1]}) close(fd);
        execve(cargv[0], cargv.data(), environ);
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    if (!input.empty()) {
        EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
    close(in[1]);
    Exit r{-1, ""};
    char buf[1024];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// The module's answer line without its newline.
std::string answerOf(const Exit &r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.out.empty());
    return r.out.empty() ? r.out : r.out.substr(0, r.out.size() - 1);
}

TEST_F(SoftHsm, CommandLineServesASequence) {
    // vreader-hsm holds the demonstration profile, as the reader does.
    use(vr::demoProfile());
    card->setPinTriesLeft(0);
    Result r1 = pinStep1(true);
    ASSERT_EQ(r1.rc, 0);
    Result r2 = pinStep2(true, answerOf(vreaderHsm({r1.text})));
    ASSERT_EQ(r2.rc, 0) << r2.text;
    EXPECT_EQ(pinStep3(true, answerOf(vreaderHsm({"-"}, r2.text + "\n"))), (Result{0, ""}));
    EXPECT_EQ(card->pinTriesLeft(), 3);

    // The basic-information request names its card itself; for the
    // others --atr and --card-id put another card in place of the
    // profile's, whose cryptogram this card refuses.
    const std::vector<std::string> other = {"--atr=3B 00 11 22 33 44 55 66 77", "--card-id=" + std::string(32, '1')};
    Result b1 = readStep1();
    ASSERT_EQ(b1.rc, 0);
    EXPECT_EQ(readStep2(answerOf(vreaderHsm({other[0], other[1], b1.text}))).rc, 0);
    Result o1 = pinStep1(true);
    ASSERT_EQ(o1.rc, 0);
    EXPECT_EQ(pinStep2(true, answerOf(vreaderHsm({other[0], other[1], o1.text}))), failure(-25536));

    // A debit with the terminal serial given.
    type({"123456"});
    Result d1 = debitStep1("0|1.00|20240401103000|");
    ASSERT_EQ(d1.rc, 0) << d1.text;
    Result d2 = debitStep2(answerOf(vreaderHsm({"--serial=0000BEEF", d1.text})));
    ASSERT_EQ(d2.rc, 0) << d2.text;
    EXPECT_EQ(fields(d2.text).at(6), "0000BEEF");
    EXPECT_EQ(card->balance(), 49900u);
}

TEST_F(SoftHsm, CommandLineRefusals) {
    struct Row {
        std::vector<std::string> args;
        int status;
    };
    const Row rows[] = {
        {{"not|a|request|"}, 1},
        {{}, 2},
        {{"a|", "b|"}, 2},
        {{"--profile=/nonexistent/x.profile", "a|"}, 2},
        {{"--atr=3B00", "a|"}, 2},
        {{"--card-id=XY", "a|"}, 2},
        {{"--serial=0102030405", "a|"}, 2},
    };
    for (const Row &row : rows) {
        Exit r = vreaderHsm(row.args);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
}  // namespace hsmtest
