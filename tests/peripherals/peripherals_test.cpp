// SPDX-License-Identifier: MIT
// The scanner, stripe and device-information calls through the virtual
// reader: the commands each slot received, the bytes written into a buffer
// of exactly the documented size, the codes and texts of every refusal.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cards/mag_stripe.h"
#include "cards/psam.h"
#include "cards/qr_scanner.h"
#include "cards/reader_device.h"
#include "guarded_buffer.h"
#include "othercards/idcard_fixture.h"

using vr::Bytes;
using vr::MagStripe;
using vr::QrScanner;
using idtest::gb;

namespace {

constexpr unsigned char kFill = 0xA5;
const std::string kCode = "CODE-42";
const std::string kDevice = "KVR1-000000000000042";
const std::string kLogMarker = "untouched";

Bytes bytesOf(const std::string &s) { return Bytes(s.begin(), s.end()); }

using Call = std::function<long(char *)>;

class Peripherals : public vr::VirtualReaderTest {
protected:
    void SetUp() override {
        VirtualReaderTest::SetUp();
        psamSlot = 0x11;
        mHreader = 0;
        scanner = std::make_shared<QrScanner>();
        scanner->setCode(bytesOf(kCode));
        stripe = std::make_shared<MagStripe>();
        stripe->setTracks({std::nullopt, "T2", "T3"});
        auto psam = std::make_shared<vr::Psam>();
        psam->setTerminalNumber(vr::hex("43 01 05 00 00 07"));
        auto r = reader();
        r->insert(0x1C, scanner);
        r->insert(0x1A, stripe);
        r->insert(0x00, std::make_shared<vr::ReaderDevice>(bytesOf(kDevice)));
        r->insert(0x11, psam);
        snprintf(logbuf, sizeof logbuf, "%s", kLogMarker.c_str());
    }
    void TearDown() override {
        EXPECT_TRUE(reader()->protocolErrors().empty());
        for (int i = 0; i < 10; ++i) EXPECT_LE(OpenedRHandle[i], 0) << "reader left open at " << i;
    }

    // Every message the reader received, as "<slot>: <bytes>".
    static std::vector<std::string> seen() {
        std::vector<std::string> s;
        auto r = reader();
        for (const auto &e : r->trace()) {
            char slot[8];
            snprintf(slot, sizeof slot, "%02X: ", vr::slotByNad(e.nad)->slot);
            s.push_back(slot + vr::toHex(e.command));
        }
        return s;
    }
    static std::string log() { return std::string(logbuf); }

    std::shared_ptr<QrScanner> scanner;
    std::shared_ptr<MagStripe> stripe;
};

// The bytes the call wrote: the buffer up to the first byte still holding
// the fill (a NUL included when one was written).
std::string written(GuardedBuffer &b) {
    std::string s(b.text(), b.size());
    return s.substr(0, s.find(static_cast<char>(kFill)));
}

struct OneCommand {
    const char *name;
    Call call;
    std::string sent;    // "<slot>: <command>"
    std::string answer;  // the data copied to out
};

TEST_F(Peripherals, OneCommandCallsSendTheirCommandAndCopyTheAnswerWithoutANul) {
    const OneCommand cases[] = {
        {"Checkmod_Auto", Checkmod_Auto, "1C: 80 17 03 00 00", ""},
        {"Checkmod_Cmd", Checkmod_Cmd, "1C: 80 17 03 01 00", ""},
        {"SendScanCmd", SendScanCmd, "1C: B0 B0 00 08 00", kCode},
        {"iGetQRBase 8", [](char *o) { return iGetQRBase(8, o); }, "1C: B0 B0 00 08 00", kCode},
        {"iGetQRCode 20", [](char *o) { return iGetQRCode(20, o); }, "1C: B0 B0 03 14 00", kCode},
        {"SetScanLedMode 0", [](char *o) { return SetScanLedMode(0, o); }, "1C: B0 17 00 23 01 00", ""},
        {"SetScanLedMode 3", [](char *o) { return SetScanLedMode(3, o); }, "1C: B0 17 00 23 01 03", ""},
        {"SetMagTrip 6", [](char *o) { return SetMagTrip(6, o); }, "1A: 80 17 03 06 00", ""},
        {"SetMagTrip 2", [](char *o) { return SetMagTrip(2, o); }, "1A: 80 17 03 02 00", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reader()->clearTrace();
        GuardedBuffer out(KESTREL_SCAN_ANSWER_SIZE, kFill);
        EXPECT_EQ(c.call(out.text()), 0);
        EXPECT_EQ(seen(), std::vector<std::string>{c.sent});
        EXPECT_EQ(written(out), c.answer);
        EXPECT_EQ(log(), kLogMarker);
    }
    // The last setting of each kind reached its module.
    EXPECT_EQ(scanner->mode(), 0x01);
    EXPECT_EQ(scanner->ledMode(), 0x03);
    EXPECT_EQ(stripe->setting(), 0x02);
}

TEST_F(Peripherals, ScanLengthAbove255IsSentAs255AndOtherwiseAsItsLowByte) {
    const struct {
        int n;
        const char *p2;
    } cases[] = {{300, "FF"}, {256, "FF"}, {255, "FF"}, {1, "01"}, {0, "00"}, {-1, "FF"}, {-200, "38"}};
    for (const auto &c : cases) {
        reader()->clearTrace();
        char out[KESTREL_SCAN_ANSWER_SIZE];
        EXPECT_EQ(iGetQRBase(c.n, out), 0);
        EXPECT_EQ(iGetQRCode(c.n, out), 0);
        EXPECT_EQ(seen(), (std::vector<std::string>{std::string("1C: B0 B0 00 ") + c.p2 + " 00",
                                                    std::string("1C: B0 B0 03 ") + c.p2 + " 00"}))
            << c.n;
    }
}

TEST_F(Peripherals, GetScanModeWritesTwoUpperCaseCharacters) {
    for (uint8_t mode : {0x01, 0xAB}) {
        scanner->setMode(mode);
        GuardedBuffer out(KESTREL_SCAN_MODE_SIZE, kFill);
        EXPECT_EQ(GetScanMode(out.text()), 0);
        EXPECT_EQ(written(out), mode == 0x01 ? "01" : "AB");
    }
    EXPECT_EQ(seen(), std::vector<std::string>(2, "1C: 80 17 03 00 01"));
}

struct RefusalCase {
    const char *name;
    Call call;
    std::function<void(QrScanner &, MagStripe &)> refuse;
    std::string text;  // UTF-8
    long code;
};

TEST_F(Peripherals, RefusalsWriteTheCallsTextAndReturnItsCode) {
    using QC = QrScanner::Command;
    auto scan = [](QC c, uint16_t sw = 0x6A82) {
        return [c, sw](QrScanner &s, MagStripe &) { s.refuse(c, sw); };
    };
    const RefusalCase cases[] = {
        {"Checkmod_Auto", Checkmod_Auto, scan(QC::ModeAuto), "失败,不识别指令", -27266},
        {"Checkmod_Auto 6D00", Checkmod_Auto, scan(QC::ModeAuto, 0x6D00), "失败,不识别指令", -27904},
        {"Checkmod_Cmd", Checkmod_Cmd, scan(QC::ModeCommand), "失败不识别指令", -27266},
        {"SendScanCmd", SendScanCmd, scan(QC::Scan), "扫码失败", -27266},
        {"SendScanCmd, nothing to scan", SendScanCmd, [](QrScanner &s, MagStripe &) { s.setCode(std::nullopt); },
         "扫码失败", -27013},
        {"iGetQRBase", [](char *o) { return iGetQRBase(8, o); }, scan(QC::Scan), "扫码失败", -111},
        {"iGetQRCode", [](char *o) { return iGetQRCode(8, o); }, scan(QC::Scan), "扫码失败", -111},
        {"SetScanLedMode", [](char *o) { return SetScanLedMode(2, o); }, scan(QC::Led), "失败不识别指令", -23},
        {"GetScanMode", GetScanMode, scan(QC::ReadMode), "读扫码模式失败", -23},
        {"SetMagTrip", [](char *o) { return SetMagTrip(3, o); },
         [](QrScanner &, MagStripe &m) { m.refuse(MagStripe::Command::SetTracks); }, "设置磁道失败", -112},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.refuse(*scanner, *stripe);
        GuardedBuffer out(KESTREL_SCAN_MODE_SIZE, kFill);
        EXPECT_EQ(c.call(out.text()), c.code);
        EXPECT_EQ(written(out), gb(c.text) + '\0');
        EXPECT_EQ(seen().size(), 1u);
        EXPECT_EQ(log(), kLogMarker);
    }
}

TEST_F(Peripherals, ArgumentsOutsideTheirValuesAreRefusedWithoutAnExchange) {
    for (int m : {1, 4, -1, 0x100}) {
        GuardedBuffer out(KESTREL_SCAN_ANSWER_SIZE, kFill);
        EXPECT_EQ(SetScanLedMode(m, out.text()), -23) << m;
        EXPECT_EQ(written(out), "") << m;
    }
    for (int t : {4, 0, 7, 0x102}) {
        GuardedBuffer out(KESTREL_SCAN_ANSWER_SIZE, kFill);
        EXPECT_EQ(SetMagTrip(t, out.text()), -23) << t;
        EXPECT_EQ(out.str(), gb("不支持设置磁道数据")) << t;
    }
    EXPECT_TRUE(seen().empty());
}

const std::vector<std::string> kStripeRead = {"1A: 80 17 03 00 01", "1A: 00 19 06 01 00", "1A: 00 19 20 08 00",
                                              "1A: 00 B0 06 00 00"};

TEST_F(Peripherals, ReadMagInfoReadsTheTracksOfTheHeadsSetting) {
    GuardedBuffer out(KESTREL_SCAN_ANSWER_SIZE, kFill);
    EXPECT_EQ(ReadMagInfo(out.text()), 0);
    EXPECT_EQ(seen(), kStripeRead);
    EXPECT_EQ(written(out), "T2|T3|");

    // The read names the setting the head reported.
    stripe->setSetting(0x03);
    reader()->clearTrace();
    EXPECT_EQ(ReadMagInfo(out.text()), 0);
    EXPECT_EQ(seen().back(), "1A: 00 B0 03 00 00");
    EXPECT_EQ(log(), kLogMarker);
}

TEST_F(Peripherals, ReadMagInfoStopsAtTheStepThatFails) {
    using MC = MagStripe::Command;
    const struct {
        std::function<void(MagStripe &)> fault;
        std::string text;
        long code;
        size_t steps;
    } cases[] = {
        {[](MagStripe &m) { m.refuse(MC::ReadSetting); }, "读磁道失败", -112, 1},
        {[](MagStripe &m) { m.refuse(MC::Channel); }, "磁条卡通道转换失败", -23, 2},
        {[](MagStripe &m) { m.refuse(MC::Swipe); }, "磁条卡刷卡失败", -23, 3},
        {[](MagStripe &m) { m.setTracks({}); }, "磁条卡刷卡失败", -23, 3},
        {[](MagStripe &m) { m.refuse(MC::Read); }, "读磁条卡数据失败", -23, 4},
    };
    for (const auto &c : cases) {
        SetUp();
        c.fault(*stripe);
        GuardedBuffer out(KESTREL_SCAN_ANSWER_SIZE, kFill);
        EXPECT_EQ(ReadMagInfo(out.text()), c.code) << c.steps;
        EXPECT_EQ(out.str(), gb(c.text)) << c.steps;
        EXPECT_EQ(seen(), std::vector<std::string>(kStripeRead.begin(), kStripeRead.begin() + c.steps));
    }
}

TEST_F(Peripherals, AnswerWithoutItsByteIsARefusal) {
    // A track setting or scan mode answered 90 00 alone: the read would be
    // built from a byte the module never sent.
    auto silent = std::make_shared<vr::ScriptedCard>();
    silent->on("80 17 03 00 01", "90 00");
    reader()->insert(0x1A, silent);
    reader()->insert(0x1C, silent);
    char out[KESTREL_SCAN_ANSWER_SIZE];
    EXPECT_EQ(ReadMagInfo(out), -112);
    EXPECT_EQ(std::string(out), gb("读磁道失败"));
    EXPECT_EQ(GetScanMode(out), -23);
    EXPECT_EQ(std::string(out), gb("读扫码模式失败"));
    EXPECT_EQ(seen(), (std::vector<std::string>{"1A: 80 17 03 00 01", "1C: 80 17 03 00 01"}));
}

TEST_F(Peripherals, TheLargestAnswerFitsTheBufferAndALongerOneIsRefused) {
    std::string code(KESTREL_SCAN_ANSWER_SIZE - 2, 'Q');
    scanner->setCode(bytesOf(code));
    GuardedBuffer out(KESTREL_SCAN_ANSWER_SIZE, kFill);
    ASSERT_EQ(SendScanCmd(out.text()), 0);
    EXPECT_EQ(written(out), code);

    scanner->setCode(bytesOf(code + "Q"));
    GuardedBuffer refused(KESTREL_SCAN_ANSWER_SIZE, kFill);
    EXPECT_EQ(iGetQRCode(8, refused.text()), -111);
    EXPECT_EQ(refused.str(), gb("扫码失败"));
}

TEST_F(Peripherals, DeviceInfoJoinsIdentificationAndTerminalNumber) {
    GuardedBuffer out(KESTREL_DEVICE_INFO_SIZE, kFill);
    EXPECT_EQ(iGetDeviceInfo(out.text()), 0);
    EXPECT_EQ(written(out), kDevice + "|430105000007|" + '\0');
    // ICC_Reader_PowerOn, then the reset and the read as exchanges.
    EXPECT_EQ(seen(), (std::vector<std::string>{"00: 00 19 01 01 14", "11: 00 12 00 00 00", "11: 00 12 00 00 00",
                                                "11: 00 B0 96 00 06"}));
    EXPECT_EQ(mHreader, -11);
    EXPECT_EQ(log(), kLogMarker);
}

TEST_F(Peripherals, DeviceInfoShowsWhatIsMissingAsAnEmptyField) {
    auto psamWithoutFile = std::make_shared<vr::Psam>();
    psamWithoutFile->setTerminalNumber(std::nullopt);
    const struct {
        const char *name;
        std::function<void(vr::Reader &)> setup;
        std::string text;
    } cases[] = {
        {"no PSAM", [](vr::Reader &r) { r.remove(0x11); }, kDevice + "||"},
        {"no terminal file", [&](vr::Reader &r) { r.insert(0x11, psamWithoutFile); }, kDevice + "||"},
        {"no identification", [](vr::Reader &r) { r.remove(0x00); }, "|430105000007|"},
        // Fewer than 20 characters: the zero bytes after them are not text.
        {"short identification",
         [](vr::Reader &r) { r.insert(0x00, std::make_shared<vr::ReaderDevice>(bytesOf("KVR7"))); },
         "KVR7|430105000007|"},
    };
    for (const auto &c : cases) {
        SetUp();
        c.setup(*reader());
        GuardedBuffer out(KESTREL_DEVICE_INFO_SIZE, kFill);
        EXPECT_EQ(iGetDeviceInfo(out.text()), 0) << c.name;
        EXPECT_EQ(written(out), c.text + '\0') << c.name;
    }
}

TEST_F(Peripherals, NoReaderGivesMinusElevenWithEachCallsText) {
    bus().plug(vr::UsbVariant::NoReader);
    const std::string connectFailed = gb("读卡器连接失败"), connectError = gb("读卡器连接错");
    const struct {
        const char *name;
        Call call;
        std::string text;
    } cases[] = {
        {"Checkmod_Auto", Checkmod_Auto, connectFailed},
        {"Checkmod_Cmd", Checkmod_Cmd, connectFailed},
        {"SendScanCmd", SendScanCmd, connectFailed},
        {"iGetQRBase", [](char *o) { return iGetQRBase(8, o); }, connectFailed},
        {"iGetQRCode", [](char *o) { return iGetQRCode(8, o); }, connectFailed},
        {"SetScanLedMode", [](char *o) { return SetScanLedMode(1, o); }, connectError},
        {"GetScanMode", GetScanMode, connectError},
        {"SetMagTrip", [](char *o) { return SetMagTrip(4, o); }, connectError},
        {"ReadMagInfo", ReadMagInfo, connectError},
    };
    for (const auto &c : cases) {
        GuardedBuffer out(KESTREL_SCAN_MODE_SIZE, kFill);
        EXPECT_EQ(c.call(out.text()), -11) << c.name;
        EXPECT_EQ(out.str(), c.text) << c.name;
        EXPECT_EQ(log(), kLogMarker) << c.name;
    }
    GuardedBuffer out(KESTREL_DEVICE_INFO_SIZE, kFill);
    EXPECT_EQ(iGetDeviceInfo(out.text()), -11);
    EXPECT_EQ(out.str(), connectError);
    EXPECT_EQ(log(), "getErrorInf, code:-11, error info " + connectError + "\r\n");
}

TEST_F(Peripherals, NullBufferIsRefusedBeforeAnything) {
    const Call calls[] = {Checkmod_Auto, Checkmod_Cmd, SendScanCmd, GetScanMode, ReadMagInfo, iGetDeviceInfo,
                          [](char *o) { return iGetQRBase(8, o); }, [](char *o) { return iGetQRCode(8, o); },
                          [](char *o) { return SetScanLedMode(2, o); }, [](char *o) { return SetMagTrip(2, o); }};
    for (const Call &call : calls) EXPECT_EQ(call(nullptr), -14);
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(mHreader, 0);
}

}  // namespace
