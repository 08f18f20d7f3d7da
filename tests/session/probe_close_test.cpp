// SPDX-License-Identifier: MIT
// The card category probe, closing the reader, and one whole session as a
// card-level call runs it.
#include <cstring>

#include "errors/errors.h"
#include "session_fixture.h"

using namespace vr;

namespace sessiontest {
namespace {

constexpr const char *kProbe = "80 17 00 59 01";
constexpr size_t kCategorySize = 50;

class CategoryProbe : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        std::memset(category, 0xA5, sizeof category);
    }
    // The 50 bytes of the category buffer past the first, and the guard after.
    bool restCleared() const {
        for (size_t i = 1; i < kCategorySize; i++)
            if (category[i] != 0) return false;
        return category[kCategorySize] == 0xA5;
    }
    unsigned char category[kCategorySize + 1];
};

TEST_F(CategoryProbe, AnswerByteToCategory) {
    const struct {
        int answer;
        unsigned char category;
    } cases[] = {{0x00, 3}, {0x09, 1}, {0x0A, 2}, {0x12, 7}, {0x01, 9}, {0x03, 9}, {0x80, 9}, {0xFF, 9}};
    insertContactCard();
    for (const auto &c : cases) {
        reader()->slot(0x01).categoryProbe = c.answer;
        reader()->clearTrace();
        std::memset(category, 0xA5, sizeof category);
        EXPECT_EQ(ReadCardType(handle, 0x01, category), 1) << c.answer;
        EXPECT_EQ(category[0], c.category) << c.answer;
        EXPECT_TRUE(restCleared()) << c.answer;
        EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, kProbe)})) << c.answer;
    }
}

TEST_F(CategoryProbe, OtherSlotsAreNotProbed) {
    reader()->slot(0x02).categoryProbe = 0x00;
    EXPECT_EQ(ReadCardType(handle, 0x02, category), 2);
    EXPECT_EQ(ReadCardType(handle, 0x11, category), 0x11);
    EXPECT_EQ(ReadCardType(handle, 0x00, category), 0);
    EXPECT_EQ(category[0], 0xA5);
    EXPECT_EQ(category[kCategorySize - 1], 0xA5);
    EXPECT_TRUE(seen().empty());
}

TEST_F(CategoryProbe, RefusedProbe) {
    // The card itself does not know the command (6D 00).
    insertContactCard();
    char atr[64];
    ASSERT_GT(ICC_Reader_PowerOn(handle, 0x01, atr), 0);
    reader()->clearTrace();
    EXPECT_EQ(ReadCardType(handle, 0x01, category), -11);
    EXPECT_TRUE(restCleared());
    EXPECT_EQ(category[0], 0);
    // The slot is empty: the exchange fails.
    reader()->remove(0x01);
    EXPECT_EQ(ReadCardType(handle, 0x01, category), -11);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, kProbe), at(0x01, kProbe)}));
}

// 90 00 without a category byte tells nothing about the card: refused
// rather than read as category 3 from a byte the reader never sent.
TEST_F(CategoryProbe, AnswerWithoutCategoryByte) {
    reader()->replyNextWith(Reader::split(0x12, hex("90 00")));
    EXPECT_EQ(ReadCardType(handle, 0x01, category), -11);
    EXPECT_EQ(category[0], 0);
}

TEST_F(CategoryProbe, LongerAnswerUsesItsFirstByte) {
    reader()->replyNextWith(Reader::split(0x12, hex("0A 01 02 90 00")));
    EXPECT_EQ(ReadCardType(handle, 0x01, category), 3);
    EXPECT_EQ(category[0], 2);
}

TEST_F(CategoryProbe, NullCategory) {
    reader()->slot(0x01).categoryProbe = 0x00;
    EXPECT_EQ(ReadCardType(handle, 0x01, nullptr), -14);
    EXPECT_TRUE(seen().empty());
}

class CloseReader : public SessionTest {};

TEST_F(CloseReader, ClosesAndEndsTheSessionState) {
    insertContactlessCard(kContactlessCpu);
    reader()->insert(0x12, Psam::withApplications({2}));
    psamSlot = 0x12;
    ASSERT_EQ(findAndOpenCard(handle, 4), 0);
    ASSERT_EQ(findAndOpenPSAM(handle, 2), 0);
    mHreader = handle;
    m_pin_verified = 1;
    reader()->clearTrace();

    closeReader(handle);
    EXPECT_EQ(mHreader, -11);
    EXPECT_EQ(getHandler(), -11);
    EXPECT_EQ(m_pin_verified, 0);
    // The slots stay as they were found, for the next session; nothing is
    // sent on closing (no power-off), and the handle is closed.
    EXPECT_EQ(cardSlot, 0x02);
    EXPECT_EQ(psamSlot, 0x12);
    EXPECT_TRUE(seen().empty());
    char atr[64];
    EXPECT_EQ(ICC_Reader_PowerOn(handle, 0x01, atr), -12);
}

TEST_F(CloseReader, StateIsClearedWhenTheCloseFails) {
    for (long h : {handle + 400, -5L, 0L}) {
        mHreader = 1700;
        m_pin_verified = 1;
        closeReader(h);
        EXPECT_EQ(mHreader, -11) << h;
        EXPECT_EQ(m_pin_verified, 0) << h;
    }
    // The reader that is open was not touched.
    char atr[64];
    EXPECT_EQ(ICC_Reader_PowerOn(handle, 0x03, atr), 256);
    // Closing twice.
    closeReader(handle);
    mHreader = 5;
    closeReader(handle);
    EXPECT_EQ(mHreader, -11);
}

// One session as a card-level call runs it, and what the reader received.
TEST_F(CloseReader, WholeSession) {
    closeReader(handle);
    ASSERT_EQ(checkCardType(3), 0);
    handle = ICC_Reader_Open("USB1");
    ASSERT_GE(handle, 1650);
    insertContactCard()->on("00 A4 04 00", "6F 08 84 06 01 02 03 04 05 06").on("00 B2 01 04", "55 03 01 02 03");
    reader()->insert(0x11, Psam::withApplications({3}));
    reader()->clearTrace();

    ASSERT_EQ(findAndOpenCard(handle, 3), 0);
    ASSERT_EQ(findAndOpenPSAM(handle, 3), 0);
    unsigned char select[] = {0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x01};
    unsigned char read[] = {0x00, 0xB2, 0x01, 0x04, 0x00};
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    EXPECT_EQ(IccExchangeT0(handle, cardSlot, sizeof select, select, &len, rsp), 0x9000u);
    EXPECT_EQ(toHex(rsp, len), "6F 08 84 06 01 02 03 04 05 06");
    EXPECT_EQ(IccExchangeT0(handle, cardSlot, sizeof read, read, &len, rsp), 0x9000u);
    EXPECT_EQ(toHex(rsp, len), "55 03 01 02 03");
    closeReader(handle);

    Bytes sel3 = psamApplicationName(3);
    EXPECT_EQ(seen(), (std::vector<std::string>{
                          at(0x01, kPowerOn),
                          at(0x11, kPowerOn),
                          at(0x11, "00 A4 04 00 0F " + toHex(sel3)),
                          at(0x11, "00 C0 00 00 13"),
                          at(0x01, "00 A4 04 00 02 3F 01"),
                          at(0x01, "00 C0 00 00 0A"),
                          at(0x01, "00 B2 01 04 00"),
                          at(0x01, "00 B2 01 04 05"),
                      }));
    EXPECT_EQ(read[4], 0x05);
    EXPECT_EQ(mHreader, -11);
}

}  // namespace
}  // namespace sessiontest
