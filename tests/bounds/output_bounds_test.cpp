// SPDX-License-Identifier: MIT
// Every output buffer that kestrel.h documents, given as a block of exactly
// the documented size followed by an inaccessible page: no function writes
// past it, on success, on failure, or when the reader, a card or a PSAM
// answers at length.  One test per family of functions; a write past the
// end stops the test program at once.
#include <functional>
#include <string>
#include <vector>

#include "bankcard/bankcard_fixture.h"
#include "guarded_buffer.h"
#include "othercards/idcard_fixture.h"

using vr::Bytes;
using vr::hex;

namespace {

// An answer of n bytes and 90 00, cut into the reader's reports.
std::vector<vr::Report> answerOf(size_t n) {
    Bytes b(n, 0x5A);
    b.push_back(0x90);
    b.push_back(0x00);
    return vr::Reader::split(0x12, b);
}

class LinkBounds : public vr::VirtualReaderTest {};

TEST_F(LinkBounds, ResponseAnswerToResetAndLibraryInformation) {
    long dev = CT_open("hid1", 0, 0);
    ASSERT_NE(dev, 0);
    // The largest response that fits, and one report more.
    for (size_t n : {size_t{KESTREL_MAX_RESPONSE - 2}, size_t{KESTREL_MAX_RESPONSE + 60}}) {
        const int want = n + 2 <= KESTREL_MAX_RESPONSE ? 0x9000 : 0x6FF0;
        unsigned char cmd[5] = {0x00, 0xB0, 0x00, 0x00, 0x00};
        int len = 0;
        GuardedBuffer rsp(KESTREL_MAX_RESPONSE), out(KESTREL_MAX_RESPONSE);
        reader()->replyNextWith(answerOf(n));
        EXPECT_EQ(ICC_tsi_api(dev, 5, cmd, &len, rsp.bytes()), want) << n;
        reader()->replyNextWith(answerOf(n));
        ASSERT_EQ(Hid_WriteCRW(dev, cmd, 5), 1);
        EXPECT_EQ(Hid_ReadCRW(dev, out.bytes(), &len), want) << n;
    }
    CT_close(dev);

    long h = ICC_Reader_Open("USB1");
    ASSERT_GT(h, 0);
    // Answers to reset that just fit with their status word, and one more.
    for (size_t atrLen : {size_t{KESTREL_ATR_SIZE - 2}, size_t{KESTREL_ATR_SIZE - 1}}) {
        reader()->insert(0x01, std::make_shared<vr::ScriptedCard>(Bytes(atrLen, 0x3B)));
        GuardedBuffer atr(KESTREL_ATR_SIZE);
        long want = atrLen + 2 <= KESTREL_ATR_SIZE ? static_cast<long>(atrLen) : kErrNoAnswer;
        EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr.text()), want) << atrLen;
    }
    // A GET CHALLENGE for 8 bytes answered with 9, and an answer longer
    // than the link delivers.
    unsigned char challenge[5] = {0x00, 0x84, 0x00, 0x00, 0x08};
    GuardedBuffer rsp(KESTREL_MAX_RESPONSE);
    reader()->replyNextWith(answerOf(9));
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, challenge, rsp.bytes()), 11);
    reader()->replyNextWith(answerOf(KESTREL_MAX_RESPONSE + 60));
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, challenge, rsp.bytes()), kErrNoAnswer);
    ICC_Reader_Close(h);

    GuardedBuffer info(KESTREL_LIBINFO_SIZE);
    EXPECT_EQ(ICC_Reader_Libinfo(info.text()), 0);
}

TEST(ConversionBounds, EachWritesItsDocumentedSize) {
    char money[] = "999999.99";
    const unsigned char bytes[4] = {0x99, 0x99, 0x99, 0x99};
    const char *src = reinterpret_cast<const char *>(bytes);
    char *srcw = const_cast<char *>(src);
    struct Case {
        const char *name;
        size_t size;
        std::function<void(unsigned char *)> call;
    } cases[] = {
        {"CHexToBin", 2, [](unsigned char *d) { CHexToBin(reinterpret_cast<char *>(d), "ABC", 3); }},
        {"BinToCHex", 2 * 4 + 1, [&](unsigned char *d) { BinToCHex(reinterpret_cast<char *>(d), src, 4); }},
        {"cnToAsc", 2 * 4 + 1, [&](unsigned char *d) { cnToAsc(reinterpret_cast<char *>(d), src, 4); }},
        {"moneycnToAsc", KESTREL_MONEY_TEXT_SIZE, [&](unsigned char *d) { moneycnToAsc(reinterpret_cast<char *>(d), srcw); }},
        {"moneybToAsc", KESTREL_MONEY_TEXT_SIZE, [](unsigned char *d) {
             char max[4] = {'\xFF', '\xFF', '\xFF', '\xFE'};
             moneybToAsc(reinterpret_cast<char *>(d), max);
         }},
        {"ascToMoneyb", 4, [&](unsigned char *d) { ascToMoneyb(reinterpret_cast<char *>(d), money); }},
        {"ascToMoneycn", 4, [&](unsigned char *d) { ascToMoneycn(reinterpret_cast<char *>(d), money); }},
        {"memcpyAdd0", 4, [](unsigned char *d) { memcpyAdd0(reinterpret_cast<char *>(d), "abc", 3); }},
        {"strcpyFixLen", 4, [](unsigned char *d) { strcpyFixLen(reinterpret_cast<char *>(d), "abc", 3); }},
        {"DoubleToBCD", 4, [](unsigned char *d) { DoubleToBCD(d, 1e12); }},
        {"findReadKey", 3, [](unsigned char *d) { findReadKey("DF01EF05", d, nullptr, 2); }},
        {"findWriteKey", 3, [](unsigned char *d) { findWriteKey("DF01EF05", d, 2, nullptr); }},
        {"splitWithDollar", 2 * KESTREL_ROW_SIZE, [](unsigned char *d) {
             std::string t = std::string(6000, 'a') + "$b$c$";
             splitWithDollar(t.c_str(), reinterpret_cast<char *>(d), 2);
         }},
        {"splitWithShift6", 2 * KESTREL_ROW_SIZE, [](unsigned char *d) {
             std::string t = "a^" + std::string(6000, 'b') + "^c^";
             splitWithShift6(t.c_str(), reinterpret_cast<char *>(d), 2);
         }},
        {"tag_decodetlv", KESTREL_TLV_OUT_SIZE, [](unsigned char *d) {
             // Three occurrences of 100 value bytes each: more than fits.
             Bytes data;
             for (int i = 0; i < 3; ++i) {
                 data.insert(data.end(), {0x5A, 100});
                 data.insert(data.end(), 100, 0x11);
             }
             const unsigned char tag[2] = {0x5A, 0x00};
             unsigned char outLen = 0;
             tag_decodetlv(static_cast<unsigned char>(data.size() - 50), tag, data.data(), d, &outLen);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        GuardedBuffer out(c.size);
        ASSERT_TRUE(out.ok());
        c.call(out.bytes());
    }
}

using sectest::SecurityTest;

class PsamBounds : public SecurityTest {};

// The PSAM's answers of any accepted length land in buffers of exactly
// that size: PSAMDes2's KESTREL_PSAM_ANSWER_SIZE bytes, the MAC's 4, 8 or
// 16 bytes as answered, and 8 after folding.
TEST_F(PsamBounds, EncryptionAndMac) {
    auto psam = insertPsam();
    psam->on(sectest::kSelectDF01, "90 00");
    psam->on(sectest::kSelectSx3, "90 00");
    psam->on(sectest::kSelectSx2, "90 00");
    psam->on(sectest::kSelectTerminal, "6A 82");
    psam->on("BF DE", "90 00");
    Bytes div(24, 0x5A), random(16, 0x22), data(8, 0x11), iv(16, 0);

    for (size_t n : {size_t{KESTREL_PSAM_ANSWER_SIZE}, size_t{KESTREL_PSAM_ANSWER_SIZE + 1}}) {
        psam->on("80 FA 00 00", vr::toHex(Bytes(n, 0xE1)) + " 90 00");
        GuardedBuffer out(KESTREL_PSAM_ANSWER_SIZE);
        unsigned int outLen = 0;
        long want = n <= KESTREL_PSAM_ANSWER_SIZE ? 0 : 0x6F00;
        EXPECT_EQ(PSAMDes2(handle, 0x28, 1, div.data(), 24, data.data(), 8, out.bytes(), &outLen, random.data(), 8),
                  want) << n;
    }
    for (size_t n : {size_t{4}, size_t{8}, size_t{KESTREL_MAC_MAX}}) {
        psam->on("80 FA 05 00", vr::toHex(Bytes(n, 0x4D)) + " 90 00");
        GuardedBuffer mac(n), mac1(n);
        EXPECT_EQ(PSAMMAC2(handle, 0x28, 1, div.data(), 24, iv.data(), data.data(), 8, mac.bytes(), random.data(), 8),
                  0) << n;
        EXPECT_EQ(mac.str(), std::string(n, 'M')) << n;
        EXPECT_EQ(PSAMMAC(handle, 0x68, 1, div.data(), 24, iv.data(), data.data(), 8, mac1.bytes(), random.data(), 8),
                  0) << n;
    }
    m_usercardAlg = 2;
    psam->on("80 FA 05 00", vr::toHex(Bytes(16, 0x4D)) + " 90 00");
    GuardedBuffer folded(8);
    EXPECT_EQ(PSAMMAC(handle, 0x68, 1, div.data(), 24, iv.data(), data.data(), 8, folded.bytes(), random.data(), 8), 0);
    EXPECT_EQ(vr::toHex(folded.bytes(), 8), vr::toHex(Bytes(8, 0)));
}

class CardTextBounds : public banktest::BankCardTest {};

// The longest basic-information text fills KESTREL_BASEINFO_SIZE exactly;
// the bank-card number, the card-type texts and the error texts fit theirs.
TEST_F(CardTextBounds, BasicInformationBankNumberAndCardType) {
    sectest::CardContent content;
    content.id = "37 02 03 00 00 00 00 86 00 00 00 00 00 12 34 56";
    content.fci = sectest::fciWith9F0C("86 01 02");
    content.name = sectest::textHex(std::string(30, 'N'));
    content.nameExt = sectest::textHex(std::string(20, 'E'));
    insertCard(content);
    auto psam = insertPsam();
    psam->on(sectest::kSelectTerminal, "90 00");
    psam->on(sectest::kReadTerminal, "14 01 02 00 00 01 90 00");
    setDeviceNumber(sectest::textHex(std::string(20, 'D')) + " 90 00");
    {
        GuardedBuffer out(KESTREL_BASEINFO_SIZE);
        ASSERT_EQ(iReadCardBas(1, out.text()), 0);
        EXPECT_EQ(out.str().size(), static_cast<size_t>(KESTREL_BASEINFO_SIZE - 1));
    }
    {
        GuardedBuffer out(KESTREL_BASEINFO_SIZE);
        EXPECT_EQ(iReadCardBas(0, out.text()), -14);
    }

    auto card = banktest::makePaymentCard();
    card->on(banktest::readRecord(1, 0), sectest::withOk("70 0C 5A 0A 62 22 33 44 55 66 77 88 99 00"));
    reader()->insert(0x01, card);
    for (int type : {1, 0}) {
        GuardedBuffer out(KESTREL_BANKNO_SIZE);
        EXPECT_EQ(iReadBankNo(type, out.text()), type == 1 ? 0 : -14);
    }
    card->on(banktest::kSelectPse, "6A 82");
    GuardedBuffer failed(KESTREL_BANKNO_SIZE);
    EXPECT_EQ(iReadBankNo(1, failed.text()), -27266);

    insertCard(content);
    reader()->slot(0x01).categoryProbe = 0x00;
    GuardedBuffer type(6), region(6), version(4), error(KESTREL_BANKNO_SIZE);
    EXPECT_EQ(iReadCardType(type.text(), region.text(), version.text()), 0);
    reader()->remove(0x01);
    reader()->remove(0x02);
    EXPECT_LT(iReadCardType(type.text(), region.text(), error.text()), 0);
}

class IdentityCardBounds : public idtest::IdCardTest {};

TEST_F(IdentityCardBounds, TextsAndPhoto) {
    for (auto read : {iReadIdentityCard, iReadSFZ}) {
        GuardedBuffer text(KESTREL_ID_OUT_SIZE);
        EXPECT_EQ(read(text.text()), 0);
    }
    GuardedBuffer text(KESTREL_ID_OUT_SIZE), photo(KESTREL_ID_PHOTO_HEX_SIZE);
    ASSERT_EQ(IDC_ReadIDCard(text.text(), photo.text()), 0);
    EXPECT_EQ(photo.str().size(), static_cast<size_t>(2 * KESTREL_ID_MAX_PHOTO));
}

}  // namespace
