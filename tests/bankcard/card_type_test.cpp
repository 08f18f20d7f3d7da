// SPDX-License-Identifier: MIT
// iReadCardType through the virtual reader: the three texts a host
// receives (byte for byte, including what is left unwritten), the APDUs
// of the probe and the selections, and each failure.
#include "bankcard_fixture.h"

namespace banktest {
namespace {

constexpr const char *kProbe = "80 17 00 59 01";
constexpr char kFill = 'x';

class ReadCardType : public BankCardTest {
protected:
    int run() {
        std::memset(type, kFill, sizeof type);
        std::memset(region, kFill, sizeof region);
        std::memset(version, kFill, sizeof version);
        std::strcpy(logbuf, "before");
        return iReadCardType(type, region, version);
    }
    std::string typeBytes(size_t n = 8) const { return std::string(type, n); }
    std::string regionBytes() const { return std::string(region, 8); }
    std::string versionBytes() const { return std::string(version, 6); }
    void expectFailure(int rc, int code) {
        EXPECT_EQ(rc, code);
        EXPECT_EQ(std::string(version), errorText(code));
        EXPECT_EQ(std::string(logbuf),
                  "getErrorInf, code:" + std::to_string(code) + ", error info " + errorText(code) + "\r\n");
        EXPECT_EQ(regionBytes(), std::string(8, kFill));
        EXPECT_EQ(mHreader, -11);
    }
    // A social-security card of region 43 01 05, version 2.00.
    std::shared_ptr<vr::ScriptedCard> insertSsCard() {
        CardContent content;
        content.id = "43 01 05 00 00 00 00 86 00 00 00 00 00 12 34 56";
        reader()->slot(0x01).categoryProbe = 0x00;
        return insertCard(content);
    }

    char type[8], region[8], version[KESTREL_BANKNO_SIZE];
};

TEST_F(ReadCardType, SocialSecurityCard) {
    insertSsCard();
    EXPECT_EQ(run(), 0);
    // "0003" and two NUL bytes; region and version without a NUL.
    EXPECT_EQ(typeBytes(), std::string("0003\0\0xx", 8));
    EXPECT_EQ(regionBytes(), "430105xx");
    EXPECT_EQ(versionBytes(), "2.00xx");
    EXPECT_EQ(std::string(logbuf), "before");  // the probe writes no call-log line
    EXPECT_EQ(m_usercardVer, 2);
    EXPECT_EQ(m_usercardAlg, 1);
    EXPECT_EQ(mHreader, -11);
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kProbe),
                           // selectSSSE: the FCI declares the algorithm; the version needs the region byte
                           at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadVersion),
                           at(1, kReadCardId),
                           // selectFKJG
                           at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadCardId)}));
}

TEST_F(ReadCardType, OtherCategoriesOnTheContactSlot) {
    const struct {
        int answer;
        char category;
    } rows[] = {{0x09, 1}, {0x0A, 2}, {0x12, 7}, {0x01, 9}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.answer);
        insertCard();
        reader()->slot(0x01).categoryProbe = row.answer;
        clearTrace();
        EXPECT_EQ(run(), 1);  // the probe's answer length
        EXPECT_EQ(typeBytes(), std::string("\0", 1) + row.category + std::string(6, kFill));
        EXPECT_EQ(regionBytes(), std::string(8, kFill));
        EXPECT_EQ(versionBytes(), std::string(6, kFill));
        EXPECT_EQ(std::string(logbuf), "before");
        EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kProbe)}));
        EXPECT_EQ(mHreader, -11);
    }
    // A longer answer, from a reader that passes the probe to the card:
    // its length is returned.
    reader()->slot(0x01).categoryProbe = -1;
    auto card = insertCard();
    card->on(kProbe, "09 44 90 00");
    EXPECT_EQ(run(), 2);
    EXPECT_EQ(typeBytes(2), std::string("\0\1", 2));
}

TEST_F(ReadCardType, CardOnlyInTheContactlessField) {
    auto card = insertCard();
    card->setAtr(vr::contactlessAnswer(vr::kContactlessCpu));
    reader()->remove(0x01);
    reader()->insert(0x02, card);
    EXPECT_EQ(run(), 2);
    EXPECT_EQ(typeBytes(), std::string("\0\0", 2) + std::string(6, kFill));
    EXPECT_EQ(regionBytes(), std::string(8, kFill));
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(2, kPowerOn)}));  // not probed
    EXPECT_EQ(cardSlot, 0x02);
    EXPECT_EQ(mHreader, -11);
}

TEST_F(ReadCardType, ReaderAndCardFailures) {
    expectFailure(run(), -2);  // neither slot holds a card
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(2, kPowerOn)}));

    // A memory card in the field is of the wrong type.
    auto memory = std::make_shared<vr::ScriptedCard>(vr::contactlessAnswer(vr::kContactlessMemory1K));
    reader()->insert(0x02, memory);
    expectFailure(run(), -1);

    // The probe refused (the card gets it and does not know it), or
    // answered without a category byte.
    insertCard();
    expectFailure(run(), -11);
    EXPECT_EQ(typeBytes(), std::string(8, kFill));
    insertCard()->on(kProbe, "90 00");
    expectFailure(run(), -11);

    bus().plug(vr::UsbVariant::NoReader);
    expectFailure(run(), -11);
}

TEST_F(ReadCardType, SelectionFailures) {
    struct Row {
        const char *what;
        const char *rule;
        std::vector<std::string> answers;
        int code;
    } rows[] = {
        {"application missing", "00 A4 04 00 0F", {"6A 82"}, -27266},
        {"unknown version", kReadVersion, {"03 04 34 2E 30 30 90 00"}, -20},
        {"identification code in selectFKJG",
         kReadCardId,
         {"01 10 43 01 05 00 00 00 00 86 00 00 00 00 00 12 34 56 90 00", "6A 83"},
         -27267},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        insertSsCard()->on(row.rule, row.answers);
        clearTrace();
        expectFailure(run(), row.code);
        // The category was written before the selections.
        EXPECT_EQ(typeBytes(2), std::string("\0\3", 2));
    }
}

TEST_F(ReadCardType, NullBuffers) {
    insertSsCard();
    EXPECT_EQ(iReadCardType(nullptr, region, version), -14);
    EXPECT_EQ(std::string(version), errorText(-14));
    EXPECT_EQ(iReadCardType(type, nullptr, version), -14);
    EXPECT_EQ(iReadCardType(type, region, nullptr), -14);
    EXPECT_TRUE(seen().empty());
}

TEST_F(ReadCardType, DemonstrationCard) {
    insertProfile(vr::demoProfile());
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(typeBytes(6), std::string("0003\0\0", 6));
    EXPECT_EQ(regionBytes(), "430105xx");
    EXPECT_EQ(versionBytes(), "2.00xx");
    EXPECT_EQ(m_usercardAlg, 1);  // selectFKJG: by the region byte 43

    // A profile whose reader passes the probe on to the card.
    insertProfile(demoWith("category = 00", "category = none"));
    expectFailure(run(), -11);
}

}  // namespace
}  // namespace banktest
