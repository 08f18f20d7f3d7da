// SPDX-License-Identifier: MIT
// Bytes of 0x80 and above must come out the same whether char is signed
// (x86_64) or unsigned (aarch64).  Each case feeds the high half of the
// byte range through a function that takes or produces char data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "fixture.h"
#include "kestrel.h"
#include "reader/reader.h"

namespace {

std::string hexOf(const unsigned char *b, int n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < n; i++) {
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

TEST(ByteValues, HexadecimalOfEveryByte) {
    unsigned char all[256];
    for (int i = 0; i < 256; i++) all[i] = static_cast<unsigned char>(i);
    char text[513];
    memset(text, 0, sizeof text);
    BinToCHex(text, reinterpret_cast<const char *>(all), 256);
    EXPECT_EQ(std::string(text, 512), hexOf(all, 256));

    unsigned char back[256];
    memset(back, 0, sizeof back);
    CHexToBin(reinterpret_cast<char *>(back), text, 512);
    EXPECT_EQ(memcmp(back, all, 256), 0);
}

TEST(ByteValues, PackedDigitsWithHighNibbles) {
    // 0x99 0x81 0xF0: digits 9981 then the padding F and a 0.
    const unsigned char cn[] = {0x99, 0x81, 0xFF};
    char out[16] = {0};
    cnToAsc(out, reinterpret_cast<const char *>(cn), 3);
    EXPECT_STREQ(out, "9981");
}

TEST(ByteValues, TlvSearchWithTwoByteTagsAndLongLengths) {
    // 9F 0C with a 0x81 length of 0x80 bytes, then 86 01 FE.
    unsigned char data[3 + 0x80 + 3 + 3];
    int n = 0;
    data[n++] = 0x9F;
    data[n++] = 0x0C;
    data[n++] = 0x81;
    data[n++] = 0x80;
    for (int i = 0; i < 0x80; i++) data[n++] = static_cast<unsigned char>(0x80 + i);
    data[n++] = 0x86;
    data[n++] = 0x01;
    data[n++] = 0xFE;
    unsigned char out[256], outLen = 0;
    const unsigned char tag9f0c[] = {0x9F, 0x0C}, tag86[] = {0x86};
    EXPECT_EQ(tag_decodetlv(static_cast<unsigned char>(n), tag9f0c, data, out, &outLen), 1);
    EXPECT_EQ(outLen, 4 + 0x80);
    EXPECT_EQ(tag_decodetlv(static_cast<unsigned char>(n), tag86, data, out, &outLen), 1);
    EXPECT_EQ(hexOf(out, outLen), "8601FE");
}

TEST(ByteValues, StatusWordsWithHighFirstByte) {
    EXPECT_EQ(apduErrTanslation(0x9303), -37635);
    EXPECT_EQ(apduErrTanslation(0xFFFF), -65535);
    EXPECT_EQ(apduErrTanslation(0x63C1), -25537);
}

class ByteValuesOnTheLink : public vr::VirtualReaderTest {};

class EchoCard : public vr::Card {
public:
    vr::Bytes reset() override { return vr::hex("3B 80 FF"); }
    vr::Bytes transmit(const vr::Bytes &c) override { return vr::withStatus(c, 0x9000); }
};

TEST_F(ByteValuesOnTheLink, EveryByteValueCrossesTheLinkUnchanged) {
    reader()->insert(0x01, std::make_shared<EchoCard>());
    reader()->slot(0x01).powered = true;
    long dev = CT_open("hid1", 0, 0);
    ASSERT_NE(dev, 0);
    unsigned char cmd[256], rsp[KESTREL_MAX_RESPONSE];
    for (int i = 0; i < 256; i++) cmd[i] = static_cast<unsigned char>(255 - i);
    int len = 0;
    EXPECT_EQ(ICC_tsi_api(dev, 256, cmd, &len, rsp), 0x9000);
    ASSERT_EQ(len, 256);
    EXPECT_EQ(memcmp(rsp, cmd, 256), 0);
    // A status word whose bytes are both above 0x7F.
    reader()->replyNextWith(vr::Reader::split(0x12, vr::hex("FF 90 9F 80")));
    EXPECT_EQ(ICC_tsi_api(dev, 1, cmd, &len, rsp), 0x9F80);
    EXPECT_EQ(len, 2);
    CT_close(dev);
}

}  // namespace
