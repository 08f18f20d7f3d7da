// SPDX-License-Identifier: MIT
// The card-type check and the search for the user card: every card-type
// path, through the virtual reader, with the power-on commands the reader
// received and the slot left in cardSlot.
#include <climits>

#include "session_fixture.h"

using namespace vr;

namespace sessiontest {
namespace {

TEST(CheckCardType, AcceptsOneToFour) {
    const struct {
        int type;
        long result;
    } cases[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {0, -14}, {5, -14}, {-1, -14}, {INT_MIN, -14}, {INT_MAX, -14}};
    for (const auto &c : cases) EXPECT_EQ(checkCardType(c.type), c.result) << c.type;
}

// What sits in the contact slot.
enum Contact {
    kEmpty,          // the reader answers power-on with 0x6200
    kEmptyFF05,      // the reader answers power-on with 0xFF05
    kCard,           // a card answering with its answer to reset
    kWrongType,      // the reader answers power-on with 0xFF12
};
// What sits in the contactless field: a first answer byte, or one of these.
constexpr int kNoField = -1;        // nothing: 0x6200
constexpr int kFieldWrongType = -2; // the reader answers power-on with 0xFF12

struct SearchCase {
    const char *name;
    int type;
    Contact contact;
    int field;
    long result;
    uint8_t slotAfter;                // cardSlot afterwards (0xEE: untouched)
    std::vector<uint8_t> poweredOn;   // slots that got the power-on command, in order
};

// GoogleTest would otherwise print the case as its bytes, padding included.
void PrintTo(const SearchCase &c, std::ostream *os) { *os << c.name; }

class FindAndOpenCard : public SessionTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(FindAndOpenCard, PowersTheNamedSlotsInOrder) {
    const SearchCase &c = GetParam();
    switch (c.contact) {
    case kEmpty: break;
    case kEmptyFF05: reader()->slot(0x01).emptyPowerOnStatus = 0xFF05; break;
    case kCard: insertContactCard(); break;
    case kWrongType:
        insertContactCard();
        reader()->slot(0x01).powerOnStatus = 0xFF12;
        break;
    }
    if (c.field == kFieldWrongType) {
        insertContactlessCard(kContactlessCpu);
        reader()->slot(0x02).powerOnStatus = 0xFF12;
    } else if (c.field != kNoField) {
        insertContactlessCard(static_cast<uint8_t>(c.field));
    }
    cardSlot = 0xEE;

    EXPECT_EQ(findAndOpenCard(handle, c.type), c.result);
    EXPECT_EQ(cardSlot, c.slotAfter);
    std::vector<std::string> expected;
    for (uint8_t slot : c.poweredOn) expected.push_back(at(slot, kPowerOn));
    EXPECT_EQ(seen(), expected);
}

const SearchCase kSearchCases[] = {
    // Type 1: the contact slot only; its power-on errors pass through.
    {"T1_ContactCard", 1, kCard, kContactlessCpu, 0, 0x01, {0x01}},
    {"T1_Empty", 1, kEmpty, kContactlessCpu, -2, 0x01, {0x01}},
    {"T1_EmptyAnsweredFF05", 1, kEmptyFF05, kNoField, -2, 0x01, {0x01}},
    {"T1_WrongType", 1, kWrongType, kNoField, -1, 0x01, {0x01}},
    // Type 2: the field only; its first answer byte classifies the card.
    {"T2_CpuCard", 2, kCard, kContactlessCpu, 0, 0x02, {0x02}},
    {"T2_TypeBUnusable", 2, kCard, kContactlessTypeB, -2, 0x02, {0x02}},
    {"T2_Memory04", 2, kEmpty, kContactlessMemory1K, -1, 0x02, {0x02}},
    {"T2_Memory02", 2, kEmpty, kContactlessMemory4K, -1, 0x02, {0x02}},
    {"T2_OtherFirstByte", 2, kEmpty, 0x86, 0, 0x02, {0x02}},
    {"T2_Empty", 2, kCard, kNoField, -2, 0x02, {0x02}},
    {"T2_WrongType", 2, kEmpty, kFieldWrongType, -2, 0x02, {0x02}},
    // Type 3: contact, then the field; no memory-card rule.
    {"T3_ContactCard", 3, kCard, kContactlessCpu, 0, 0x01, {0x01}},
    {"T3_FieldOnly", 3, kEmpty, kContactlessCpu, 0, 0x02, {0x01, 0x02}},
    {"T3_FieldAfterFF05", 3, kEmptyFF05, kContactlessCpu, 0, 0x02, {0x01, 0x02}},
    {"T3_FieldAfterWrongType", 3, kWrongType, kContactlessCpu, 0, 0x02, {0x01, 0x02}},
    {"T3_FieldTypeB", 3, kEmpty, kContactlessTypeB, -2, 0x02, {0x01, 0x02}},
    {"T3_FieldMemoryCardAccepted", 3, kEmpty, kContactlessMemory1K, 0, 0x02, {0x01, 0x02}},
    {"T3_Nothing", 3, kEmpty, kNoField, -2, 0x02, {0x01, 0x02}},
    {"T3_NothingButWrongTypes", 3, kWrongType, kFieldWrongType, -2, 0x02, {0x01, 0x02}},
    // Type 4: the field, then contact; contact errors pass through.
    {"T4_FieldCard", 4, kCard, kContactlessCpu, 0, 0x02, {0x02}},
    {"T4_FieldMemoryCardAccepted", 4, kCard, kContactlessMemory4K, 0, 0x02, {0x02}},
    {"T4_ContactOnly", 4, kCard, kNoField, 0, 0x01, {0x02, 0x01}},
    {"T4_ContactAfterTypeB", 4, kCard, kContactlessTypeB, 0, 0x01, {0x02, 0x01}},
    {"T4_TypeBAndNoContact", 4, kEmpty, kContactlessTypeB, -2, 0x01, {0x02, 0x01}},
    {"T4_Nothing", 4, kEmpty, kNoField, -2, 0x01, {0x02, 0x01}},
    {"T4_NothingContactFF05", 4, kEmptyFF05, kNoField, -2, 0x01, {0x02, 0x01}},
    {"T4_ContactWrongType", 4, kWrongType, kFieldWrongType, -1, 0x01, {0x02, 0x01}},
    // Anything else finds no card and sends nothing.
    {"T0", 0, kCard, kContactlessCpu, -2, 0xEE, {}},
    {"T5", 5, kCard, kContactlessCpu, -2, 0xEE, {}},
    {"TMinus1", -1, kCard, kContactlessCpu, -2, 0xEE, {}},
};

INSTANTIATE_TEST_SUITE_P(CardTypes, FindAndOpenCard, ::testing::ValuesIn(kSearchCases),
                         [](const ::testing::TestParamInfo<SearchCase> &i) { return std::string(i.param.name); });

class CardSearch : public SessionTest {};

// A power-on that the reader never answers is explained by the card status
// command; under type 1 the resulting code passes through.
TEST_F(CardSearch, UnansweredContactPowerOnPassesThrough) {
    shortTimeout();
    insertContactCard();
    reader()->muteNext();
    EXPECT_EQ(findAndOpenCard(handle, 1), -4);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, kPowerOn), at(0x01, kCardStatus)}));
}

TEST_F(CardSearch, UnansweredFieldPowerOnFallsBackToContactUnderType4) {
    shortTimeout();
    insertContactCard();
    reader()->muteNext();
    EXPECT_EQ(findAndOpenCard(handle, 4), 0);
    EXPECT_EQ(cardSlot, 0x01);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x02, kPowerOn), at(0x02, kCardStatus), at(0x01, kPowerOn)}));
}

// The card found is powered and takes APDUs on cardSlot.
TEST_F(CardSearch, CardFoundTakesCommandsOnCardSlot) {
    insertContactlessCard(kContactlessCpu)->on("00 84 00 00", "11 22 33 44");
    ASSERT_EQ(findAndOpenCard(handle, 3), 0);
    unsigned char cmd[] = {0x00, 0x84, 0x00, 0x00, 0x04};
    unsigned char rsp[kT0ResponseArea];
    unsigned int len = 0;
    EXPECT_EQ(IccExchangeT0(handle, cardSlot, sizeof cmd, cmd, &len, rsp), 0x9000u);
    EXPECT_EQ(toHex(rsp, len), "11 22 33 44");
    EXPECT_EQ(seen().back(), at(0x02, "00 84 00 00 04"));
}

// An empty answer to reset still names a card in the contact slot.
TEST_F(CardSearch, EmptyAnswerToResetCountsAsACard) {
    reader()->insert(0x01, std::make_shared<ScriptedCard>(Bytes{}));
    EXPECT_EQ(findAndOpenCard(handle, 1), 0);
    // Types 3 and 4 want an answer with bytes, and look in the field instead.
    EXPECT_EQ(findAndOpenCard(handle, 3), -2);
    EXPECT_EQ(cardSlot, 0x02);
    // In the field an empty answer is no card: its first byte would be
    // read from a cleared buffer.
    reader()->remove(0x01);
    reader()->insert(0x02, std::make_shared<ScriptedCard>(Bytes{}));
    for (int type : {2, 3, 4}) EXPECT_EQ(findAndOpenCard(handle, type), -2) << type;
}

// A reader handle that is not open: the power-on's -12 passes through
// under type 1, and the other types report no card.
TEST_F(CardSearch, HandleNotOpen) {
    insertContactCard();
    ICC_Reader_Close(handle);
    EXPECT_EQ(findAndOpenCard(handle, 1), -12);
    EXPECT_EQ(findAndOpenCard(handle, 2), -2);
    EXPECT_EQ(findAndOpenCard(handle, 4), -12);
    EXPECT_TRUE(seen().empty());
}

}  // namespace
}  // namespace sessiontest
