// SPDX-License-Identifier: MIT
// Interface texts: splitting and joining, request checks, and the TLV
// search.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "datamodel/datamodel.h"

namespace {

using Rows = std::vector<std::string>;

// Splits with each splitter into a fresh row array; rows past the count
// must stay untouched.
Rows split(char kind, const std::string &text, int maxRows) {
    static char rows[8][KESTREL_ROW_SIZE];
    memset(rows, 0x55, sizeof rows);
    std::string t = text;
    int n = 0;
    if (kind == '|') n = unpackFromReceive(t.data(), rows, maxRows);
    if (kind == '$') n = splitWithDollar(t.c_str(), rows[0], maxRows);
    if (kind == '^') n = splitWithShift6(t.c_str(), rows[0], maxRows);
    Rows out;
    for (int i = 0; i < n; ++i) out.emplace_back(rows[i]);
    EXPECT_EQ(rows[n][0], 0x55) << text;
    return out;
}

TEST(Splitting, FieldsGroupsAndSubFields) {
    EXPECT_EQ(split('|', "A||B", 5), (Rows{"A", ""}));
    EXPECT_EQ(split('|', "1|2|3|4|5|6|", 5), (Rows{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(split('|', "", 5), Rows{});
    EXPECT_EQ(split('|', "A|B|", 0), Rows{});
    EXPECT_EQ(split('^', "AB^^C^D", 5), (Rows{"AB", "", "C"}));
    EXPECT_EQ(split('$', "G1$G2", 5), (Rows{"G1"}));
    EXPECT_EQ(split('$', "A$$B$", 5), (Rows{"A", "$B"}));
    EXPECT_EQ(split('$', "$$", 5), (Rows{"$"}));
    EXPECT_EQ(split('$', "1$2$3$4$5$6$", 5), (Rows{"1", "2", "3", "4", "5"}));

    // A field too long for its row is cut to fit.
    std::string big(KESTREL_ROW_SIZE + 100, 'x');
    Rows r = split('|', big + "|y|", 5);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].size(), size_t(KESTREL_ROW_SIZE - 1));
    EXPECT_EQ(r[1], "y");

    EXPECT_EQ(findDollar("ab$c$"), 2);
    EXPECT_EQ(findDollar("abc"), -1);
    EXPECT_EQ(findcharNum("A|B|", '|'), 2);
    EXPECT_EQ(findcharNum("\xB0|\xB0", 0x1B0), 2);  // low 8 bits of the character
    EXPECT_EQ(findcharNum("AB", 0), 0);
}

TEST(Joining, FieldsAppendWithTheirDelimiter) {
    char out[32];
    memset(out, 'x', sizeof out);
    int count = 0;
    unsigned char abc[] = {'A', 'B', 'C', ' ', ' '};
    packForResponse(abc, 3, out, &count);
    packForResponse(abc, 0, out, &count);
    packForResponse(abc, -4, out, &count);
    packWithDelimiter(abc, 5, out, &count, ',');
    packWithDelimiter(abc + 3, 2, out, &count, '|');
    EXPECT_EQ(count, 11);
    EXPECT_EQ(std::string(out, count), "ABC|||ABC,|");
    EXPECT_EQ(out[count], 'x');  // the caller terminates the text
}

TEST(RequestChecks, FileAddressLists) {
    struct Case {
        const char *text;
        int ver;
        int want;
    } cases[] = {
        {"SSSEEF05|01|02|$", 2, 0},
        {"SSSEEF05|01|02|", 2, -23},           // no closing "$"
        {"", 2, -23},
        {"$", 2, -23},                         // "$" opens a group, ends none
        {"SSSEEF05$", 2, -23},                 // no "|": no file address field
        {"SSSEEF05|01|$DF01EF05|20|21|$", 2, 0},
        {"SSSEEF05|01|$DF01EF05|99|$", 2, -25},  // first failure is returned
        {"DF09EF05|01|$", 2, -25},
        {"df01ef05|20|$", 2, -25},
        {"DF02EF05|43|$", 2, -23},             // composite without occurrence
        {"DF02EF05|43:3|$", 2, -25},           // the item has two occurrences
        {"DF02EF05|43:2|$", 2, 0},
        {"DF02EF05|43:0|$", 2, -23},
        {"DF02EF05|43-2|$", 2, -23},
        {"DF02EF05|43:2|$", 1, -25},           // one occurrence in version 1
        {"DF02EF05|43:1|$", 1, 0},
        {"DF02EF05|42:1|$", 2, -23},           // occurrence on a plain item
        {"DF02EF05|4|$", 2, -23},
        {"DF02EF05|412|$", 2, -23},
        {"DF02EF05|G2|$", 2, -23},             // not hexadecimal
        {"DF01EF05|$", 2, -23},                // record file without items
        {"DF01EF16|$", 2, 0},                  // transparent: whole file
        {"DF04EF08|$", 2, 0},                  // cyclic: all records
        {"DF04EF08|01|1E|$", 2, 0},
        {"DF04EF08|01:1|$", 2, -23},
        {"DF07EF05|F0|$", 1, -25},
        {"DF07EF05|F0|$", 2, 0},
        {"DF07EF05|f0|$", -1, 0},
        {"SSSEEF05|01|02|03|04|99|$", 2, 0},   // fields after the fifth not looked at
        {"SSSEEF05|01|$SSSEEF05|01|$SSSEEF05|01|$SSSEEF05|01|$SSSEEF05|01|$DF09EF05|$", 2, 0},
        {"A$SSSEEF05|01|$", 2, -23},
        // No empty group: a "$" that would end one starts the next group.
        {"$$", 2, -23},
        {"$SSSEEF05|01|$", 2, -25},
        {"SSSEEF05|01|$$DF01EF05|20|$", 2, -25},
    };
    for (const Case &c : cases) {
        std::string t = c.text;
        EXPECT_EQ(checkfileaddr(t.data(), c.ver), c.want) << c.text << " v" << c.ver;
    }
    std::string group = "DF02EF05|44:2|";
    EXPECT_EQ(checkEFFile(group.data(), 2), 0);
    group = "DF02EF05";
    EXPECT_EQ(checkEFFile(group.data(), 2), -23);
    std::string big = "DF01EF16|" + std::string(KESTREL_ROW_SIZE, '0') + "|$";
    EXPECT_EQ(checkfileaddr(big.data(), 2), -23);
}

TEST(RequestChecks, WriteDataShape) {
    struct Case {
        const char *addr;
        const char *data;
        int want;
    } cases[] = {
        {"DF01EF05|20|$", "DF01EF05|AB|$", 0},
        {"DF01EF05|20|$", "DF01EF06|AB|$", -14},         // file addresses differ
        {"DF01EF05|20|21|$", "DF01EF05|AB|$", -14},      // one value short
        {"DF01EF16|$", "DF01EF16|00FF|$", 0},            // whole file
        {"DF04EF08|$", "DF04EF08|a^|b^|$", 0},           // several records
        {"DF01EF05|20|$", "DF01EF05|AB|$DF01EF06|CD|$", -14},
        {"SSSEEF05|01|$DF01EF05|20|$", "SSSEEF05|AB|$DF01EF05|CD|$", 0},
        // A fifth item or a sixth group would be dropped, not written.
        {"DF01EF05|1|2|3|4|5|$", "DF01EF05|a|b|c|d|e|$", -14},
        {"1|$2|$3|$4|$5|$6|$", "1|$2|$3|$4|$5|$6|$", -14},
        {"SSSEEF05|01|$DF01EF05|20|$", "SSSEEF05|AB|$", -14},  // one data group short
        // A "$" that would end an empty group starts the next one instead.
        {"DF01EF05|20|$", "$DF01EF05|AB|$", -14},
        {"DF01EF05|20|$$DF01EF06|21|$", "DF01EF05|AB|$DF01EF06|CD|$", -14},
        {"$DF01EF05|20|$", "$DF01EF05|AB|$", 0},
    };
    for (const Case &c : cases) {
        std::string a = c.addr, d = c.data;
        EXPECT_EQ(checkWriteData(a.data(), d.data()), c.want) << c.addr << " / " << c.data;
    }
    std::string a = "DF01EF16|$";
    std::string d = "DF01EF16|" + std::string(KESTREL_ROW_SIZE, '0') + "|$";
    EXPECT_EQ(checkWriteData(a.data(), d.data()), -14);  // would be cut to fit a row
}

TEST(RequestChecks, Amounts) {
    struct Case {
        const char *text;
        long want;
    } cases[] = {
        {"12.34", 0}, {"0", 0},       {"12.", 0},     {".5", 0},    {"42949672.95", 0},
        {"0042949672.95", 0},         {"12.345", -14}, {"1.2.3", -14}, {"-1", -14},
        {"1e3", -14}, {"", -14},      {".", -14},     {"42949672.96", -14},
        {"42949673", -14},            {"99999999999999999999999", -14},
    };
    for (const Case &c : cases) {
        std::string t = c.text;
        EXPECT_EQ(checkdouble(t.data()), c.want) << c.text;
    }
}

TEST(RequestChecks, PayInfo) {
    struct Case {
        const char *text;
        long want;
    } cases[] = {
        {"10.00|0|20240131235959|", 0},
        {"10.00|0|2024013123595|", -14},    // 13 digits
        {"10.00|0|2024013123595a|", -14},
        {"10.00|0|20240131235959", -14},    // third field not terminated: empty
        {"10.001|0|20240131235959|", -14},
        {"10.00||20240131235959|", -14},
        {"", -14},
        {"1|2|20240131235959|extra|", 0},
    };
    for (const Case &c : cases) {
        std::string t = c.text;
        EXPECT_EQ(checkPayInfo(t.data()), c.want) << c.text;
    }
}

std::string search(const std::string &tagHex, const std::string &dataHex, int *count,
                   int *outLen) {
    std::vector<unsigned char> tag = bytes(tagHex), data = bytes(dataHex);
    unsigned char out[256];
    unsigned char len = 0xEE;
    *count = tag_decodetlv(static_cast<unsigned char>(data.size()), tag.data(), data.data(), out,
                           &len);
    *outLen = len;
    return hexOf(out, len);
}

TEST(TlvSearch, TopLevelOccurrences) {
    struct Case {
        const char *tag, *data;
        int count;
        const char *out;
    } cases[] = {
        {"5A", "00 5A 02 11 22 9F 10 01 33 5A 01 44", 2, "5A 02 11 22 5A 01 44"},
        {"9F 10", "00 5A 02 11 22 9F 10 01 33 5A 01 44", 1, "9F 10 01 33"},
        {"9F 11", "00 5A 02 11 22 9F 10 01 33 5A 01 44", 0, ""},
        {"5A", "FF 00 5A 01 44", 1, "5A 01 44"},            // padding skipped
        {"5A", "5A 81 02 11 22", 1, "5A 81 02 11 22"},      // two-byte length
        {"5A", "6F 04 5A 02 11 22", 0, ""},                 // not searched inside
        {"6F", "6F 04 5A 02 11 22", 1, "6F 04 5A 02 11 22"},
        {"10", "9F 10 01 10", 0, ""},                       // 10 only as part of a tag/value
        // Elements that run past the data end the walk uncopied.
        {"5A", "5A 01 44 5A 05 11 22", 1, "5A 01 44"},
        {"5A", "5A 81 02 11", 0, ""},
        {"5A", "5A 81", 0, ""},
        {"5A", "5A", 0, ""},
        {"9F 10", "9F", 0, ""},
    };
    for (const Case &c : cases) {
        int count, len;
        EXPECT_EQ(search(c.tag, c.data, &count, &len), c.out) << c.tag << " in " << c.data;
        EXPECT_EQ(count, c.count) << c.tag << " in " << c.data;
    }
}

TEST(TlvSearch, OutputNeverExceedsTheData) {
    // 255 bytes of one-byte elements 5A 00: every one matches.
    std::vector<unsigned char> data;
    while (data.size() + 2 <= 255) {
        data.push_back(0x5A);
        data.push_back(0x00);
    }
    data.push_back(0x5A);  // a last, cut element
    unsigned char tag = 0x5A, out[256], len = 0;
    EXPECT_EQ(tag_decodetlv(255, &tag, data.data(), out, &len), 127);
    EXPECT_EQ(len, 254);
    // A length of 81 FF claims far more than the data holds.
    auto big = bytes("5A 81 FF 00");
    EXPECT_EQ(tag_decodetlv(4, &tag, big.data(), out, &len), 0);
    EXPECT_EQ(len, 0);
}

}  // namespace
