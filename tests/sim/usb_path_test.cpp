// SPDX-License-Identifier: MIT
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

// The commands of a basic-information read, in the order a host sends
// them, all answered: the demonstration profile is ready for it.
TEST_F(DemoThroughUsb, BasicInformationReadIsAnsweredThroughout) {
    char atr[64];
    ASSERT_GT(ICC_Reader_PowerOn(handle, 0x01, atr), 0);
    std::string select = "00 A4 04 00 0F " + toHex(ssApplicationName());
    // Selection with version check, then the diversification data.
    for (const char *c : {"00 12 00 00 00", select.c_str(), "00 A4 00 00 02 EF 05", "00 B2 03 04 06",
                          "00 B2 01 04 12", "00 12 00 00 00", select.c_str(), "00 A4 00 00 02 EF 05",
                          "00 B2 01 04 12"})
        EXPECT_EQ(statusWord(send(0x01, c)), 0x9000) << c;
    struct Read {
        const char *command, *value;
    } reads[] = {
        {"00 A4 00 00 02 EF 05", ""},
        {"00 B2 01 04 12", "01 10 43 01 05 D1 56 00 00 05 00 00 00 00 00 00 00 42"},
        {"00 B2 03 04 06", "03 04 32 2E 30 30"},
        {"00 B2 05 04 06", "05 04 20 24 03 01"},
        {"00 B2 06 04 06", "06 04 20 34 03 01"},
        {"00 B2 07 04 0B", "07 09 4B 34 33 30 30 30 30 34 32"},
        {"00 A4 00 00 02 EF 06", ""},
        {"00 B2 01 04 14", "08 12 34 33 30 31 30 35 31 39 38 30 30 31 30 31 30 30 34 32"},
        {"00 B2 02 04 20", "09 1E D5 C5 C8 FD" " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"00 B2 03 04 20", "4E 14 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const Read &r : reads) EXPECT_EQ(send(0x01, r.command), withStatus(hex(r.value), 0x9000)) << r.command;
    EXPECT_EQ(send(0x11, "00 12 00 00 00"), withStatus(psamAtr(), 0x9000));
    EXPECT_EQ(send(0x11, "00 A4 00 00 02 00 16"), hex("90 00"));
    EXPECT_EQ(send(0x11, "00 B0 00 00 06"), hex("43 01 05 00 00 07 90 00"));
    EXPECT_EQ(statusWord(send(0x00, "00 19 01 01 14")), 0x9000);
}

// A terminal's external authentication with the demonstration card and
// PSAM, every command through the reader: challenges from the card, the
// PSAM prepared for algorithm 2 (16-byte blocks), its cryptogram folded.
TEST_F(DemoThroughUsb, ExternalAuthenticationWithTheDemoPsam) {
    char atr[64];
    ASSERT_GT(ICC_Reader_PowerOn(handle, 0x01, atr), 0);
    ASSERT_GT(ICC_Reader_PowerOn(handle, 0x11, atr), 0);
    ASSERT_EQ(statusWord(send(0x01, "00 A4 04 00 0F " + toHex(ssApplicationName()))), 0x9000);
    ASSERT_EQ(statusWord(send(0x01, "00 A4 00 00 02 EF 05")), 0x9000);
    Bytes code = dataOf(send(0x01, "00 B2 01 04 12"));
    Bytes div = diversificationData(hex("3B 6D 00 00 81 4B 45 53 53 43 00 00 00 00 00 42"),
                                    Bytes(code.begin() + 2, code.end()));
    Bytes r1 = dataOf(send(0x01, "00 84 00 00 08")), r2 = dataOf(send(0x01, "00 84 00 00 08"));
    ASSERT_EQ(statusWord(send(0x11, "00 A4 04 00 0F " + toHex(psamApplicationName(2)))), 0x9000);
    ASSERT_EQ(statusWord(send(0x11, "00 A4 00 00 02 DF 01")), 0x9000);
    // Key type 48: level 2, the first 16 bytes of the diversification data.
    Bytes init = concat(concat(hex("BF DE 48 12 20"), Bytes(div.begin(), div.begin() + 16)), padTo(r2, 16));
    ASSERT_EQ(statusWord(send(0x11, toHex(init))), 0x9000);
    Bytes e = send(0x11, toHex(concat(hex("80 FA 00 00 10"), padTo(r1, 16))));
    ASSERT_EQ(statusWord(e), 0x9000);
    Bytes auth = externalAuthenticate(0x04, fold(dataOf(e)), r1);
    EXPECT_EQ(send(0x01, toHex(auth)), hex("90 00"));
    // The same cryptogram again: the challenge is spent.
    EXPECT_EQ(send(0x01, toHex(auth)), hex("69 84"));
}

}  // namespace
}  // namespace simtest
