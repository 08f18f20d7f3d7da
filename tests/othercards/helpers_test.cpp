// SPDX-License-Identifier: MIT
// The identity card's helpers without the reader: ethnic-group names,
// Base64, the iconv conversion and the photo placeholder.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "othercards/othercards.h"

namespace {

TEST(GetNation, EveryCodeOfTheTable) {
    const struct {
        int code;
        const char *name;
    } cases[] = {
        {1, "\xBA\xBA\xD7\xE5"},  // 汉族
        {2, "\xC3\xC9\xB9\xC5\xD7\xE5"},  // 蒙古族
        {3, "\xBB\xD8\xD7\xE5"},  // 回族
        {4, "\xB2\xD8\xD7\xE5"},  // 藏族
        {5, "\xCE\xAC\xCE\xE1\xB6\xFB\xD7\xE5"},  // 维吾尔族
        {6, "\xC3\xE7\xD7\xE5"},  // 苗族
        {7, "\xD2\xCD\xD7\xE5"},  // 彝族
        {8, "\xD7\xB3\xD7\xE5"},  // 壮族
        {9, "\xB2\xBC\xD2\xC0\xD7\xE5"},  // 布依族
        {10, "\xB3\xAF\xCF\xCA\xD7\xE5"},  // 朝鲜族
        {11, "\xC2\xFA\xD7\xE5"},  // 满族
        {12, "\xB6\xB1\xD7\xE5"},  // 侗族
        {13, "\xD1\xFE\xD7\xE5"},  // 瑶族
        {14, "\xB0\xD7\xD7\xE5"},  // 白族
        {15, "\xCD\xC1\xBC\xD2\xD7\xE5"},  // 土家族
        {16, "\xB9\xFE\xC4\xE1\xD7\xE5"},  // 哈尼族
        {17, "\xB9\xFE\xC8\xF8\xBF\xCB\xD7\xE5"},  // 哈萨克族
        {18, "\xB4\xF6\xD7\xE5"},  // 傣族
        {19, "\xC0\xE8\xD7\xE5"},  // 黎族
        {20, "\xC0\xFC\xCB\xDB\xD7\xE5"},  // 傈僳族
        {21, "\xD8\xF4\xD7\xE5"},  // 佤族
        {22, "\xEE\xB4\xD7\xE5"},  // 畲族
        {23, "\xB8\xDF\xC9\xBD\xD7\xE5"},  // 高山族
        {24, "\xC0\xAD\xEC\xEF\xD7\xE5"},  // 拉祜族
        {25, "\xCB\xAE\xD7\xE5"},  // 水族
        {26, "\xB6\xAB\xCF\xE7\xD7\xE5"},  // 东乡族
        {27, "\xC4\xC9\xCE\xF7\xD7\xE5"},  // 纳西族
        {28, "\xBE\xB0\xC6\xC4\xD7\xE5"},  // 景颇族
        {29, "\xBF\xC2\xB6\xFB\xBF\xCB\xD7\xCE\xD7\xE5"},  // 柯尔克孜族
        {30, "\xCD\xC1\xD7\xE5"},  // 土族
        {31, "\xB4\xEF\xCE\xD3\xB6\xFB\xD7\xE5"},  // 达斡尔族
        {32, "\xD8\xEF\xC0\xD0\xD7\xE5"},  // 仫佬族
        {33, "\xC7\xBC\xD7\xE5"},  // 羌族
        {34, "\xB2\xBC\xC0\xCA\xD7\xE5"},  // 布朗族
        {35, "\xC8\xF6\xC0\xAD\xD7\xE5"},  // 撒拉族
        {36, "\xC3\xAB\xC4\xCF\xD7\xE5"},  // 毛南族
        {37, "\xD8\xEE\xC0\xD0\xD7\xE5"},  // 仡佬族
        {38, "\xCE\xFD\xB2\xAE\xD7\xE5"},  // 锡伯族
        {39, "\xB0\xA2\xB2\xFD\xD7\xE5"},  // 阿昌族
        {40, "\xC6\xD5\xC3\xD7\xD7\xE5"},  // 普米族
        {41, "\xCB\xFE\xBC\xAA\xBF\xCB\xD7\xE5"},  // 塔吉克族
        {42, "\xC5\xAD\xD7\xE5"},  // 怒族
        {43, "\xCE\xDA\xD7\xCE\xB1\xF0\xBF\xCB\xD7\xE5"},  // 乌孜别克族
        {44, "\xB6\xED\xC2\xDE\xCB\xB9\xD7\xE5"},  // 俄罗斯族
        {45, "\xB6\xF5\xCE\xC2\xBF\xCB\xD7\xE5"},  // 鄂温克族
        {46, "\xB5\xC2\xB0\xBA\xD7\xE5"},  // 德昂族
        {47, "\xB1\xA3\xB0\xB2\xD7\xE5"},  // 保安族
        {48, "\xD4\xA3\xB9\xCC\xD7\xE5"},  // 裕固族
        {49, "\xBE\xA9\xD7\xE5"},  // 京族
        {50, "\xCB\xFE\xCB\xFE\xB6\xFB\xD7\xE5"},  // 塔塔尔族
        {51, "\xB6\xC0\xC1\xFA\xD7\xE5"},  // 独龙族
        {52, "\xB6\xF5\xC2\xD7\xB4\xBA\xD7\xE5"},  // 鄂伦春族
        {53, "\xBA\xD5\xD5\xDC\xD7\xE5"},  // 赫哲族
        {54, "\xC3\xC5\xB0\xCD\xD7\xE5"},  // 门巴族
        {55, "\xE7\xF3\xB0\xCD\xD7\xE5"},  // 珞巴族
        {56, "\xBB\xF9\xC5\xB5\xD7\xE5"},  // 基诺族
        {97, "\xC6\xE4\xCB\xFB"},  // 其他
        {98, "\xCD\xE2\xB9\xFA\xD1\xAA\xCD\xB3\xD6\xD0\xB9\xFA\xBC\xAE\xC8\xCB\xCA\xBF"},  // 外国血统中国籍人士
    };
    char name[19];
    for (const auto &c : cases) {
        std::memset(name, 0x5A, sizeof name);
        getNation(c.code, name);
        EXPECT_STREQ(name, c.name) << c.code;
    }
    // The longest name fills the 19 bytes exactly.
    getNation(98, name);
    EXPECT_EQ(std::strlen(name), 18u);
}

TEST(GetNation, CodesWithoutANameGiveTheEmptyText) {
    char name[19];
    for (int code : {0, 57, 60, 96, 99, 100, 255, -1, -97, 1 << 30}) {
        std::memset(name, 0x5A, sizeof name);
        getNation(code, name);
        EXPECT_STREQ(name, "") << code;
    }
}

TEST(Base64, Rfc4648Vectors) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\x00\x00\x00", 3), "AAAA"},
        {"\xFF\xFF\xFF", "////"},
        {"\xFB\xEF\xBE", "++++"},
        {std::string("\x80\x00", 2), "gAA="},
    };
    for (const auto &c : cases) {
        char out[32];
        std::memset(out, 0x5A, sizeof out);
        EXPECT_EQ(Base64_Encode(out, c.in.data(), c.in.size()), static_cast<long>(c.out.size())) << c.out;
        EXPECT_STREQ(out, c.out.c_str());
    }
}

TEST(Base64, AlphabetAndItsEnd) {
    EXPECT_STREQ(base64, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=");
    const struct {
        unsigned char index;
        char c;
    } cases[] = {{0, 'A'}, {25, 'Z'}, {26, 'a'}, {52, '0'}, {62, '+'}, {63, '/'}, {64, '='}, {65, '\0'}, {255, '\0'}};
    for (const auto &c : cases) EXPECT_EQ(Encode_GetChar(c.index), c.c) << int(c.index);
}

TEST(Bmp2Jpeg, WritesNothing) {
    unsigned char bmp[4] = {1, 2, 3, 4}, jpeg[4] = {9, 9, 9, 9};
    EXPECT_EQ(BMP2JPEG(bmp, sizeof bmp, jpeg), 0);
    EXPECT_EQ(jpeg[0], 9);
    EXPECT_EQ(BMP2JPEG(nullptr, 0, nullptr), 0);
}

// code_convert with the card's byte order.
struct Converted {
    int rc;
    std::string out;
    std::string printed;
};
Converted convert(const char *from, const char *to, const std::string &in, size_t outLen) {
    char out[64];
    std::memset(out, 0x5A, sizeof out);
    testing::internal::CaptureStdout();
    int rc = code_convert(const_cast<char *>(from), const_cast<char *>(to), const_cast<char *>(in.data()),
                          in.size(), out, outLen);
    std::string printed = testing::internal::GetCapturedStdout();
    // Past outLen nothing is written.
    for (size_t i = outLen; i < sizeof out; ++i) EXPECT_EQ(out[i], 0x5A) << i;
    return {rc, std::string(out, strnlen(out, outLen)), printed};
}

TEST(CodeConvert, Ucs2LittleEndianToGb18030) {
    const std::string han("\x49\x6C\xCF\x65", 4);  // U+6C49 U+65CF
    const struct {
        const char *name;
        std::string in;
        size_t outLen;
        int rc;
        std::string out;
        const char *printed;
    } cases[] = {
        {"ascii", std::string("A\0B\0", 4), 10, 0, "AB", ""},
        {"chinese", han, 10, 0, "\xBA\xBA\xD7\xE5", ""},
        {"empty", "", 10, 0, "", ""},
        {"odd length", std::string("A\0B", 3), 10, -1, "A", "code_convert cd iconv error\n"},
        {"surrogate", std::string("A\0\x00\xD8", 4), 10, -1, "A", "code_convert cd iconv error\n"},
        {"output full", han, 3, -1, "\xBA\xBA", "code_convert cd iconv error\n"},
        {"output exactly full", han, 4, 0, "\xBA\xBA\xD7\xE5", ""},
        // A byte-order mark is a character like any other in little-endian
        // order: FF FE is U+FEFF, which GB18030 holds in four bytes.
        {"mark", std::string("\xFF\xFE" "A\0", 4), 10, 0, "\x84\x31\x95\x33" "A", ""},
    };
    for (const auto &c : cases) {
        Converted r = convert("UCS-2LE", "GB18030", c.in, c.outLen);
        EXPECT_EQ(r.rc, c.rc) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.printed, c.printed) << c.name;
    }
}

TEST(CodeConvert, UnknownEncoding) {
    Converted r = convert("NO-SUCH-CODE", "GB18030", "AB", 10);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "");  // cleared all the same
    EXPECT_EQ(r.printed, "code_convert cd open error\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(code_convert(nullptr, nullptr, nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "code_convert cd open error\n");
}

}  // namespace
