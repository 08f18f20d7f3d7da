// The demonstration profile's card, PSAM and reader through the whole USB
// path: the unmodified library opens the virtual reader, powers the card
// and sends it APDUs with its T=0 follow-ups.
#include <string>
#include <vector>

#include "demo_cards.h"
#include "fixture.h"
#include "kestrel.h"
#include "session/session.h"
#include "sim_test_util.h"

using namespace vr;

namespace simtest {
namespace {

class DemoThroughUsb : public VirtualReaderTest {
protected:
    void SetUp() override {
        VirtualReaderTest::SetUp();
        insertDemoCards(*reader());
        handle = ICC_Reader_Open("USB1");
        ASSERT_GE(handle, 1650);
    }
    void TearDown() override {
        ICC_Reader_Close(handle);
        EXPECT_TRUE(reader()->protocolErrors().empty());
    }

    // One APDU through the library's T=0 exchange; returns data + SW.
    Bytes send(uint8_t slot, const std::string &command) {
        Bytes c = hex(command);
        unsigned char rsp[kT0ResponseArea - 2];
        unsigned int len = 0;
        unsigned int sw = IccExchangeT0(handle, slot, static_cast<unsigned int>(c.size()), c.data(), &len, rsp);
        return withStatus(Bytes(rsp, rsp + (sw == kSwExchangeFailed ? 0 : len)), static_cast<uint16_t>(sw));
    }

    // What the reader received, as "slot: bytes".
    static std::vector<std::string> seen() {
        std::vector<std::string> out;
        auto r = reader();
        for (const auto &e : r->trace()) {
            char slot[8];
            snprintf(slot, sizeof slot, "%02X: ", slotByNad(e.nad)->slot);
            out.push_back(slot + toHex(e.command));
        }
        return out;
    }

    long handle = 0;
};

TEST_F(DemoThroughUsb, SelectsTheApplicationAndReadsTheIdentificationCode) {
    char atr[64] = {};
    long n = ICC_Reader_PowerOn(handle, 0x01, atr);
    ASSERT_EQ(n, 16);
    EXPECT_EQ(Bytes(atr, atr + n), hex("3B 6D 00 00 81 4B 45 53 53 43 00 00 00 00 00 42"));

    std::string select = "00 A4 04 00 0F " + toHex(ssApplicationName());
    Bytes fci = send(0x01, select);
    EXPECT_EQ(fci, withStatus(buildFci(FciStyle::Indicator, 2, ssApplicationName()), 0x9000));
    EXPECT_EQ(send(0x01, "00 A4 00 00 02 EF 05"), hex("90 00"));
    EXPECT_EQ(send(0x01, "00 B2 01 04 12"), hex("01 10 43 01 05 D1 56 00 00 05 00 00 00 00 00 00 00 42 90 00"));
    // The name extension is shorter than the Le a host asks for.
    EXPECT_EQ(send(0x01, "00 A4 00 00 02 EF 06"), hex("90 00"));
    EXPECT_EQ(send(0x01, "00 B2 03 04 20"), concat(hex("4E 14"), concat(Bytes(20, 0x00), hex("90 00"))));

    EXPECT_EQ(seen(), (std::vector<std::string>{
                          "01: 00 12 00 00 00",
                          "01: " + select,
                          "01: 00 C0 00 00 1D",
                          "01: 00 A4 00 00 02 EF 05",
                          "01: 00 B2 01 04 12",
                          "01: 00 A4 00 00 02 EF 06",
                          "01: 00 B2 03 04 20",
                          "01: 00 B2 03 04 16",
                      }));
}

TEST_F(DemoThroughUsb, TerminalNumberAndDeviceNumber) {
    char atr[64];
    ASSERT_GT(ICC_Reader_PowerOn(handle, 0x11, atr), 0);
    EXPECT_EQ(send(0x11, "00 A4 00 00 02 00 16"), hex("90 00"));
    EXPECT_EQ(send(0x11, "00 B0 00 00 06"), hex("43 01 05 00 00 07 90 00"));
    Bytes device = send(0x00, "00 19 01 01 14");
    EXPECT_EQ(std::string(device.begin(), device.end() - 2), "KVR1-000000000000042");
    EXPECT_EQ(statusWord(device), 0x9000);

    // Without a device number the reader refuses the query.
    reader()->insert(0x00, nullptr);
    EXPECT_EQ(send(0x00, "00 19 01 01 14"), hex("6D 00"));
}

}  // namespace
}  // namespace simtest
