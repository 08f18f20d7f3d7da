// SPDX-License-Identifier: MIT
// The identity-card and memory-card sections of card profiles: what they
// put into the reader, and the refusal of values the cards cannot hold.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "cards/id_module.h"
#include "cards/m1_card.h"
#include "profile.h"
#include "reader.h"

using namespace vr;

namespace {

Profile parse(const std::string &text) {
    Profile p;
    std::string error;
    EXPECT_TRUE(parseProfile(text, "t.profile", &p, &error)) << error;
    return p;
}

std::string parseError(const std::string &text) {
    Profile p;
    std::string error;
    EXPECT_FALSE(parseProfile(text, "t.profile", &p, &error)) << text;
    return error;
}

TEST(IdCardProfile, DemoProfilePutsAResidentCardInTheModule) {
    Profile p = demoProfile();
    ASSERT_TRUE(p.idCard);
    EXPECT_TRUE(p.idCard->inField);
    const IdHolder &h = p.idCard->holder;
    EXPECT_EQ(h.kind, "");
    EXPECT_EQ(h.number, "320106199003072026");
    EXPECT_EQ(h.birth, "19900307");
    EXPECT_EQ(h.photoLength, 1024u);
    // The same holder as the model's own demonstration card.
    EXPECT_EQ(idTextBlock(h), idTextBlock(demoResident()));
    EXPECT_FALSE(p.memoryCard);

    Reader reader;
    insertProfile(reader, p);
    auto module = std::dynamic_pointer_cast<IdModule>(reader.slot(0x1B).card);
    ASSERT_TRUE(module);
    ASSERT_TRUE(module->card());
    EXPECT_EQ(module->card()->number, "320106199003072026");
}

TEST(IdCardProfile, KindsAndTheirFields) {
    Profile j = parse("[idcard]\nkind = J\nname = A B\nsex = 1\npass-number = H01234567\nissue-count = 02\n");
    ASSERT_TRUE(j.idCard);
    EXPECT_EQ(j.idCard->holder.kind, "J");
    EXPECT_EQ(j.idCard->holder.passNumber, "H01234567");
    EXPECT_EQ(j.idCard->holder.ethnic, "");

    Profile i = parse("[idcard]\nkind = I\nlatin-name = MILLER, ANNA\nnationality = CAN\ncard-version = 01\n"
                      "authority = 1100\nnumber = CAN110090030701\nphoto-length = 0\n");
    const IdHolder &h = i.idCard->holder;
    EXPECT_EQ(h.kind, "I");
    EXPECT_EQ(h.latinName, "MILLER, ANNA");
    EXPECT_EQ(h.photoLength, 0u);
    Bytes block = idTextBlock(h);
    EXPECT_EQ(block[248], 'I');
    EXPECT_EQ(block[0], 'M');

    Profile empty = parse("[idcard]\nin-field = no\n");
    Reader reader;
    insertProfile(reader, empty);
    auto module = std::dynamic_pointer_cast<IdModule>(reader.slot(0x1B).card);
    ASSERT_TRUE(module);
    EXPECT_FALSE(module->card());
    // No section: no module.
    Reader without;
    insertProfile(without, parse("[reader]\n"));
    EXPECT_FALSE(without.slot(0x1B).card);
}

TEST(IdCardProfile, MemoryCard) {
    Profile p = parse("[memory-card]\nkey = 00 11 22 33 44 55\nblock 4 = AA BB\n");
    ASSERT_TRUE(p.memoryCard);
    Reader reader;
    insertProfile(reader, p);
    auto m1 = std::dynamic_pointer_cast<M1Card>(reader.slot(0x02).card);
    ASSERT_TRUE(m1);
    EXPECT_EQ(toHex(m1->block(4)), "AA BB 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    m1->transmit(hex("80 11 09 00 00"));
    EXPECT_EQ(toHex(m1->transmit(hex("80 11 02 00 08 00 01 5E 3A 91 C7 24 8B"))), "63 00");
    EXPECT_EQ(toHex(m1->transmit(hex("80 11 02 00 08 01 01 00 11 22 33 44 55"))), "90 00");
    EXPECT_EQ(toHex(m1->transmit(hex("80 11 03 00 01 04"))),
              "AA BB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 90 00");
    EXPECT_EQ(toHex(m1->transmit(hex("80 11 03 00 01 08"))), "69 82");  // another sector
}

TEST(IdCardProfile, ValuesTheCardsCannotHoldAreRefused) {
    const struct {
        std::string text, error;
    } cases[] = {
        {"[idcard]\nkind = K\n", "t.profile:2: kind: expected resident, I or J, not 'K'"},
        {"[idcard]\nin-field = maybe\n", "t.profile:2: in-field: expected yes or no"},
        {"[idcard]\nnick = x\n", "t.profile:2: unknown key 'nick' in [idcard]"},
        {"[idcard]\nname = ABCDEFGHIJKLMNOP\n", "t.profile:2: name: 16 characters, at most 15"},
        {"[idcard]\nname = \xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80"
         "\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\n",
         "t.profile:2: name: 16 characters, at most 15"},
        {"[idcard]\nname = \xF0\x9F\x98\x80\n", "t.profile:2: name: a character that the card's 16-bit"},
        {"[idcard]\nname = \xFF\n", "t.profile:2: name: not UTF-8 text"},
        {"[idcard]\nethnic = 1A\n", "t.profile:2: ethnic: '1A' holds characters other than digits"},
        {"[idcard]\nethnic = 123\n", "t.profile:2: ethnic: 3 characters, at most 2"},
        {"[idcard]\nbirth-date = 1990-3-7\n", "t.profile:2: birth-date: '1990-3-7' holds characters"},
        {"[idcard]\nlatin-name = X\n", "t.profile:2: latin-name: a card of kind resident has no such field"},
        {"[idcard]\nkind = J\nethnic = 01\n", "t.profile:3: ethnic: a card of kind J has no such field"},
        {"[idcard]\nkind = I\naddress = X\n", "t.profile:3: address: a card of kind I has no such field"},
        {"[idcard]\nkind = I\nauthority = 12345\n", "t.profile:3: authority: 5 characters, at most 4"},
        {"[idcard]\nphoto-length = 1025\n", "t.profile:2: photo-length: '1025' is not a number from 0 to 1024"},
        {"[idcard]\n[idcard]\n", "t.profile:2: section [idcard] given twice"},
        {"[memory-card]\nkey = 00 11\n", "t.profile:2: key: 2 bytes, expected 6"},
        {"[memory-card]\nblock 64 = 00\n", "t.profile:2: block 64: '64' is not a number from 0 to 63"},
        {"[memory-card]\nblock 1 = " + std::string(34, '0') + "\n", "t.profile:2: block 1: 17 bytes, expected 1 to 16"},
        {"[memory-card]\nsector = 1\n", "t.profile:2: unknown key 'sector' in [memory-card]"},
        {"[card]\nslot = contactless\n[memory-card]\n", "t.profile:3: [memory-card] in the contactless field"},
    };
    for (const auto &c : cases) {
        std::string error = parseError(c.text);
        EXPECT_EQ(error.compare(0, c.error.size(), c.error), 0) << "got:      " << error << "\nexpected: " << c.error;
    }
}

}  // namespace
