// SPDX-License-Identifier: MIT
// Value conversions between card encodings and text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "bytes.h"
#include "datamodel/datamodel.h"

namespace {

TEST(Hex, CHexToBin) {
    struct Case {
        const char *text;
        unsigned n;
        const char *want;
    } cases[] = {
        {"ABC", 3, "AB C0"},      // odd count: the NUL gives the last low nibble
        {"ABCD", 3, "AB CD"},     // ... or the character after the n-th
        {"0a1B", 4, "0A 1B"},     // either case
        {"G1", 2, "01"},          // non-digit high nibble counts 0
        {"1G", 2, "10"},          // non-digit low nibble counts 0
        {"", 2, "00"},            // not read past the NUL
        {"12", 0, ""},
    };
    for (const Case &c : cases) {
        char out[8];
        memset(out, 0x55, sizeof out);
        EXPECT_EQ(CHexToBin(out, c.text, c.n), out);
        auto want = bytes(c.want);
        EXPECT_EQ(hexOf(reinterpret_cast<unsigned char *>(out), want.size()), c.want) << c.text;
        EXPECT_EQ(out[want.size()], 0x55) << c.text;  // nothing written past (n+1)/2
    }
}

TEST(Hex, BinToCHexAndCheck) {
    char out[16];
    const char in[] = {0x0A, static_cast<char>(0xFF), 0x00};
    EXPECT_STREQ(BinToCHex(out, in, 3), "0AFF00");
    EXPECT_STREQ(BinToCHex(out, in, 0), "");

    EXPECT_EQ(checkHexNumber("09afAF"), 0);
    EXPECT_EQ(checkHexNumber(""), 0);
    EXPECT_EQ(checkHexNumber("0G"), -1);
    EXPECT_EQ(checkHexNumber("12 "), -1);
    EXPECT_EQ(checkHexNumber("\xC4\xE3"), -1);  // high bytes are not digits on any char sign
    EXPECT_EQ(checkDigitalNumber("0123.9"), 0);
    EXPECT_EQ(checkDigitalNumber(""), 0);
    EXPECT_EQ(checkDigitalNumber("1a"), -1);
    EXPECT_EQ(checkDigitalNumber("-1"), -1);
}

TEST(Cn, ToText) {
    struct Case {
        const char *card;
        const char *text;
    } cases[] = {
        {"12 34 5F", "12345"}, {"1F 2F", "1F2"},   {"12 F3 FF", "12F3"},
        {"FF FF", ""},         {"20 24 01 31", "20240131"},
    };
    for (const Case &c : cases) {
        auto in = bytes(c.card);
        char out[32];
        int n = cnToAsc(out, reinterpret_cast<const char *>(in.data()), int(in.size()));
        EXPECT_STREQ(out, c.text) << c.card;
        EXPECT_EQ(n, int(strlen(c.text))) << c.card;
    }
}

TEST(Money, CardToText) {
    struct Case {
        const char *card;
        const char *moneycn;  // as moneycn
        const char *moneyb;   // as moneyb
    } cases[] = {
        {"12 34 5F FF", "123.45", "3054223.35"},
        {"00 12 3F FF", "1.23", "11960.31"},
        {"1A 23 FF FF", "0.01", "4385669.11"},  // moneycn digits stop at the A
        {"00 00 30 39", "30.39", "123.45"},
        {"00 00 00 00", "0.00", "0.00"},
        {"99 99 99 99", "999999.99", "25769803.77"},
        {"FF FF FF FE", "", "42949672.94"},
        {"FF FF FF FF", "", ""},                // no value
    };
    for (const Case &c : cases) {
        auto in = bytes(c.card);
        char out[16];
        memset(out, 'x', sizeof out);
        int n = moneycnToAsc(out, reinterpret_cast<char *>(in.data()));
        EXPECT_STREQ(out, c.moneycn) << c.card;
        EXPECT_EQ(n, int(strlen(c.moneycn)));
        memset(out, 'x', sizeof out);
        n = moneybToAsc(out, reinterpret_cast<char *>(in.data()));
        EXPECT_EQ(std::string(out, n), c.moneyb) << c.card;
        EXPECT_EQ(out[n], 0) << c.card;  // terminated as well
    }
    unsigned char digits[16];
    unsigned char src[] = {0x12, 0x3A, 0x45};
    EXPECT_EQ(moneycnRemoveNonnumchar(digits, src, 3), 3);
    EXPECT_STREQ(reinterpret_cast<char *>(digits), "123");
    EXPECT_EQ(digits[4], 0);
    EXPECT_EQ(digits[5], 0);
}

TEST(Money, TextToCard) {
    struct Case {
        const char *text;
        const char *moneyb;
        const char *moneycn;
    } cases[] = {
        {"12.3", "00 00 04 CE", "12 30 FF FF"},
        {"12.345", "00 00 04 D2", "12 34 FF FF"},  // cut, not rounded
        {"12.", "00 00 04 B0", "12 00 FF FF"},
        {".5", "00 00 00 32", "50 FF FF FF"},
        {"7", "00 00 02 BC", "70 0F FF FF"},
        {"0", "00 00 00 00", "0F FF FF FF"},
        {"", "00 00 00 00", "0F FF FF FF"},
        {"000.07", "00 00 00 07", "7F FF FF FF"},  // leading zeros dropped in moneycn
        {"999999.99", "05 F5 E0 FF", "99 99 99 99"},
    };
    for (const Case &c : cases) {
        char text[32];
        strcpy(text, c.text);
        unsigned char out[5] = {0, 0, 0, 0, 0x55};
        EXPECT_EQ(ascToMoneyb(reinterpret_cast<char *>(out), text), 4);
        EXPECT_EQ(hexOf(out, 4), c.moneyb) << c.text;
        EXPECT_EQ(ascToMoneycn(reinterpret_cast<char *>(out), text), 4);
        EXPECT_EQ(hexOf(out, 4), c.moneycn) << c.text;
        EXPECT_EQ(out[4], 0x55);
    }
    // Unchecked text longer than the working buffer or than 8 digits is
    // still confined to 4 bytes.
    std::string longText(300, '9');
    unsigned char out[5] = {0, 0, 0, 0, 0x55};
    ascToMoneycn(reinterpret_cast<char *>(out), longText.data());
    EXPECT_EQ(hexOf(out, 5), "99 99 99 99 55");
    ascToMoneyb(reinterpret_cast<char *>(out), longText.data());
    EXPECT_EQ(out[4], 0x55);
}

TEST(Money, CheckMoneyFormat) {
    struct Case {
        std::string text;
        int valid;
    } cases[] = {
        {"999999.99", 1}, {"0", 1},          {"", 1},          {"12.3", 1},
        {"12.345", 1},    {".5", 1},         {"99999999", 0},  {"1000000", 0},
        {"0999999.99", 0}, {"12a", 0},       {"-1", 0},        {" 1", 0},
        // A second "." would reach the card as a nibble or cut the amount.
        {"1.2.3", 0},     {"12.3.", 0},      {std::string(127, '0'), 0},
        {std::string(128, '1'), 0},
    };
    for (auto &c : cases) EXPECT_EQ(checkMoneyFormat(c.text.data()), c.valid) << c.text;
}

TEST(Helpers, CopiesAndBinaryAmounts) {
    char out[8];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(memcpyAdd0(out, "ABCDE", 3), 4);
    EXPECT_STREQ(out, "ABC");
    EXPECT_EQ(strcpyFixLen(out, "AB\0CD", 5), 2);
    EXPECT_STREQ(out, "AB");

    const unsigned char a[] = {0x00, 0x00, 0x30, 0x39};
    EXPECT_DOUBLE_EQ(BCDTodouble(a), 123.45);
    const unsigned char neg[] = {0xFF, 0xFF, 0xFF, 0x9C};
    EXPECT_DOUBLE_EQ(BCDTodouble(neg), -1.0);

    struct Case {
        double value;
        const char *want;
    } cases[] = {
        {12345.9, "00 00 30 39"},  {-100.0, "FF FF FF 9C"},      {-0.5, "00 00 00 00"},
        {2147483648.0, "80 00 00 00"}, {4294967295.9, "FF FF FF FF"}, {1e12, "FF FF FF FF"},
        {-1e12, "80 00 00 00"},    {std::nan(""), "00 00 00 00"},
    };
    for (const Case &c : cases) {
        unsigned char b[4];
        DoubleToBCD(b, c.value);
        EXPECT_EQ(hexOf(b, 4), c.want) << c.value;
    }
}

}  // namespace
