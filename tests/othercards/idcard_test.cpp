// SPDX-License-Identifier: MIT
// The three identity-card readers through the virtual reader: the exact
// frames the module receives, the output texts for each kind of card, and
// every failure of the dialogue.
#include <string>
#include <vector>

#include "idcard_fixture.h"

using namespace vr;

namespace idtest {
namespace {

std::string photoHexOf(const IdHolder &h) {
    std::string s;
    for (char c : toHex(idPhoto(h)))
        if (c != ' ') s += c;
    return s;
}

std::string spaces(size_t n) { return std::string(n, ' '); }

const std::vector<std::string> kFullDialogue = {kPowerOn,    kResetFrame, kSizeFrame, kFindFrame,
                                                kSelectFrame, kReadFrame,  kReadDone};

TEST_F(IdCardTest, IdentityCardGivesTenFieldsAfterTheFullDialogue) {
    EXPECT_EQ(iReadIdentityCard(out), 0);
    EXPECT_EQ(text(), "|" + gb(plainResident().name) + "|" + gb(kMaleU) + "|" + gb(kHanU) +
                          "|19900307|ADDRESS|320106199003072026|20200115|20400115|AUTH|");
    EXPECT_EQ(seen(), kFullDialogue);
    EXPECT_TRUE(readerClosed());
    // The first 4096 bytes are cleared before the text is written.
    for (size_t i = text().size(); i < 4096; ++i) ASSERT_EQ(out[i], 0) << i;
    EXPECT_EQ(static_cast<unsigned char>(out[4096]), 0xA5);
}

TEST_F(IdCardTest, SfzGivesCaretSeparatedFields) {
    EXPECT_EQ(iReadSFZ(out), 0);
    EXPECT_EQ(text(), "320106199003072026^" + gb(plainResident().name) + "^^" + gb(kMaleU) + "^" + gb(kHanU) +
                          "^19900307^ADDRESS^AUTH^2020011520400115^");
    EXPECT_EQ(seen(), kFullDialogue);
    EXPECT_TRUE(readerClosed());
}

TEST_F(IdCardTest, IdcGivesElevenUntrimmedFieldsAndThePhoto) {
    mHreader = 1700;
    EXPECT_EQ(IDC_ReadIDCard(out, photo), 0);
    EXPECT_EQ(text(), gb(plainResident().name) + spaces(12) + "|" + gb(kMaleU) + "|" + gb(kHanU) + "|19900307|" +
                          "ADDRESS LINE 18" + spaces(20) + "|320106199003072026|AUTH OFFICE" + spaces(4) +
                          "|20200115|20400115|||");
    EXPECT_EQ(std::string(photo), photoHexOf(plainResident()));
    EXPECT_EQ(std::string(photo).size(), 2048u);
    // No reset frame; the module's status is asked after its power-on; no
    // signal at the end, and the session is closed.
    EXPECT_EQ(seen(), (std::vector<std::string>{kPowerOn, kCardStatus, kSizeFrame, kFindFrame, kSelectFrame,
                                                kReadFrame}));
    EXPECT_EQ(mHreader, -11);
    EXPECT_TRUE(readerClosed());
}

// "J": residence permit for residents of the regions outside the mainland.
IdHolder permit() {
    IdHolder h = plainResident();
    h.kind = "J";
    h.number = "810000199003070012";
    h.passNumber = "H01234567";
    h.issueCount = "02";
    h.validTo = "20250115";
    return h;
}

// "I": permanent residence of a foreigner.
IdHolder permanentResidence() {
    IdHolder h;
    h.kind = "I";
    h.latinName = "MILLER, ANNA MARIA";
    h.name = "\xE7\xB1\xB3\xE5\x8B\x92\xE5\xAE\x89\xE5\xA8\x9C";  // 米勒安娜
    h.sex = "2";
    h.number = "CAN110090030701";
    h.nationality = "CAN";
    h.birth = "19900307";
    h.version = "01";
    h.authority = "1100";
    h.validFrom = "20200115";
    h.validTo = "20300115";
    h.photoLength = 1024;
    return h;
}

TEST_F(IdCardTest, OtherKindsGiveAnEmptyIdentityCardText) {
    for (const IdHolder &h : {permit(), permanentResidence()}) {
        holder(h);
        reader()->clearTrace();
        std::memset(out, 0xA5, sizeof out);
        EXPECT_EQ(iReadIdentityCard(out), 0) << h.kind;
        EXPECT_EQ(text(), "") << h.kind;
        EXPECT_EQ(seen(), kFullDialogue) << h.kind;
    }
}

TEST_F(IdCardTest, ResidencePermitLayouts) {
    holder(permit());
    EXPECT_EQ(iReadSFZ(out), 0);
    EXPECT_EQ(text(), "810000199003070012^" + gb(plainResident().name) + "^H01234567^" + gb(kMaleU) +
                          "^19900307^ADDRESS^AUTH^2020011520250115^^");
    EXPECT_EQ(IDC_ReadIDCard(out, photo), 0);
    EXPECT_EQ(text(), gb(plainResident().name) + spaces(12) + "|" + gb(kMaleU) + "||19900307|ADDRESS LINE 18" +
                          spaces(20) + "|810000199003070012|AUTH OFFICE" + spaces(4) +
                          "|20200115|20250115|H01234567|02|");
    EXPECT_EQ(std::string(photo), photoHexOf(permit()));
}

TEST_F(IdCardTest, PermanentResidenceLayouts) {
    holder(permanentResidence());
    EXPECT_EQ(iReadSFZ(out), 0);
    // The name in Latin letters is whole; the Chinese name ends at a space.
    EXPECT_EQ(text(), "CAN110090030701^" + gb(kFemaleU) + "^MILLER, ANNA MARIA^CAN^" +
                          gb(permanentResidence().name) + "^2020011520300115^19900307^01^1100^I^");
    EXPECT_EQ(IDC_ReadIDCard(out, photo), 0);
    EXPECT_EQ(text(), "MILLER, ANNA MARIA" + spaces(42) + "|" + gb(kFemaleU) + "||19900307||CAN110090030701|1100|" +
                          "20200115|20300115|CAN|" + gb(permanentResidence().name) + spaces(11) + "|");
}

TEST_F(IdCardTest, SexCodeOneIsMaleAnyOtherFemale) {
    const struct {
        const char *code;
        const std::string &sex;
    } cases[] = {{"1", kMaleU}, {"2", kFemaleU}, {"0", kFemaleU}, {"9", kFemaleU}, {"", kFemaleU}};
    for (const auto &c : cases) {
        IdHolder h = plainResident();
        h.sex = c.code;
        holder(h);
        ASSERT_EQ(iReadSFZ(out), 0);
        EXPECT_EQ(text().substr(0, text().find(gb(kHanU))),
                  "320106199003072026^" + gb(h.name) + "^^" + gb(c.sex) + "^")
            << "sex code '" << c.code << "'";
    }
}

TEST_F(IdCardTest, EthnicGroupByItsDecimalCode) {
    const struct {
        const char *code;
        std::string name;
    } cases[] = {
        {"01", gb(kHanU)},
        {"56", gb("\xE5\x9F\xBA\xE8\xAF\xBA\xE6\x97\x8F")},  // 基诺族
        {"97", gb("\xE5\x85\xB6\xE4\xBB\x96")},              // 其他
        {"00", ""},
        {"57", ""},
        {"99", ""},
        {"-1", ""},
        {"AB", ""},
        {"", ""},
    };
    for (const auto &c : cases) {
        IdHolder h = plainResident();
        h.ethnic = c.code;
        holder(h);
        ASSERT_EQ(iReadIdentityCard(out), 0);
        EXPECT_EQ(text().substr(0, text().find("|19900307|") + 1),
                  "|" + gb(h.name) + "|" + gb(kMaleU) + "|" + c.name + "|")
            << "ethnic code '" << c.code << "'";
    }
}

TEST_F(IdCardTest, SpacesCutNamesAndTrailingSpacesGo) {
    IdHolder h = plainResident();
    h.name = " LEADING SPACE";   // the first byte is kept even when it is a space
    h.address = "   ";           // spaces only: an empty field
    h.authority = "A";
    h.number = "12345 ";
    h.validTo = kLongTermU;      // not 8 digits: passed through
    holder(h);
    ASSERT_EQ(iReadIdentityCard(out), 0);
    EXPECT_EQ(text(), "| LEADING|" + gb(kMaleU) + "|" + gb(kHanU) + "|19900307||12345|20200115|" + gb(kLongTermU) +
                          "|A|");
    ASSERT_EQ(iReadSFZ(out), 0);
    EXPECT_EQ(text(), "12345^ LEADING^^" + gb(kMaleU) + "^" + gb(kHanU) + "^19900307^^A^20200115" + gb(kLongTermU) +
                          "^");
}

TEST_F(IdCardTest, ValidFromAndValidToAreTheHalvesOfTheValidityBlock) {
    // Bytes 0 to 7 and 8 to 15 of the converted block, each trimmed.
    IdHolder h = plainResident();
    h.validFrom = "2020";
    h.validTo = "20400115";
    holder(h);
    ASSERT_EQ(iReadIdentityCard(out), 0);
    EXPECT_NE(text().find("|320106199003072026|2020|20400115|AUTH|"), std::string::npos) << text();
}

// A text block with a character that does not convert (a lone surrogate) in
// the given field; the rest stays the holder's.
Bytes textWithBadCharacter(size_t offset) {
    Bytes text = idTextBlock(plainResident());
    text[offset] = 0x00;
    text[offset + 1] = 0xD8;
    return text;
}

TEST_F(IdCardTest, FieldThatDoesNotConvertKeepsWhatWasConverted) {
    // The name's third character, and the first of the number.
    Bytes text = textWithBadCharacter(4);
    text[122] = 0x00;
    text[123] = 0xDC;
    module->setRawText(text);
    testing::internal::CaptureStdout();
    long rc = iReadIdentityCard(out);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(text.size(), 256u);
    EXPECT_EQ(this->text(), "|" + gb("\xE6\x9E\x97\xE6\x99\x93") + "|" + gb(kMaleU) + "|" + gb(kHanU) +
                                "|19900307|ADDRESS||20200115|20400115|AUTH|");
    EXPECT_EQ(printed, "code_convert cd iconv error\ncode_convert cd iconv error\n");
}

TEST_F(IdCardTest, ShortTextBlockLeavesTheMissingFieldsEmpty) {
    // The module sends only the name and the sex: T = 32.
    Bytes text = idTextBlock(plainResident());
    text.resize(32);
    module->setRawText(text);
    ASSERT_EQ(iReadIdentityCard(out), 0);
    EXPECT_EQ(this->text(), "|" + gb(plainResident().name) + "|" + gb(kMaleU) + "||||||||");
    ASSERT_EQ(IDC_ReadIDCard(out, photo), 0);
    EXPECT_EQ(this->text(), gb(plainResident().name) + spaces(12) + "|" + gb(kMaleU) + "||||||||||");
    EXPECT_EQ(std::string(photo), photoHexOf(plainResident()));
}

TEST_F(IdCardTest, LongerTextBlockIsReadUpToItsFields) {
    Bytes text = idTextBlock(plainResident());
    text.resize(300, 0x41);
    module->setRawText(text);
    ASSERT_EQ(IDC_ReadIDCard(out, photo), 0);
    // The photo follows the whole 300 bytes of text.
    EXPECT_EQ(std::string(photo), photoHexOf(plainResident()));
}

// ---- failures ------------------------------------------------------------

TEST_F(IdCardTest, NoReader) {
    bus().plug(UsbVariant::NoReader);
    EXPECT_EQ(iReadIdentityCard(out), -11);
    EXPECT_EQ(text(), gb(kReaderErrorU));
    EXPECT_EQ(std::string(logbuf), "getErrorInf, code:-11, error info " + gb(kReaderErrorU) + "\r\n");
    logbuf[0] = 0;
    EXPECT_EQ(iReadSFZ(out), -11);
    EXPECT_EQ(text(), gb(kReaderErrorU));
    EXPECT_EQ(std::string(logbuf), "");  // written by iReadSFZ itself
    EXPECT_EQ(IDC_ReadIDCard(out, photo), -11);
    EXPECT_EQ(text(), gb(kReaderErrorU));
}

TEST_F(IdCardTest, NoModule) {
    reader()->remove(0x1B);
    EXPECT_EQ(iReadIdentityCard(out), -2);
    EXPECT_EQ(text(), gb(kNoCardU));
    EXPECT_EQ(iReadSFZ(out), -2);
    EXPECT_EQ(text(), gb(kNoCardU));
    EXPECT_TRUE(readerClosed());
    reader()->clearTrace();
    // The reader answers the power-on of the empty slot with 62 00.
    EXPECT_EQ(IDC_ReadIDCard(out, photo), -25088);
    EXPECT_EQ(text(), gb(kResetFailedU));
    EXPECT_EQ(seen(), std::vector<std::string>{kPowerOn});
    EXPECT_TRUE(readerClosed());
}

TEST_F(IdCardTest, NoCardInTheField) {
    module->removeCard();
    EXPECT_EQ(iReadIdentityCard(out), -36864);
    EXPECT_EQ(text(), gb(kReadFailedU));
    EXPECT_EQ(seen(), (std::vector<std::string>{kPowerOn, kResetFrame, kSizeFrame, kFindFrame}));
    EXPECT_TRUE(readerClosed());
}

// Each frame refused in turn, by the module inside a 90 00 exchange or by
// the reader with its own status word.
struct FrameFailure {
    uint8_t command, parameter;
    const char *frame;
};
const FrameFailure kFrameFailures[] = {
    {0x12, 0xFF, kResetFrame}, {0x61, 0xFF, kSizeFrame}, {0x20, 0x01, kFindFrame},
    {0x20, 0x02, kSelectFrame}, {0x30, 0x01, kReadFrame},
};

std::vector<std::string> dialogueUpTo(const std::vector<std::string> &all, const std::string &last) {
    std::vector<std::string> s;
    for (const auto &f : all) {
        s.push_back(f);
        if (f == last) break;
    }
    return s;
}

TEST_F(IdCardTest, RefusedFrameStopsTheRead) {
    const std::vector<std::string> idc = {kPowerOn, kCardStatus, kSizeFrame, kFindFrame, kSelectFrame, kReadFrame};
    for (const FrameFailure &f : kFrameFailures) {
        for (bool byReader : {false, true}) {
            // The module's answer to the reset and frame-size frames is
            // not examined: the reader's 90 00 is enough.
            if (!byReader && (f.command == 0x12 || f.command == 0x61)) continue;
            SCOPED_TRACE(std::string(f.frame) + (byReader ? " refused by the reader" : " refused by the module"));
            module = std::make_shared<IdModule>(plainResident());
            if (byReader) module->failExchange(f.command, f.parameter, 0x6A82);
            else module->refuse(f.command, f.parameter, 0x41);
            reader()->insert(0x1B, module);
            long code = byReader ? -27266 : -36864;

            reader()->clearTrace();
            EXPECT_EQ(iReadIdentityCard(out), code);
            EXPECT_EQ(text(), gb(kReadFailedU));
            EXPECT_EQ(seen(), dialogueUpTo(kFullDialogue, f.frame));
            EXPECT_TRUE(readerClosed());

            reader()->clearTrace();
            EXPECT_EQ(iReadSFZ(out), code);
            EXPECT_EQ(text(), gb(kReadFailedU));

            if (f.command == 0x12) continue;  // IDC_ReadIDCard sends no reset frame
            reader()->clearTrace();
            mHreader = 1700;
            EXPECT_EQ(IDC_ReadIDCard(out, photo), code);
            EXPECT_EQ(text(), gb(kReadFailedU));
            EXPECT_EQ(seen(), dialogueUpTo(idc, f.frame));
            EXPECT_EQ(mHreader, -11);
            EXPECT_TRUE(readerClosed());
        }
    }
}

TEST_F(IdCardTest, AnswerThatAnnouncesMoreThanItHoldsIsRefused) {
    const struct {
        int t, p;
    } cases[] = {{257, 1024}, {256, 1025}, {0xFFFF, 0}, {0, 0xFFFF}, {0xFFFF, 0xFFFF}};
    for (const auto &c : cases) {
        module->announceLengths(c.t, c.p);
        EXPECT_EQ(iReadIdentityCard(out), -36864) << c.t << " " << c.p;
        EXPECT_EQ(text(), gb(kReadFailedU));
        EXPECT_EQ(IDC_ReadIDCard(out, photo), -36864) << c.t << " " << c.p;
        EXPECT_EQ(static_cast<unsigned char>(photo[0]), 0xA5) << "photo buffer untouched";
    }
    // Announcing less than was sent is no contradiction: the text ends
    // early, the photo is what was announced.
    module->announceLengths(30, 4);
    ASSERT_EQ(IDC_ReadIDCard(out, photo), 0);
    EXPECT_EQ(text(), gb(plainResident().name) + spaces(12) + "|" + gb(kFemaleU) + "||||||||||");
    // The four bytes after the 30 of text: the sex "1" and the ethnic "0".
    EXPECT_EQ(std::string(photo), "31003000");
}

TEST_F(IdCardTest, PhotoLongerThanThePhotoBufferIsRefusedByIdc) {
    IdHolder h = plainResident();
    h.photoLength = 1025;
    holder(h);
    EXPECT_EQ(IDC_ReadIDCard(out, photo), -36864);
    EXPECT_EQ(text(), gb(kReadFailedU));
    EXPECT_EQ(static_cast<unsigned char>(photo[0]), 0xA5);
    // The text readers do not use the photo.
    EXPECT_EQ(iReadIdentityCard(out), 0);
    h.photoLength = 0;
    holder(h);
    ASSERT_EQ(IDC_ReadIDCard(out, photo), 0);
    EXPECT_EQ(std::string(photo), "");
}

// Whatever the module answers to the reset and frame-size frames inside
// the reader's 90 00, the read goes on; the answers to finding, selecting
// and reading the card must be whole and report success.
TEST_F(IdCardTest, OnlyTheCardFramesAnswersAreExamined) {
    for (uint8_t command : {0x12, 0x61}) module->refuse(command, 0xFF, 0x21);
    EXPECT_EQ(iReadIdentityCard(out), 0);
    EXPECT_EQ(seen(), kFullDialogue);
    module->corruptChecksums(true);
    reader()->clearTrace();
    EXPECT_EQ(iReadIdentityCard(out), -36864);
    EXPECT_EQ(seen(), (std::vector<std::string>{kPowerOn, kResetFrame, kSizeFrame, kFindFrame}));
}

// A module answer whose length field is below 4 (the three status bytes
// and the checksum) is refused even when the bytes at the places of the
// result and the checksum read as success.
class ShortLengthModule : public IdModule {
public:
    ShortLengthModule(IdHolder h, int length) : IdModule(std::move(h)), length_(length) {}
    Bytes transmit(const Bytes &c) override {
        Bytes real = IdModule::transmit(c);
        if (c != hex("AA AA AA 96 69 00 03 20 01 22")) return real;
        // Preamble, the length, bytes up to 9 with 90 at the result's
        // place, the checksum where the length puts it.
        Bytes a = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, static_cast<uint8_t>(length_), 0x00, 0x00, 0x90, 0x00, 0x00};
        uint8_t sum = 0;
        for (int i = 5; i < 7 + length_ - 1; ++i) sum ^= a[i];
        if (length_ == 3) a[8] = 0x00 ^ 0x03 ^ 0x90;  // the checksum is then the 90 itself
        else if (length_ > 0) a[7 + length_ - 1] = sum;
        return withStatus(a, 0x9000);
    }

private:
    int length_;
};

TEST_F(IdCardTest, ModuleAnswerWithALengthBelowFourIsRefused) {
    for (int length : {0, 1, 2, 3}) {
        reader()->insert(0x1B, std::make_shared<ShortLengthModule>(plainResident(), length));
        EXPECT_EQ(iReadIdentityCard(out), -36864) << length;
        EXPECT_EQ(text(), gb(kReadFailedU)) << length;
    }
}

TEST_F(IdCardTest, NullBuffersAreRefusedBeforeTheReaderIsOpened) {
    EXPECT_EQ(iReadIdentityCard(nullptr), -14);
    EXPECT_EQ(iReadSFZ(nullptr), -14);
    EXPECT_EQ(IDC_ReadIDCard(nullptr, photo), -14);
    EXPECT_EQ(IDC_ReadIDCard(out, nullptr), -14);
    EXPECT_TRUE(seen().empty());
}

}  // namespace
}  // namespace idtest
