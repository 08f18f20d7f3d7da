// SPDX-License-Identifier: MIT
// Error table, status-word translation, error-text lookup and the export
// form of this layer's symbols.
#include <dlfcn.h>

#include "loaded_library.h"
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "errors/errors.h"
#include "kestrel.h"
#include "session/session.h"

namespace {

// UTF-8 to GB18030 with the system's iconv.
std::string toGb18030(const std::string &utf8) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = utf8;
    char out[256] = {};
    char *inp = &in[0];
    char *outp = out;
    size_t inLeft = in.size();
    size_t outLeft = sizeof out - 1;
    EXPECT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<size_t>(-1)) << utf8;
    iconv_close(cd);
    return std::string(out, outp);
}

struct Row {
    int code;
    const char *utf8;
};

// The codes and texts as a host sees them, in stored order.
const Row kRows[] = {
    {-1, "卡类型不对"},
    {-2, "无卡"},
    {-3, "有卡未上电"},
    {-4, "卡无应答"},
    {-5, "加载动态库错"},
    {-11, "读卡器连接错"},
    {-12, "未建立连接"},
    {-13, "（动态库）不支持该命令"},
    {-14, "（发给动态库的）命令参数错"},
    {-15, "信息校验和出错"},
    {-20, "卡识别码或规范版本格式错"},
    {-21, "内部认证失败（用户卡不合法）"},
    {-22, "传入数据与卡内不符"},
    {-23, "传入数据不合法"},
    {-24, "密钥权限不够"},
    {-25, "此卡文件结构中无传入的文件名或数据项"},
    {-31, "用户取消密码输入"},
    {-32, "密码输入操作超时"},
    {-33, "输入密码长度错"},
    {-34, "两次输入密码不一致"},
    {-35, "初始密码不能交易"},
    {-36, "不能改为初始密码"},
    {-41, "运算数据含非法字符"},
    {-42, "运算数据长度错"},
    {-51, "PIN校验失败，剩余次数N次（根据卡返回信息）"},
    {-52, "PIN锁定"},
    {-25536, "外部认证失败(剩余可尝试次数2次)"},
    {-25537, "外部认证失败(剩余可尝试次数1次)"},
    {-25538, "外部认证失败(剩余可尝试次数0次)"},
    {-26368, "Lc/Le不正确"},
    {-26881, "命令不接受（无效状态）"},
    {-27009, "命令与文件结构不相符、当前文件非所需文件"},
    {-27010, "不满足安全条件"},
    {-27011, "密钥锁定（算法锁定）鉴别方法锁定"},
    {-27012, "引用数据无效、随机数无效"},
    {-27013, "不满足使用条件、应用被锁定、应用未选择、余额上溢"},
    {-27016, "安全报文数据项不正确、MAC不正确"},
    {-27264, "数据域参数不正确"},
    {-27265, "不支持该功能、卡中无MF、卡被锁定、应用锁定"},
    {-27266, "未找到文件、文件标识相重、SFI不正确"},
    {-27267, "未找到记录"},
    {-27272, "未找到引用数据、未找到密钥"},
    {-37634, "MAC无效"},
    {-37635, "应用已被永久锁定、卡片锁定"},
    {-37891, "PSAM卡不支持消费交易"},
    {-37894, "所需MAC（或/和TAC）不可用"},
    {-2201, "无PSAM卡"},
    {-2202, "PSAM卡算法不支持"},
    {-2203, "PSAM卡内没有RKSSSE密钥"},
    {-2204, "不需要加密机认证"},
};
static_assert(sizeof kRows / sizeof kRows[0] == kErrorTableRows, "one expectation per row");

const std::string kUnknown = toGb18030("未知错误");

TEST(ErrorTable, EveryRowHasItsCodeAndGb18030TextInStoredOrder) {
    static_assert(sizeof(ErrorEntry) == 104, "an int and a 100-byte text field");
    for (size_t i = 0; i < kErrorTableRows; ++i) {
        SCOPED_TRACE(kRows[i].utf8);
        EXPECT_EQ(errortable[i].code, kRows[i].code);
        const std::string want = toGb18030(kRows[i].utf8);
        ASSERT_LT(want.size(), sizeof errortable[i].text);
        EXPECT_EQ(std::string(errortable[i].text), want);
        // The rest of the field is zero padding.
        for (size_t j = want.size(); j < sizeof errortable[i].text; ++j) {
            ASSERT_EQ(errortable[i].text[j], '\0') << "byte " << j;
        }
        // Codes are unique.
        for (size_t k = 0; k < i; ++k) EXPECT_NE(errortable[k].code, errortable[i].code);
    }
    EXPECT_EQ(std::string(kestrel::kUnknownErrorText), kUnknown);
    EXPECT_EQ(kUnknown.size(), 8u);
}

TEST(ErrorTable, LongestTextFitsACallerBufferOf49Bytes) {
    size_t longest = 0;
    for (const ErrorEntry &row : errortable) longest = std::max(longest, std::strlen(row.text));
    EXPECT_EQ(longest, 48u);
}

struct Translation {
    unsigned int sw;
    long code;
};

TEST(ApduErrTanslation, StatusWordsGiveTheirCodes) {
    const Translation cases[] = {
        // 63Cx: the tries the card reports, more than two shown as two.
        {0x63CF, -25536}, {0x63C3, -25536}, {0x63C2, -25536}, {0x63FF, -25536},
        {0x63C1, -25537},
        {0x63C0, -25538}, {0x6300, -25538}, {0x6381, -25538}, {0x63C1 - 2, -25538},
        // Everything else is negated, with or without a row.
        {0x6700, -26368}, {0x6901, -26881}, {0x6982, -27010}, {0x6A82, -27266},
        {0x9302, -37634}, {0x9406, -37894},
        {0x9000, -36864}, {0x6F00, -28416}, {0x6581, -25985}, {0x6B00, -27392},
        {0x6D00, -27904}, {0x6E00, -28160}, {0x9401, -37889}, {0x6200, -25088},
        {0x6400, -25600}, {0xFFFF, -65535}, {0x0001, -1}, {0x6FF0, -28656},
        // 0x0000 would negate to success; it is a failed exchange instead.
        {0x0000, -28416},
    };
    for (const Translation &c : cases) {
        EXPECT_EQ(apduErrTanslation(c.sw), c.code) << std::hex << "sw " << c.sw;
    }
}

TEST(ApduErrTanslation, EveryStatusWordGivesAFailure) {
    for (unsigned int sw = 0; sw <= 0xFFFF; ++sw) {
        const long code = apduErrTanslation(sw);
        ASSERT_LT(code, 0) << std::hex << sw;
        if ((sw >> 8) != 0x63 && sw != 0) {
            ASSERT_EQ(code, -static_cast<long>(sw)) << std::hex << sw;
        }
    }
}

// What a host sees after getErrorInf: the text in its buffer and the line
// in logbuf.
struct ErrorCase {
    int code;
    const char *utf8;  // null: the unknown-error text
};

TEST(GetErrorInf, WritesTextAndLeavesItsLogLine) {
    const ErrorCase cases[] = {
        {-2201, "无PSAM卡"},
        {-14, "（发给动态库的）命令参数错"},
        {-1, "卡类型不对"},
        {-2204, "不需要加密机认证"},
        {-27013, "不满足使用条件、应用被锁定、应用未选择、余额上溢"},
        {-27266, "未找到文件、文件标识相重、SFI不正确"},
        {static_cast<int>(apduErrTanslation(0x6A82)), "未找到文件、文件标识相重、SFI不正确"},
        {static_cast<int>(apduErrTanslation(0x63C1)), "外部认证失败(剩余可尝试次数1次)"},
        {0, nullptr},
        {-6, nullptr},
        {1, nullptr},
        {-36864, nullptr},
        {static_cast<int>(apduErrTanslation(0x6F00)), nullptr},
        {static_cast<int>(apduErrTanslation(0x9000)), nullptr},
        {INT32_MIN, nullptr},
    };
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.code);
        const std::string text = c.utf8 ? toGb18030(c.utf8) : kUnknown;
        std::strcpy(logbuf, "\r\n\r\niReadCardBas, in para: 1");
        char out[100];
        std::memset(out, 0x5A, sizeof out);
        getErrorInf(c.code, out);
        EXPECT_EQ(std::string(out), text);
        // Nothing past the NUL is touched.
        EXPECT_EQ(static_cast<unsigned char>(out[text.size() + 1]), 0x5A);
        EXPECT_EQ(std::string(logbuf), "getErrorInf, code:" + std::to_string(c.code) +
                                           ", error info " + text + "\r\n");
    }
}

TEST(GetErrorInf, NullBufferStillLogs) {
    getErrorInf(-2, nullptr);
    EXPECT_EQ(std::string(logbuf), "getErrorInf, code:-2, error info " + toGb18030("无卡") + "\r\n");
}

TEST(GetHandler, ReturnsTheSessionReaderHandle) {
    const long saved = mHreader;
    EXPECT_EQ(getHandler(), 0) << "0 at load";
    mHreader = 1700;
    EXPECT_EQ(getHandler(), 1700);
    mHreader = -11;
    EXPECT_EQ(getHandler(), -11);
    mHreader = saved;
}

TEST(SessionState, LoadTimeValues) {
    EXPECT_EQ(cardSlot, 0x01);
    EXPECT_EQ(psamSlot, 0x11);
    EXPECT_EQ(m_pin_verified, 0);
}

// Plain names for the host interface; the internal helpers only under
// their C++ symbols.
TEST(Exports, PlainAndCxxSymbols) {
    void *lib = loadedLibkestrel();
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char *plain : {"logbuf", "Addlog", "getHandler", "errortable", "cardSlot",
                              "psamSlot", "mHreader", "m_pin_verified"}) {
        EXPECT_NE(dlsym(lib, plain), nullptr) << plain;
    }
    for (const char *cxx : {"_Z11getErrorInfiPc", "_Z17apduErrTanslationj", "_Z3logPcz"}) {
        EXPECT_NE(dlsym(lib, cxx), nullptr) << cxx;
    }
    for (const char *absent : {"getErrorInf", "apduErrTanslation", "logInPara", "logOutPara"}) {
        EXPECT_EQ(dlsym(lib, absent), nullptr) << absent;
    }
    // The one logbuf that the library writes and a host reads.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "logbuf"), static_cast<void *>(logbuf));
    dlclose(lib);
}

}  // namespace
