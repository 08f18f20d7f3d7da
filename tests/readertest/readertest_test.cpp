// SPDX-License-Identifier: MIT
// readertest as a program: run under vreader, from the build directory,
// with its standard output compared line by line, and the reader's trace
// of what it received.
//
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo_cards.h"
#include "kestrel.h"
#include "virtual_reader.h"

extern char **environ;

namespace {

std::string buildDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string p(path);
    return p.substr(0, p.rfind('/'));
}

struct Outcome {
    int status = -1;
    std::string out;                 // readertest's standard output
    std::vector<std::string> sent;   // "<NAD> <bytes>" of every message the reader received
};

// Runs `vreader [options] -- <build>/readertest [args]` with its working
// directory set to `dir`.
Outcome runReadertest(const std::string &dir, const std::vector<std::string> &options,
                  const std::vector<std::string> &args) {
    const std::string build = buildDir();
    const std::string traceFile = build + "/readertest-trace-" + std::to_string(getpid()) + ".txt";
    std::vector<std::string> argv;
    if (const char *emulator = getenv("VREADER_EMULATOR")) argv.push_back(emulator);
    argv.push_back(build + "/vreader");
    argv.push_back("--trace-file=" + traceFile);
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--");
    argv.push_back(build + "/readertest");
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (auto &a : argv) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);
    // vreader makes a simulated bus of its own: it must not run on this
    // process's.
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, "LD_PRELOAD=", 11) != 0 && strncmp(*e, "UMOCKDEV_DIR=", 13) != 0) env.push_back(*e);
    std::vector<char *> cenv;
    for (auto &e : env) cenv.push_back(const_cast<char *>(e.c_str()));
    cenv.push_back(nullptr);

    Outcome r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::ifstream trace(traceFile);
    std::string line;
    while (std::getline(trace, line)) {
        if (line.rfind("-> ", 0) != 0) continue;
        // "-> NAD <slot name> <name> <bytes>": keep the NAD and the bytes,
        // which follow the last run of two or more blanks.
        size_t bytesAt = line.rfind("  ");
        r.sent.push_back(line.substr(3, 2) + " " + line.substr(bytesAt == std::string::npos ? 6 : bytesAt + 2));
    }
    unlink(traceFile.c_str());
    return r;
}

// ---- expected outputs --------------------------------------------------

const char kIdentityCardHeader[] = "------iReadIdentityCard Test---------\n";
const char kSocialSecurityHeader[] = "------iReadSBCard Test---------\n";
const char kBankCardHeader[] = "------iReadBankNo Test---------\n";
const char kMemoryCardHeader[] = "------iReadM1Card Test---------\n";
const char kUsage[] =
    "Usage: readertest TEST   (1 identity card, 2 social-security card, 3 bank-card number, "
    "4 contactless memory card)\n";

// ---- tests ---------------------------------------------------------------

// Runs readertest from build/ and expects `expected` on its standard output
// and exit status 0.
Outcome expectOutput(const std::vector<std::string> &options, const std::vector<std::string> &args,
                     const std::string &expected) {
    Outcome r = runReadertest(buildDir(), options, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected);
    return r;
}

TEST(Readertest, MissingArgumentPrintsAUsageLine) { expectOutput({"--empty"}, {}, kUsage); }

TEST(Readertest, OtherNumbersRunNoTest) {
    for (const char *arg : {"0", "5", "-1", "12", "x"}) {
        SCOPED_TRACE(arg);
        Outcome r = expectOutput({"--empty"}, {arg}, "");
        EXPECT_TRUE(r.sent.empty());
    }
}

TEST(Readertest, LibraryNotFound) {
    // The test's own directory holds no libkestrel.so.
    std::string dir = buildDir() + "/tests";
    Outcome r = runReadertest(dir, {"--empty"}, {"1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Open Error:./libkestrel.so: cannot open shared object file: No such file or directory.\n");
}

TEST(Readertest, IdentityCardWithoutAModule) {
    Outcome r = expectOutput({"--empty"}, {"1"},
                             std::string(kIdentityCardHeader) + "iReadIdentityCard Failed, return=-2\n");
    EXPECT_EQ(r.sent, std::vector<std::string>{"1B 00 12 00 00 00"});
}

TEST(Readertest, MemoryCardTestGoesOnAfterFailures) {
    // An empty field: the reader answers FF 05 (65285) to every command.
    Outcome r = expectOutput({"--empty"}, {"4"},
                             std::string(kMemoryCardHeader) + "iReadM1Card Failed1, return = 65285\n" +
                                 "iReadM1Card Failed2, return = 65285\n" + "iReadM1Card Failed, return = 65285\n");
    EXPECT_EQ(r.sent, (std::vector<std::string>{"15 80 11 09 00 00", "15 80 11 02 00 08 00 00 5E 3A 91 C7 24 8B",
                                                "15 80 11 03 00 01 00"}));
}

// A profile file for one test, removed afterwards.
class ProfileFile {
public:
    explicit ProfileFile(const std::string &text)
        : path_(buildDir() + "/readertest-" + std::to_string(getpid()) + ".profile") {
        std::ofstream(path_) << text;
    }
    ~ProfileFile() { unlink(path_.c_str()); }
    std::string option() const { return "--profile=" + path_; }

private:
    std::string path_;
};

std::string gb(const std::string &utf8) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    std::vector<char> out(utf8.size() * 2 + 4);
    char *in = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size(), outLeft = out.size();
    char *dst = out.data();
    iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    return std::string(out.data(), static_cast<size_t>(dst - out.data()));
}

// What readertest prints of a text buffer: n bytes in lower-case hex.
std::string hexLine(std::string bytes, size_t n) {
    bytes.resize(n, '\0');
    std::string s;
    char two[3];
    for (unsigned char c : bytes) {
        snprintf(two, sizeof two, "%02x", c);
        s += two;
    }
    return s + "\n";
}

TEST(Readertest, IdentityCardOfTheDemonstrationProfile) {
    // The holder of sim/profiles/demo.profile.
    const std::string name = "\xE6\x9E\x97\xE6\x99\x93\xE5\xB2\x9A";  // 林晓岚
    const std::string address =                                        // 江苏省南京市鼓楼区示范路18号
        "\xE6\xB1\x9F\xE8\x8B\x8F\xE7\x9C\x81\xE5\x8D\x97\xE4\xBA\xAC\xE5\xB8\x82\xE9\xBC\x93\xE6\xA5\xBC"
        "\xE5\x8C\xBA\xE7\xA4\xBA\xE8\x8C\x83\xE8\xB7\xAF" "18" "\xE5\x8F\xB7";
    const std::string authority =                                      // 南京市公安局鼓楼分局
        "\xE5\x8D\x97\xE4\xBA\xAC\xE5\xB8\x82\xE5\x85\xAC\xE5\xAE\x89\xE5\xB1\x80\xE9\xBC\x93\xE6\xA5\xBC"
        "\xE5\x88\x86\xE5\xB1\x80";
    const std::string text = "|" + gb(name) + "|" + gb("\xE5\xA5\xB3") + "|" + gb("\xE6\xB1\x89\xE6\x97\x8F") +
                             "|19900307|" + gb(address) + "|320106199003072026|20200115|20400115|" + gb(authority) +
                             "|";
    Outcome r =
        expectOutput({}, {"1"}, std::string(kIdentityCardHeader) + "iReadIdentityCard Success\n" + hexLine(text, 200));
    EXPECT_EQ(r.sent, (std::vector<std::string>{
                          "1B 00 12 00 00 00", "1B AA AA AA 96 69 00 03 12 FF EE", "1B AA AA AA 96 69 00 04 61 FF 78 E2",
                          "1B AA AA AA 96 69 00 03 20 01 22", "1B AA AA AA 96 69 00 03 20 02 21",
                          "1B AA AA AA 96 69 00 03 30 01 32", "00 80 F2 00 01 00"}));
}

TEST(Readertest, IdentityCardNotInTheField) {
    ProfileFile profile("[idcard]\nin-field = no\n");
    expectOutput({profile.option()}, {"1"}, std::string(kIdentityCardHeader) + "iReadIdentityCard Failed, return=-36864\n");
}

TEST(Readertest, MemoryCardBlockZero) {
    ProfileFile profile("[memory-card]\nblock 0 = 3A 7C 21 9E F9 08 04 00 62 63 64 65 66 67 68 69\n");
    expectOutput({profile.option()}, {"4"},
                 std::string(kMemoryCardHeader) + "iReadM1Card Success\n3a7c219ef908040062636465666768" "69\n");
}

TEST(Readertest, MemoryCardWithAnotherKey) {
    // Activation works; the sector key is refused (63 00) and so is the
    // read of a block of a sector not authenticated (69 82).
    ProfileFile profile("[memory-card]\nkey = 00 00 00 00 00 00\n");
    expectOutput({profile.option()}, {"4"},
                 std::string(kMemoryCardHeader) + "iReadM1Card Failed2, return = 25344\n" +
                     "iReadM1Card Failed, return = 27010\n");
}

// What iReadCardBas writes for the card of the demonstration profile,
// read here in-process through the same virtual reader.
std::string basicInformationOfTheDemoCard() {
    vr::VirtualReader &bus = vr::VirtualReader::instance();
    bus.plug(vr::UsbVariant::Reader);
    vr::insertDemoCards(*bus.reader());
    char buf[1024] = {'0'};
    EXPECT_EQ(iReadCardBas(1, buf), 0) << buf;
    return std::string(buf, sizeof buf);
}

TEST(Readertest, SocialSecurityCard) {
    std::string basic = basicInformationOfTheDemoCard();
    EXPECT_EQ(basic.compare(0, 7, "430105|"), 0);
    expectOutput({}, {"2"}, std::string(kSocialSecurityHeader) + "iReadSBCard Success\n" + hexLine(basic, 200));
    // No card: the library's own line about it comes first.
    expectOutput({"--empty"}, {"2"},
                 std::string(kSocialSecurityHeader) + "dwRet==0x6200IFD_ICC_NoExist\n" + "iReadSBCard Failed, return=-2\n");
}

TEST(Readertest, BankCardNumber) {
    // The demonstration card's account number, 6217000000000000042, and
    // the buffer's zero bytes up to 25.
    Outcome r = expectOutput({}, {"3"},
                             std::string(kBankCardHeader) + "iReadBankNo Success\n" +
                                 hexLine("6217000000000000042", 25));
    ASSERT_FALSE(r.sent.empty());
    EXPECT_EQ(r.sent[1], "12 00 12 00 00 00") << "the card is reset before the payment environment is selected";
    // A card without a payment application.
    ProfileFile profile("[card]\n");
    expectOutput({profile.option()}, {"3"}, std::string(kBankCardHeader) + "iReadBankNo Failed, return=-27266\n");
}

}  // namespace
