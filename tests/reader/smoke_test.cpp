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
