// SPDX-License-Identifier: MIT
// Record and TLV codecs: card bytes to text and back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "datamodel/datamodel.h"

namespace {

std::string decode(const std::vector<unsigned char> &data, int dataType, int *ret = nullptr) {
    std::vector<unsigned char> in = data;  // exact size: ASan sees any over-read
    unsigned char out[600];
    memset(out, 'x', sizeof out);
    int n = recordToAsc(out, in.data(), unsigned(in.size()), dataType);
    if (ret) *ret = n;
    return std::string(reinterpret_cast<char *>(out), n > 0 ? n : 0);
}

std::string tlvText(const std::vector<unsigned char> &data, unsigned char parent, int ver,
                    int *ret = nullptr) {
    std::vector<unsigned char> in = data;
    unsigned char out[600];
    memset(out, 'x', sizeof out);
    int n = tlvToAsc(out, in.data(), unsigned(in.size()), parent, ver);
    if (ret) *ret = n;
    EXPECT_EQ(out[n > 0 ? n : 0], 0);
    return std::string(reinterpret_cast<char *>(out), n > 0 ? n : 0);
}

std::string rrText(const std::vector<unsigned char> &data, const char *file, int *ret = nullptr) {
    std::vector<unsigned char> in = data;
    unsigned char out[600];
    memset(out, 'x', sizeof out);
    std::string addr = file;
    int n = recordToAscRR(out, in.data(), unsigned(in.size()), 0, addr.data());
    if (ret) *ret = n;
    EXPECT_EQ(out[n > 0 ? n : 0], 0);
    return std::string(reinterpret_cast<char *>(out), n > 0 ? n : 0);
}

// Encodes and returns "rc:bytes", checking nothing lands past the result.
std::string encode(const std::string &text, unsigned len, int dataType) {
    std::string t = text;
    unsigned char out[300];
    memset(out, 0x55, sizeof out);
    int n = ascToRecord(out, t.data(), len, dataType);
    if (n < 0) return std::to_string(n);
    for (unsigned i = unsigned(n); i < sizeof out && i < len + 4; ++i)
        EXPECT_EQ(out[i], 0x55) << text << " byte " << i;
    return std::to_string(n) + ":" + hexOf(out, n);
}

TEST(RecordDecode, EveryDataType) {
    struct Case {
        const char *card;
        int dataType;
        const char *text;
    } cases[] = {
        {"41 42 00 43", 1, "AB"},
        {"C4 E3 BA C3", 1, "\xC4\xE3\xBA\xC3"},  // GB18030 bytes pass through (你好)
        {"12 34 5F", 15, "12345"},
        {"12 34 5F FF", 16, "123.45"},
        {"FF FF FF FF", 16, ""},
        {"00 00 30 39", 17, "123.45"},
        {"FF FF FF FF", 17, ""},
        {"0A FF", 255, "0AFF"},
        {"0A FF", 2, "0AFF"},  // composite without its parent: binary
        {"0A FF", 99, "0AFF"},
        {"12 34", 16, ""},     // a money value needs its 4 bytes
        {"12 34", 17, ""},
    };
    for (const Case &c : cases) {
        int n;
        EXPECT_EQ(decode(bytes(c.card), c.dataType, &n), c.text) << c.card << " " << c.dataType;
        EXPECT_EQ(n, int(strlen(c.text)));
    }
}

TEST(RecordDecode, CompositeValue) {
    // Parent 40 of version 2: 57/3/1, 58/3/15, 59/40/1.
    std::vector<unsigned char> data = bytes("57 03 41 42 43 58 03 12 3F FF 59 28 58");
    data.resize(data.size() + 39, 0);
    int n;
    EXPECT_EQ(tlvText(data, 0x40, 2, &n), "ABC^123^X^");
    EXPECT_EQ(n, 10);
    // Card order is followed, not table order.
    EXPECT_EQ(tlvText(bytes("58 03 45 6F FF 57 03 41 00 00"), 0x40, 2), "456^A^");
    // Version 1 lists 40 and 41 as parents of the same children.
    EXPECT_EQ(tlvText(bytes("58 03 12 3F FF"), 0x41, 1), "123^");
    EXPECT_EQ(tlvText(bytes("58 03 12 3F FF"), 0x41, 2, &n), "");
    EXPECT_EQ(n, 0);
    // Dispatch on the data type.
    unsigned char out[64];
    auto in = bytes("58 03 12 3F FF");
    EXPECT_EQ(recordToAscTLV(out, in.data(), 5, 2, 0x40, 2), 4);
    EXPECT_EQ(recordToAscTLV(out, in.data(), 5, 255, 0x40, 2), 10);
    EXPECT_STREQ(reinterpret_cast<char *>(out), "5803123FFF");
}

TEST(RecordDecode, MalformedCompositeGivesEmptyText) {
    const char *bad[] = {
        "58 04 12 3F FF 00",  // length byte differs from the table
        "5A 03 41 42 43",     // not a child of 40
        "58 03 12 3F",        // value runs past the data
        "58 03 12 3F FF 57",  // header cut after the tag byte
        "58",                 // header cut
    };
    for (const char *b : bad) {
        int n = -1;
        EXPECT_EQ(tlvText(bytes(b), 0x40, 2, &n), "") << b;
        EXPECT_EQ(n, 0) << b;
    }
    EXPECT_EQ(tlvText({}, 0x40, 2), "");
}

TEST(RecordDecode, CyclicRecords) {
    int n;
    EXPECT_EQ(rrText(bytes("12 34 41"), "DF04EF15", &n), "1234^A^");
    EXPECT_EQ(n, 7);
    EXPECT_EQ(rrText(bytes("12 34 41 99 99"), "DF04EF15"), "1234^A^");  // extra bytes ignored
    // DF04 EF08: 2/255, 1/1, 6/15, 7/15, 4/17, 4/17, 4/17.
    auto rec = bytes("00 01 31 20 24 01 31 12 00 20 24 01 31 23 59 59 00 00 30 39 "
                     "FF FF FF FF 00 00 00 00");
    EXPECT_EQ(rrText(rec, "DF04EF08"), "0001^1^202401311200^20240131235959^123.45^^0.00^");
    rec.pop_back();  // one byte short: the last field runs past the data
    EXPECT_EQ(rrText(rec, "DF04EF08", &n), "");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(rrText(bytes("12 34 41"), "DF01EF05", &n), "");  // no record layout
    EXPECT_EQ(n, 0);
}

TEST(RecordEncode, EveryDataType) {
    struct Case {
        const char *text;
        unsigned len;
        int dataType;
        const char *want;
    } cases[] = {
        {"ABCDE", 3, 1, "3:41 42 43"},
        {"AB", 4, 1, "4:41 42 00 00"},
        {"", 2, 1, "2:00 00"},
        {"123", 3, 15, "3:12 3F FF"},
        {"20240131", 4, 15, "4:20 24 01 31"},
        {"123456789", 4, 15, "4:12 34 56 78"},  // digits past 2*len dropped
        {"12.3", 3, 15, "-1"},                  // cn holds digits only
        {"1a", 3, 15, "-1"},
        {"", 4, 16, "4:FF FF FF FF"},
        {"12.3", 4, 16, "4:12 30 FF FF"},
        {"1000000", 4, 16, "-1"},
        {"1.2.3", 4, 16, "-1"},
        {"12.3", 3, 16, "-1"},                  // money is 4 bytes
        {"", 4, 17, "4:00 00 00 00"},
        {"123.45", 4, 17, "4:00 00 30 39"},
        {"12a", 4, 17, "-1"},
        {"0aFf", 2, 255, "2:0A FF"},
        {"0A", 2, 255, "1:0A"},                 // shorter binary value
        {"0A1", 2, 255, "-1"},                  // odd digit count would lose a digit
        {"0AFF01", 2, 255, "-1"},               // does not fit the item
        {"0G", 2, 255, "-1"},
        {"", 2, 255, "0:"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(encode(c.text, c.len, c.dataType), c.want) << c.text << " " << c.dataType;
}

TEST(RecordEncode, CompositeValue) {
    unsigned char out[128];
    memset(out, 0x55, sizeof out);
    char text[] = "AB^12^3^";
    ASSERT_EQ(ascToTLV(out, text, 0, 2, 0x99, 2), 16);
    EXPECT_EQ(hexOf(out, 17), "10 03 41 42 00 11 04 12 FF FF FF 12 03 3F FF FF 55");
    memset(out, 0x55, sizeof out);
    ASSERT_EQ(ascToRecordTLV(out, text, 16, 2, 0x99, 3), 16);
    EXPECT_EQ(out[0], 0x10);
    char plain[] = "AB";
    EXPECT_EQ(ascToRecordTLV(out, plain, 3, 1, 0x99, 2), 3);

    struct Bad {
        const char *text;
        unsigned char parent;
        int ver;
    } bad[] = {
        {"AB^12^", 0x99, 2},       // one sub-field short
        {"AB^12^3", 0x99, 2},      // last sub-field not terminated
        {"AB^1x^3^", 0x99, 2},     // cn child with a letter
        {"AB^12^3^", 0x42, 2},     // not a composite item
        {"AB^12^3^", 0x00, 2},
        {"A^B^C^", 0x99, 1},       // 99 is not a composite of version 1
    };
    for (const Bad &b : bad) {
        std::string t = b.text;
        EXPECT_EQ(ascToTLV(out, t.data(), 0, 2, b.parent, b.ver), -23) << b.text;
    }
}

// Sub-fields beyond the layout's children, and text after the last "^",
// are ignored: the same bytes as for the exact text.
TEST(RecordEncode, SurplusSubFieldsAreIgnored) {
    struct Case {
        const char *exact, *longer, *fileAddr;  // fileAddr null: composite 99 of version 2
    } cases[] = {
        {"AB^12^3^", "AB^12^3^4^", nullptr},
        {"AB^12^3^", "AB^12^3^x", nullptr},
        {"0001^1^202401311200^20240131235959^123.45^^0.00^",
         "0001^1^202401311200^20240131235959^123.45^^0.00^9^^", "DF04EF08"},
    };
    for (const Case &c : cases) {
        std::string exact = c.exact, longer = c.longer, addr = c.fileAddr ? c.fileAddr : "";
        unsigned char want[64], got[64];
        memset(want, 0x55, sizeof want);
        memset(got, 0x55, sizeof got);
        int n = c.fileAddr ? ascToRR(want, exact.data(), 0, 0, addr.data()) : ascToTLV(want, exact.data(), 0, 2, 0x99, 2);
        int m = c.fileAddr ? ascToRR(got, longer.data(), 0, 0, addr.data()) : ascToTLV(got, longer.data(), 0, 2, 0x99, 2);
        ASSERT_GT(n, 0) << c.exact;
        EXPECT_EQ(m, n) << c.longer;
        EXPECT_EQ(hexOf(got, sizeof got), hexOf(want, sizeof want)) << c.longer;
    }
}

TEST(RecordEncode, CyclicRecord) {
    unsigned char out[64];
    memset(out, 0x55, sizeof out);
    char rec[] = "0001^1^202401311200^20240131235959^123.45^^0.00^";
    ASSERT_EQ(ascToRR(out, rec, 0, 0, const_cast<char *>("DF04EF08")), 28);
    EXPECT_EQ(hexOf(out, 29),
              "00 01 31 20 24 01 31 12 00 20 24 01 31 23 59 59 00 00 30 39 "
              "00 00 00 00 00 00 00 00 55");
    char shortHex[] = "01^1^1^1^1^1^1^";  // 1 byte where the layout has 2
    EXPECT_EQ(ascToRR(out, shortHex, 0, 0, const_cast<char *>("DF04EF08")), -23);
    char tooFew[] = "0001^A^";
    EXPECT_EQ(ascToRR(out, tooFew, 0, 0, const_cast<char *>("DF04EF08")), -23);
    EXPECT_EQ(ascToRR(out, tooFew, 0, 0, const_cast<char *>("DF04EF15")), 3);
    EXPECT_EQ(ascToRR(out, tooFew, 0, 0, const_cast<char *>("DF01EF05")), -23);
}

TEST(RecordCodecs, EveryCompositeAndCyclicLayoutRoundTrips) {
    // A sample text per data type, encoded by each layout and decoded back.
    auto sample = [](const FileTableEntry &e) -> std::string {
        switch (e.dataType) {
        case 1: return std::string(e.length > 2 ? 2 : e.length, 'Q');
        case 15: return std::string(e.length * 2 - 1, '7');
        case 16: return "12.34";
        case 17: return "123.45";
        default: return std::string(e.length * 2, 'C');
        }
    };
    for (int ver : {1, 2, 3}) {
        const FileTableEntry *table = ver == 1 ? fileTableV1 : ver == 2 ? fileTableV2 : fileTableV3;
        const int count = ver == 1 ? 93 : 128;
        for (int i = 0; i < count; ++i) {
            const FileTableEntry &e = table[i];
            const FileTableEntry *kids[KESTREL_MAX_CHILDREN];
            std::string addr = std::string(e.dfName) + e.efName;
            int n;
            if (e.dataType == 2) n = findAllChildByRecord(e.tag, ver, kids);
            else if (e.fileType == 3) n = findChildRR(addr.c_str(), kids);
            else continue;
            std::string text;
            for (int k = 0; k < n; ++k) text += sample(*kids[k]) + "^";
            std::vector<unsigned char> card(e.length + 8, 0x55);
            int w = e.dataType == 2 ? ascToTLV(card.data(), text.data(), 0, 2, e.tag, ver)
                                    : ascToRR(card.data(), text.data(), 0, 0, addr.data());
            ASSERT_EQ(w, int(e.length)) << addr << " " << text;
            EXPECT_EQ(card[e.length], 0x55) << addr;
            card.resize(e.length);
            std::string back = e.dataType == 2 ? tlvText(card, e.tag, ver) : rrText(card, addr.c_str());
            EXPECT_EQ(back, text) << addr << " v" << ver;
        }
    }
}

}  // namespace
