// SPDX-License-Identifier: MIT
// The transaction records through the virtual reader: after the keypad
// PIN, records 1 to 30 of DF04 EF08 up to the first the card does not
// have, from the first byte of the caller's buffer.
#include <algorithm>
#include <cstring>

#include "debit_fixture.h"

namespace debittest {
namespace {

using namespace sectest;
using pintest::kPrepare;
using pintest::kReset;
using pintest::pinEntry;
using Records = DebitTest;

// n records, the newest (serial n) first, with the given amounts.
std::vector<vr::Purchase> history(int n, uint32_t amount = 100) {
    std::vector<vr::Purchase> out;
    for (int i = n; i >= 1; i--) {
        vr::Purchase p;
        p.serial = static_cast<uint16_t>(i);
        p.terminal = hex("43 01 05 00 00 07");
        p.dateTime = hex("20 24 01 01 00 00 00");
        p.amounts[1] = p.amounts[2] = amount;
        out.push_back(p);
    }
    return out;
}

TEST_F(Records, NewestFirstInPlaceOfThePinText) {
    type({"123456"});
    char records[KESTREL_DEBIT_RECORDS_SIZE];
    memset(records, 'x', sizeof records);
    ASSERT_EQ(iReadDebitRecord(1, records), 0);
    // The second record holds no third amount (FF FF FF FF).
    const std::string expected =
        "0002^430105000007^20240315101500^12.50^3.00^|0001^430105000007^20240302160000^45.00^^|";
    EXPECT_EQ(std::string(records), expected);
    EXPECT_EQ(std::string(logbuf), "iReadDebitRecord, out para: 0, " + expected + "\r\n");
    EXPECT_EQ(seenFrom(at(1, kSelectDF04)),
              (Seq{at(1, kSelectDF04), at(1, kSelectEF08), at(0, kPrepare), at(0, kReset), at(0, pinEntry("1B 49")),
                   at(1, "00 20 00 00 03 12 34 56"), at(1, "00 B2 01 04 1C"), at(1, "00 B2 02 04 1C"),
                   at(1, "00 B2 03 04 1C")}));
    EXPECT_EQ(seen().front(), at(1, kPowerOn));
    EXPECT_EQ(mHreader, -11);
}

TEST_F(Records, NoneOneAndMoreThanThirty) {
    struct Row {
        int version;   // 1 keeps 10 records, 2 keeps 30
        int written;
        size_t fields, reads;
    };
    const Row rows[] = {{2, 0, 0, 1}, {2, 1, 1, 2}, {2, 29, 29, 30}, {2, 35, 30, 30}, {1, 12, 10, 11}};
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.version) + "/" + std::to_string(row.written));
        vr::Profile p = pintest::demoWith();
        p.card->version = row.version;
        p.card->purse.records = history(row.written);
        load(p);
        type({"123456"});
        char records[KESTREL_DEBIT_RECORDS_SIZE];
        long rc = iReadDebitRecord(1, records);
        EXPECT_EQ(rc, row.fields ? 0 : -27267);
        if (row.fields) {
            std::string s(records);
            EXPECT_EQ(static_cast<size_t>(std::count(s.begin(), s.end(), '|')), row.fields);
            char newest[6];  // the serial of the last record written
            snprintf(newest, sizeof newest, "%04X^", row.written);
            EXPECT_EQ(s.substr(0, 5), newest);
        } else {
            EXPECT_EQ(std::string(records), errorText(-27267));
        }
        EXPECT_EQ(recordReads(), row.reads);
    }
}

// Thirty records of the longest amounts fill the documented size exactly.
TEST_F(Records, LongestTextFitsTheBuffer) {
    vr::Profile p = pintest::demoWith();
    p.card->purse.records = history(30, 0xFFFFFFFE);
    load(p);
    type({"123456"});
    GuardedBuffer buffer(KESTREL_DEBIT_RECORDS_SIZE);
    ASSERT_EQ(iReadDebitRecord(1, buffer.text()), 0);
    EXPECT_EQ(buffer.str().size(), KESTREL_DEBIT_RECORDS_SIZE - 1u);
    EXPECT_EQ(buffer.str().substr(0, 58), "001E^430105000007^20240101000000^42949672.94^42949672.94^|");
}

TEST_F(Records, Failures) {
    struct Row {
        const char *what;
        int iType;
        const char *typed;
        Tamper::Change change;  // or nothing
        long rc;
        std::string text;
        size_t reads;
    };
    const auto shortSecond = [](const Bytes &, const Bytes &c, Bytes a) {
        return startsWith(c, "00 B2 02 04 1C") ? vr::withStatus(Bytes(a.begin(), a.begin() + 27), 0x9000) : a;
    };
    // The card still offering the second record after the resend: its
    // answer did not arrive, which is not the end of the records.
    const auto secondLost = [](const Bytes &, const Bytes &c, Bytes a) {
        return startsWith(c, "00 B2 02 04 1C") ? hex("6C 1C") : a;
    };
    const Row rows[] = {
        {"card type 9", 9, nullptr, nullptr, -14, errorText(-14), 0},
        {"wrong PIN", 1, "654321", nullptr, -51, pintest::verifyRefused(2), 0},
        {"PIN entry timed out", 1, "timeout", nullptr, -32, errorText(-32), 0},
        {"short second record", 1, "123456", shortSecond, -28416, errorText(-28416), 2},
        {"second record lost", 1, "123456", secondLost, -0x6C1C, errorText(-0x6C1C), 3},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        load(pintest::demoWith());
        if (row.change) tamperWithCard(row.change);
        if (row.typed) type({row.typed});
        char records[KESTREL_DEBIT_RECORDS_SIZE];
        EXPECT_EQ(iReadDebitRecord(row.iType, records), row.rc);
        EXPECT_EQ(std::string(records), row.text);
        EXPECT_EQ(recordReads(), row.reads);
    }
    EXPECT_EQ(iReadDebitRecord(1, nullptr), -14);
    bus().plug(vr::UsbVariant::NoReader);
    char records[KESTREL_DEBIT_RECORDS_SIZE];
    EXPECT_EQ(iReadDebitRecord(1, records), -11);
}

}  // namespace
}  // namespace debittest
