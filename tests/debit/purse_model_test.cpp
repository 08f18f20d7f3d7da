// SPDX-License-Identifier: MIT
// The virtual card's purse on its own: the conditions of its commands,
// and the [purse] section of profiles.
#include "profile.h"

#include <gtest/gtest.h>

#include "cards/ss_card.h"

namespace debittest {
namespace {

using vr::Bytes;
using vr::hex;

TEST(PurseModel, CommandConditions) {
    vr::Profile p = vr::demoProfile();
    auto card = vr::buildCard(p);
    card->reset();
    auto sw = [&](const std::string &command) { return vr::statusWord(card->transmit(hex(command))); };
    const std::string init = "B0 28 01 01 13 01 00000000 00000064 00000000 430105000007";
    const std::string debit = "B0 2C 01 00 0F 00000001 20240401103000 00000000";
    EXPECT_EQ(sw("00 A4 04 00 0F 73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF"), 0x611D);
    EXPECT_EQ(sw(init), 0x6985);  // not in DF04
    EXPECT_EQ(sw("00 A4 00 00 02 DF 04"), 0x9000);
    EXPECT_EQ(sw(init), 0x6982);  // PIN not verified
    EXPECT_EQ(sw("00 20 00 00 03 12 34 56"), 0x9000);
    EXPECT_EQ(sw(debit), 0x6901);  // no initialize
    EXPECT_EQ(sw("B0 28 01 01 13 02 00000000 00000064 00000000 430105000007"), 0x6A88);
    EXPECT_EQ(sw("B0 28 01 01 13 01 00000000 0000C350 00000001 430105000007"), 0x9401);
    EXPECT_EQ(sw(init), 0x6116);
    EXPECT_EQ(sw(debit), 0x9302);  // a made-up MAC1
    EXPECT_EQ(sw(debit), 0x6901);  // the initialize is used up
    EXPECT_EQ(card->balance(), 50000u);
    EXPECT_EQ(card->purseRecords().size(), 2u);
}

TEST(PurseModel, ProfileSection) {
    vr::Profile p = vr::demoProfile();
    auto card = vr::buildCard(p);
    EXPECT_EQ(card->balance(), 50000u);
    EXPECT_EQ(card->purseSerial(), 3);
    EXPECT_EQ(card->purchaseAlgorithmId(), 0x04);
    auto records = card->purseRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1], hex("0001 32 430105000007 20240302160000 00000000 00001194 FFFFFFFF"));

    const std::string head = "[card]\nversion = 1\n[purse]\n";
    struct Row {
        std::string body, error;
    };
    const Row rows[] = {
        {"record 2 = 0001 430105000007 20240302160000 0 1 2\n", "t.profile:3: [purse]: record 1 missing before record 2"},
        {"record 11 = 0001 430105000007 20240302160000 0 1 2\n", "t.profile:4: record 11: '11' is not a number from 1 to 10"},
        {"record 1 = 0001 430105000007 2024030216000 0 1 2\n", "t.profile:4: record 1: 13 digits, expected 14"},
        {"record 1 = 0001 430105000007 20240302160000 0 1.5 2\n", "t.profile:4: record 1: '1.5' is not an amount in fen"},
        {"record 1 = 0001 430105000007 20240302160000 0 1\n", "t.profile:4: record 1: expected serial, terminal number"},
        {"serial = 65536\n", "t.profile:4: serial: '65536' is not a number from 0 to 65535"},
        {"balance = 4294967296\n", "t.profile:4: balance: amount too large"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.body);
        vr::Profile out;
        std::string error;
        EXPECT_FALSE(vr::parseProfile(head + row.body, "t.profile", &out, &error));
        EXPECT_EQ(error.substr(0, row.error.size()), row.error);
    }
    vr::Profile out;
    std::string error;
    EXPECT_FALSE(vr::parseProfile("[purse]\nbalance = 1\n", "t.profile", &out, &error));
    EXPECT_EQ(error, "t.profile:1: [purse] without a [card]");
}

}  // namespace
}  // namespace debittest
