#include "fixture.h"
#include "kestrel.h"

using namespace vr;

class Smoke : public VirtualReaderTest {};

TEST_F(Smoke, OpenExchangeClose) {
    long h = CT_open("hid1", 0, 0);
    ASSERT_NE(h, 0);
    unsigned char cmd[] = {0x00, 0x14, 0x00, 0x00, 0x00};
    unsigned char rsp[KESTREL_MAX_RESPONSE];
    int len = -1;
    EXPECT_EQ(ICC_tsi_api(h, 5, cmd, &len, rsp), 0xFF05);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(CT_close(h), 0);
    auto r = reader();
    ASSERT_EQ(r->trace().size(), 1u);
    EXPECT_EQ(toHex(r->trace()[0].command), "00 14 00 00 00");
    EXPECT_TRUE(r->protocolErrors().empty());
}

TEST_F(Smoke, ReaderHandleApiPowersAndExchanges) {
    reader()->insert(0x01, std::make_shared<ScriptedCard>());
    std::static_pointer_cast<ScriptedCard>(reader()->slot(0x01).card)->on("00 84 00 00 08", "01 02 03 04 05 06 07 08 90 00");
    long h = ICC_Reader_Open("USB1");
    ASSERT_GE(h, 1650);
    ASSERT_LE(h, 1999);
    char atr[64];
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), 14);
    unsigned char cmd[] = {0x00, 0x84, 0x00, 0x00, 0x08};
    unsigned char rsp[KESTREL_MAX_RESPONSE];
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), 10);
    EXPECT_EQ(toHex(rsp, 10), "01 02 03 04 05 06 07 08 90 00");
    EXPECT_EQ(ICC_Reader_Close(h), 0);
}
