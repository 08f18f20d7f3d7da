// SPDX-License-Identifier: MIT
// The call log: each line format, the bound of logbuf, Addlog and log.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "errors/errors.h"
#include "kestrel.h"

namespace {

std::string logged() {
    return std::string(logbuf);
}

struct LineCase {
    const char *what;
    std::function<void()> write;
    const char *line;
};

TEST(CallLog, EachLineFormat) {
    const unsigned char div[24] = {0x86, 0x01, 0x00, 0x00, 0x00, 0x12, 0x34, 0xAB,
                                   0x33, 0x01, 0x00, 's',  'x',  0x33, 0x00, 0x00,
                                   's',  'h',  0xFF, 0x0F, 0xF0, 0x00, 0x7F, 0x80};
    const unsigned char des1[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const unsigned char des2[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    const LineCase cases[] = {
        {"in: int", [] { logInPara("iReadCardBas", 1); }, "\r\n\r\niReadCardBas, in para: 1"},
        {"in: negative int", [] { logInPara("iReadBankNo", -7); }, "\r\n\r\niReadBankNo, in para: -7"},
        {"in: text", [] { logInPara("iReadCardBas_HSM_Step2", "0123|ABCD|"); },
         "\r\n\r\niReadCardBas_HSM_Step2, in para: 0123|ABCD|"},
        {"in: int, text", [] { logInPara("iReloadPIN", 3, "id|no|"); },
         "\r\n\r\niReloadPIN, in para: 3, id|no|"},
        {"in: int, 2 texts", [] { logInPara("iDoDebit", 1, "a|b|", "c|"); },
         "\r\n\r\niDoDebit, in para: 1, a|b|, c|"},
        {"in: int, 3 texts", [] { logInPara("iWriteCard", 2, "SSSE|", "EF05|", "x|"); },
         "\r\n\r\niWriteCard, in para: 2, SSSE|, EF05|, x|"},
        {"in: 2 ints, 2 texts", [] { logInPara("iReadCard", 1, 2, "SSSE|$", "|"); },
         "\r\n\r\niReadCard, in para: 1, 2, SSSE|$, |"},
        {"in: 2 texts", [] { logInPara("iWriteCard_HSM_Step2", "k|", "d|"); },
         "\r\n\r\niWriteCard_HSM_Step2, in para: k|, d|"},
        {"in: empty text", [] { logInPara("iReadCard_HSM_Step2", ""); },
         "\r\n\r\niReadCard_HSM_Step2, in para: "},
        {"out: text", [] { logOutPara("iReadCardBas", "330100|X|"); },
         "iReadCardBas, out para: 330100|X|\r\n"},
        {"out: code, text", [] { logOutPara("iDoDebit", 0, "0001|"); },
         "iDoDebit, out para: 0, 0001|\r\n"},
        {"error line", [] { logLine("%s, code:%d, error info %s\r\n", "getErrorInf", -11, "t"); },
         "getErrorInf, code:-11, error info t\r\n"},
        {"DivIndex", [&div] { logDivIndex(div, sizeof div); },
         "DivIndex: 86010000001234AB" "33010073783300007368" "FF0FF0007F80"},
        {"DivIndex, no bytes", [] { logDivIndex(nullptr, 24); }, "DivIndex: "},
        {"des", [&des1, &des2] { logDes(des1, des2); },
         "des1: 0123456789ABCDEF, Des2: FEDCBA9876543210"},
        // Percent signs and GB18030 bytes in a text are data, not format.
        {"in: text with %", [] { logInPara("iReadCardBas_HSM_Step2", "%s%n%d"); },
         "\r\n\r\niReadCardBas_HSM_Step2, in para: %s%n%d"},
        {"out: GB18030 text", [] { logOutPara("iReadCardBas", "\xD5\xC5\xC8\xFD|"); },
         "iReadCardBas, out para: \xD5\xC5\xC8\xFD|\r\n"},
        // A null text from a careless host is logged as empty.
        {"in: null text", [] { logInPara("iReloadPIN", 1, static_cast<const char *>(nullptr)); },
         "\r\n\r\niReloadPIN, in para: 1, "},
        {"in: null texts", [] { logInPara("iReadCard", 1, 2, nullptr, nullptr); },
         "\r\n\r\niReadCard, in para: 1, 2, , "},
        {"out: null text", [] { logOutPara("iDoDebit", 0, nullptr); }, "iDoDebit, out para: 0, \r\n"},
        {"des: null", [] { logDes(nullptr, nullptr); }, "des1: , Des2: "},
    };
    for (const LineCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(logbuf, 'Z', 200);
        c.write();
        EXPECT_EQ(logged(), c.line);
    }
}

TEST(CallLog, LineIsWrittenFromTheStartAndReplacesThePrevious) {
    logInPara("iReadCard", 1, 2, std::string(300, 'A').c_str(), "B");
    logInPara("iTryPIN", 1);
    EXPECT_EQ(logged(), "\r\n\r\niTryPIN, in para: 1");
}

TEST(CallLog, LongLinesAreCutAtTheBufferEnd) {
    const std::string huge(20000, 'Q');
    const size_t last = KESTREL_LOGBUF_SIZE - 1;

    logInPara("iWriteCard", 1, huge.c_str(), huge.c_str(), huge.c_str());
    std::string line = logged();
    ASSERT_EQ(line.size(), last);
    EXPECT_EQ(line.substr(0, 30), "\r\n\r\niWriteCard, in para: 1, QQ");
    EXPECT_EQ(line.back(), 'Q');

    // An out-para line keeps its CR LF.
    logOutPara("iReadCardBas", huge.c_str());
    line = logged();
    ASSERT_EQ(line.size(), last);
    EXPECT_EQ(line.substr(0, 26), "iReadCardBas, out para: QQ");
    EXPECT_EQ(line.substr(last - 3), "Q\r\n");

    logOutPara("iDoDebit", 0, huge.c_str());
    EXPECT_EQ(logged().size(), last);
    EXPECT_EQ(logged().substr(last - 2), "\r\n");

    // A line of exactly the buffer's capacity is kept whole; one byte more is cut.
    const std::string prefix = "iReadCardBas, out para: ";
    const std::string fits(last - prefix.size() - 2, 'F');
    logOutPara("iReadCardBas", fits.c_str());
    EXPECT_EQ(logged(), prefix + fits + "\r\n");
    const std::string over = fits + "G";
    logOutPara("iReadCardBas", over.c_str());
    EXPECT_EQ(logged(), prefix + fits + "\r\n");

    // Hex traces stop at a whole byte.
    static unsigned char bytes[8000];
    std::memset(bytes, 0xA5, sizeof bytes);
    logDivIndex(bytes, sizeof bytes);
    line = logged();
    EXPECT_EQ(line.size(), 10 + 2 * ((last - 10) / 2));
    EXPECT_EQ(line.substr(0, 14), "DivIndex: A5A5");
    EXPECT_EQ(line.back(), '5');
}

TEST(CallLog, ArgumentsMayPointIntoLogbuf) {
    // A hexadecimal text built in logbuf's upper part and then logged.
    std::strcpy(logbuf + 1024, "00112233");
    logLine("DivIndex: %s", logbuf + 1024);
    EXPECT_EQ(logged(), "DivIndex: 00112233");

    // The previous line as the text of the next.
    logInPara("iReadCardBas", 1);
    logOutPara("iReadCardBas", logbuf + 4);
    EXPECT_EQ(logged(), "iReadCardBas, out para: iReadCardBas, in para: 1\r\n");
}

TEST(CallLog, LogDoesNothing) {
    std::strcpy(logbuf, "unchanged");
    char fmt[] = "%s%s%s%n";
    log(fmt);
    log(fmt, 1, "two", 3.0);
    log(nullptr);
    EXPECT_EQ(logged(), "unchanged");
}

// Addlog runs in a fresh working directory, where the log file's name
// "E:\qvlog.txt" is an ordinary relative file name.
class AddlogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
        std::string tmpl = (std::filesystem::temp_directory_path() / "kestrel-addlog-XXXXXX").string();
        ASSERT_NE(mkdtemp(&tmpl[0]), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        std::remove(kFile);
        ASSERT_EQ(chdir(saved_), 0);
        rmdir(dir_.c_str());
    }
    static std::string contents() {
        std::ifstream in(kFile, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool exists() {
        struct stat st;
        return stat(kFile, &st) == 0;
    }
    static constexpr const char *kFile = "E:\\qvlog.txt";
    char saved_[PATH_MAX] = {};
    std::string dir_;
};

TEST_F(AddlogTest, WithoutTheFileWritesNothingAndCreatesNothing) {
    Addlog("a line");
    Addlog("");
    EXPECT_FALSE(exists());
}

TEST_F(AddlogTest, AppendsLinesWithCrLfToAnExistingFile) {
    { std::ofstream(kFile, std::ios::binary) << "old\r\n"; }
    const std::string longLine(20000, 'L');
    Addlog("first");
    Addlog("");
    Addlog(longLine.c_str());
    Addlog(nullptr);
    EXPECT_EQ(contents(), "old\r\nfirst\r\n\r\n" + longLine + "\r\n");
}

TEST_F(AddlogTest, LeavesADirectoryInThePlaceOfTheFileAlone) {
    ASSERT_EQ(mkdir(kFile, 0700), 0);
    Addlog("x");
    ASSERT_EQ(rmdir(kFile), 0);
}

}  // namespace
