// SPDX-License-Identifier: MIT
// The parsers of the payment steps on their own: tables of answers and
// records, and random records against the data model's tag_decodetlv.
#include <cstring>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "bytes.h"
#include "othercards/bank_card.h"

using namespace kestrel::bank;
using vr::Bytes;
using vr::hex;

namespace banktest {
namespace {

// Exact-size copy, so that a read past the card's bytes is caught under
// the sanitizers.
std::unique_ptr<unsigned char[]> exact(const Bytes &b) {
    std::unique_ptr<unsigned char[]> p(new unsigned char[b.empty() ? 1 : b.size()]);
    if (!b.empty()) std::memcpy(p.get(), b.data(), b.size());
    return p;
}

std::string numberOf(const std::string &record) {
    Bytes b = hex(record);
    auto p = exact(b);
    char out[kAccountTextSize + 1];
    std::memset(out, 'x', sizeof out);
    int n = accountNumber(p.get(), static_cast<unsigned>(b.size()), out);
    if (n < 0) return std::string(out, sizeof out) == std::string(sizeof out, 'x') ? "none" : "written";
    EXPECT_EQ(static_cast<size_t>(n), std::strlen(out));
    return out;
}

TEST(BankTlv, AccountNumber) {
    const struct {
        const char *record, *number;
    } rows[] = {
        {"70 0A 5A 08 62 22 33 44 55 66 77 8F", "622233445566778"},
        {"70 0A 5A 08 62 22 33 44 55 66 77 88", "6222334455667788"},
        {"70 0C 5A 0A 12 34 56 78 90 12 34 56 78 9F", "1234567890123456789"},  // 19 digits
        {"70 03 5A 01 FF", "F"},                                               // only one F goes
        {"70 81 03 5A 01 12", "12"},
        {"70 04 5A 81 01 12", "12"},
        {"FF 00 70 03 5A 01 12 00", "12"},
        {"70 03 5A 01 12 70 03 5A 01 34", "12"},                               // the first 70
        {"70 00 70 03 5A 01 34", "none"},                                      // an empty first 70
        {"70 0D 5A 0B 11 22 33 44 55 66 77 88 99 00 11", "none"},              // 11 bytes
        {"70 02 5A 00", "none"},
        {"70 03 5A 02 12", "none"},
        {"70 04 5A 01 12", "none"},
        {"70 04 9F 5A 01 12", "none"},
        {"5A 01 12", "none"},
        {"70 81", "none"},
        {"70", "none"},
        {"", "none"},
    };
    for (const auto &row : rows) EXPECT_EQ(numberOf(row.record), row.number) << row.record;
}

TEST(BankTlv, DirectoryFileAndApplicationId) {
    const struct {
        const char *fci;
        unsigned sfi;
    } fcis[] = {
        {"6F 07 84 00 A5 03 88 01 01", 1},
        {"6F 07 84 00 A5 03 88 01 1E", 30},
        {"6F 07 84 00 A5 03 88 01 1F", 0},
        {"6F 07 84 00 A5 03 88 01 00", 0},
        {"6F 06 84 00 A5 02 88 00", 0},
        {"6F 08 84 00 A5 04 88 02 03 04", 3},
        {"6F 07 84 00 A5 03 88 02 01", 0},  // 88 runs past A5
        {"6F 05 88 01 01 A5 00", 0},
        {"A5 03 88 01 01", 0},
        {"6F 81 05 A5 03 88 01 07", 7},
    };
    for (const auto &f : fcis) {
        Bytes b = hex(f.fci);
        auto p = exact(b);
        EXPECT_EQ(directoryFileId(p.get(), static_cast<unsigned>(b.size())), f.sfi) << f.fci;
    }

    const struct {
        const char *record, *aid;
    } records[] = {
        {"70 0B 61 09 4F 07 F0 11 22 33 44 55 01", "F0 11 22 33 44 55 01"},
        {"70 0E 61 0C 50 01 41 4F 07 F0 11 22 33 44 55 01", "F0 11 22 33 44 55 01"},
        {"70 04 61 02 4F 00", ""},
        {"70 0B 61 09 4F 08 F0 11 22 33 44 55 01", ""},
        {"61 09 4F 07 F0 11 22 33 44 55 01", ""},
    };
    for (const auto &r : records) {
        Bytes b = hex(r.record);
        auto p = exact(b);
        TlvValue aid;
        bool found = applicationId(p.get(), static_cast<unsigned>(b.size()), &aid);
        EXPECT_EQ(found ? vr::toHex(aid.data, aid.len) : "", r.aid) << r.record;
    }
}

// Random records built from the tags and lengths that matter: findTlv
// finds what tag_decodetlv finds first, and the account number never
// leaves the bytes or its 21-byte text.
TEST(BankTlv, RandomRecords) {
    std::mt19937 rng(2024);
    const uint8_t pieces[] = {0x70, 0x5A, 0x81, 0x00, 0xFF, 0x9F, 0x61, 0x4F, 0x88, 0x02, 0x08, 0x0A, 0x7F};
    for (int i = 0; i < 100000; i++) {
        Bytes b(rng() % 300);
        for (auto &x : b) x = rng() % 3 ? pieces[rng() % sizeof pieces] : static_cast<uint8_t>(rng());
        auto p = exact(b);
        const unsigned len = static_cast<unsigned>(b.size());

        char out[kAccountTextSize + 8];
        std::memset(out, 'x', sizeof out);
        int n = accountNumber(p.get(), len, out);
        ASSERT_LE(n, 20);
        for (size_t k = kAccountTextSize; k < sizeof out; k++) ASSERT_EQ(out[k], 'x');
        if (n >= 0) {
            ASSERT_EQ(std::strlen(out), static_cast<size_t>(n));
        }

        if (len > 255) continue;
        for (uint8_t tag : {uint8_t{0x70}, uint8_t{0x5A}}) {
            TlvValue v;
            bool found = findTlv(p.get(), len, tag, &v);
            unsigned char copies[256], copiesLen = 0;
            unsigned char count =
                tag_decodetlv(static_cast<unsigned char>(len), &tag, p.get(), copies, &copiesLen);
            ASSERT_EQ(found, count > 0) << vr::toHex(b);
            if (!found) continue;
            ASSERT_GE(v.data, p.get());
            ASSERT_LE(v.data + v.len, p.get() + len);
            // The first copy: tag, length field (1 or 2 bytes), value.
            unsigned header = copies[1] == 0x81 ? 3 : 2;
            ASSERT_EQ(Bytes(copies + header, copies + header + v.len), Bytes(v.data, v.data + v.len));
        }
    }
}

}  // namespace
}  // namespace banktest
