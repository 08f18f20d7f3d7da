// SPDX-License-Identifier: MIT
// The USB HID link against the virtual reader: finding the device, the
// report framing in both directions, the drain read, time-outs and a
// reader that goes away.
#include <sys/resource.h>

#include "loaded_library.h"
#include "reader_test_util.h"

using namespace vr;
using namespace readertest;

namespace {

class UsbLink : public VirtualReaderTest {
protected:
    void TearDown() override {
        if (dev_) CT_close(dev_);
        dev_ = 0;
    }
    long open() {
        dev_ = CT_open("hid1", 0, 0);
        return dev_;
    }
    // Sends a message and returns the status word; the response data is in rsp_.
    int exchange(const Bytes &cmd) {
        Bytes c = cmd;
        rspLen_ = -1;
        return ICC_tsi_api(dev_, static_cast<int>(c.size()), c.data(), &rspLen_, rsp_);
    }
    std::vector<std::string> outReportHeads() {
        std::vector<std::string> heads;
        for (const Report &r : reader()->outReports()) heads.push_back(toHex(r.data, 3));
        return heads;
    }

    long dev_ = 0;
    unsigned char rsp_[KESTREL_MAX_RESPONSE];
    int rspLen_ = -1;
};

// A card that echoes every command back with 90 00.
class EchoCard : public Card {
public:
    Bytes reset() override { return hex("3B 00"); }
    Bytes transmit(const Bytes &c) override { return withStatus(c, 0x9000); }
};

void insertEchoCard(uint8_t slot = 0x01) {
    auto r = VirtualReader::instance().reader();
    r->insert(slot, std::make_shared<EchoCard>());
    r->slot(slot).powered = true;
}

}  // namespace

TEST_F(UsbLink, OpensTheReaderWhateverTheNameAndDetachesTheHidDriver) {
    EXPECT_TRUE(bus().hidDriverBound());
    for (const char *name : {"hid1", "hid9", "anything", ""}) {
        long h = CT_open(name, 7, 8);
        ASSERT_NE(h, 0) << name;
        EXPECT_FALSE(bus().hidDriverBound());
        EXPECT_EQ(CT_close(h), 0);
    }
    EXPECT_EQ(bus().claimCount(), 4);
}

TEST_F(UsbLink, FindsTheEndpointPairOnALaterInterface) {
    bus().plug(UsbVariant::LaterInterface);
    insertEchoCard();
    ASSERT_NE(open(), 0);
    EXPECT_EQ(exchange(hex("01 02 03")), 0x9000);
    EXPECT_EQ(toHex(rsp_, rspLen_), "01 02 03");
}

TEST_F(UsbLink, OpenFailsCleanlyForEveryEnumerationProblem) {
    struct Case {
        UsbVariant variant;
        const char *printed;
    } cases[] = {
        {UsbVariant::NoReader, ""},
        {UsbVariant::OtherVendor, ""},
        {UsbVariant::NoDeviceNode, ""},
        {UsbVariant::NoConfiguration, ""},
        {UsbVariant::ClaimRefused, "Cannot Claim Interface\n"},
    };
    for (const Case &c : cases) {
        bus().plug(c.variant);
        testing::internal::CaptureStdout();
        long h = CT_open("hid1", 0, 0);
        fflush(stdout);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(h, 0) << static_cast<int>(c.variant);
        EXPECT_EQ(out, c.printed) << static_cast<int>(c.variant);
        EXPECT_EQ(bus().openDescriptorsSettled(0), 0) << "device left open";
    }
}

TEST_F(UsbLink, FramesOutgoingMessagesIntoReports) {
    insertEchoCard();
    ASSERT_NE(open(), 0);

    // The five-byte power-on command to NAD 0x12: one report.
    EXPECT_EQ(exchange(hex("00 12 00 00 00")), 0x9000);
    const Report first = reader()->outReports().at(0);
    EXPECT_EQ(toHex(first.data, 8), "12 00 05 00 12 00 00 00");
    EXPECT_EQ(Bytes(first.data + 8, first.data + 64), Bytes(56, 0));

    struct Case {
        size_t length;
        std::vector<std::string> heads;  // NAD, control byte, LEN of each report
    } cases[] = {
        {0, {"12 00 00"}},
        {61, {"12 00 3D"}},
        {62, {"12 20 3D", "12 41 01"}},
        {130, {"12 20 3D", "12 61 3D", "12 02 08"}},
        {261, {"12 20 3D", "12 61 3D", "12 22 3D", "12 63 3D", "12 04 11"}},
    };
    for (const Case &c : cases) {
        reader()->clearTrace();
        Bytes msg = filled(c.length, 0x30);
        EXPECT_EQ(exchange(msg), 0x9000) << c.length;
        EXPECT_EQ(outReportHeads(), c.heads) << c.length;
        ASSERT_EQ(reader()->trace().size(), 1u);
        EXPECT_EQ(reader()->trace()[0].command, msg) << "reassembled by the reader";
        EXPECT_TRUE(reader()->protocolErrors().empty()) << reader()->protocolErrors()[0];
        // The echo comes back across as many answer reports.
        EXPECT_EQ(rspLen_, static_cast<int>(c.length));
        EXPECT_EQ(Bytes(rsp_, rsp_ + rspLen_), msg);
    }
}

TEST_F(UsbLink, NadIsStickyAndAddressesEveryReport) {
    insertEchoCard(0x11);
    ASSERT_NE(open(), 0);
    ICC_set_NAD(dev_, 0x16);
    EXPECT_EQ(exchange(filled(70)), 0x9000);
    EXPECT_EQ(exchange(hex("00 B0 00 00 02")), 0x9000);
    for (const Report &r : reader()->outReports()) EXPECT_EQ(r.data[0], 0x16);
    ICC_set_NAD(0, 0x12);  // no device: nothing happens
    EXPECT_EQ(exchange(hex("00")), 0x9000);
    EXPECT_EQ(reader()->outReports().back().data[0], 0x16);
}

TEST_F(UsbLink, ReassemblesAResponseFromItsReports) {
    ASSERT_NE(open(), 0);
    Bytes body = filled(132, 1);
    body[130] = 0x61;
    body[131] = 0x23;
    reader()->replyNextWith({answerReport(0x20, Bytes(body.begin(), body.begin() + 61)),
                             answerReport(0x20, Bytes(body.begin() + 61, body.begin() + 122)),
                             answerReport(0x00, Bytes(body.begin() + 122, body.end()))});
    EXPECT_EQ(exchange(hex("00 B0 00 00 00")), 0x6123);
    EXPECT_EQ(rspLen_, 130);
    EXPECT_EQ(Bytes(rsp_, rsp_ + 130), Bytes(body.begin(), body.begin() + 130));
}

TEST_F(UsbLink, SkipsReportsThatCarryNoBytes) {
    insertEchoCard();
    ASSERT_NE(open(), 0);
    reader()->emptyReportsBeforeNext(3);
    EXPECT_EQ(exchange(filled(100)), 0x9000);
    EXPECT_EQ(rspLen_, 100);
    EXPECT_EQ(Bytes(rsp_, rsp_ + 100), filled(100));
}

// Empty reports while the card works are waited through for as long as
// the response time-out allows, however many there are; then the wait
// ends like any other.
TEST_F(UsbLink, EmptyReportsAreBoundedByTheResponseTimeOut) {
    insertEchoCard();
    ASSERT_NE(open(), 0);
    ShortResponseWait wait(400);
    reader()->setReportDelay(std::chrono::milliseconds(2));
    reader()->emptyReportsBeforeNext(60);
    EXPECT_EQ(exchange(filled(70)), 0x9000);
    EXPECT_EQ(rspLen_, 70);

    reader()->emptyReportsBeforeNext(1000);  // two seconds of them
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(filled(5)), 0x6FF0);
    double s = secondsSince(t0);
    EXPECT_GE(s, 0.39);
    EXPECT_LT(s, 1.0);
}

// Once the first report is in, the rest of the message must follow within
// one more response time-out: a reader cannot hold the caller for a
// time-out per report.
TEST_F(UsbLink, AMessageIsBoundedAsAWhole) {
    insertEchoCard();
    ASSERT_NE(open(), 0);
    reader()->setReportDelay(std::chrono::milliseconds(120));
    {
        ShortResponseWait wait(1000);
        EXPECT_EQ(exchange(filled(250)), 0x9000) << "five reports of 120 ms each";
    }
    ShortResponseWait wait(200);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(filled(250)), 0x6FF0);
    double s = secondsSince(t0);
    EXPECT_LT(s, 0.45) << "the first report and one time-out";
}

TEST_F(UsbLink, DrainReadDiscardsAStaleReport) {
    insertEchoCard();
    ASSERT_NE(open(), 0);
    bus().injectStaleReport(hex("AA BB 90 00"));
    EXPECT_EQ(bus().pendingInReports(), 1u);
    EXPECT_EQ(exchange(hex("01 02")), 0x9000);
    EXPECT_EQ(toHex(rsp_, rspLen_), "01 02");
    EXPECT_EQ(bus().pendingInReports(), 0u);
}

TEST_F(UsbLink, RefusesMalformedResponsesWithoutTouchingMemoryOutsideTheBuffer) {
    ASSERT_NE(open(), 0);
    insertEchoCard();
    // Fewer than two bytes: no status word.
    reader()->replyNextWith({answerReport(0x00, hex("90"))});
    memset(rsp_, 0xEE, sizeof rsp_);
    EXPECT_EQ(exchange(hex("00")), 0x6FF0);
    EXPECT_EQ(rspLen_, -1) << "length written for a failed exchange";
    reader()->replyNextWith({answerReport(0x00, {})});
    EXPECT_EQ(exchange(hex("00")), 0x6FF0);

    // A report shorter than 64 bytes whose LEN claims more than arrived:
    // the status word comes from the last bytes that did arrive.
    Report cut = answerReport(0x00, filled(20, 1));
    cut.length = 10;
    reader()->replyNextWith({cut});
    EXPECT_EQ(exchange(hex("00")), 0x0607);
    EXPECT_EQ(rspLen_, 5);

    // A LEN beyond 61 is not believed: at most the report's payload is used.
    reader()->replyNextWith({answerReport(0x00, filled(61), 0xC8)});
    EXPECT_EQ(exchange(hex("00")), static_cast<int>(59 << 8 | 60));
    EXPECT_EQ(rspLen_, 59);

    // 68 full reports are more than the 4096-byte buffer: refused, and the
    // rest of that answer does not leak into the next exchange.
    std::vector<Report> flood;
    for (int k = 0; k < 68; k++) flood.push_back(answerReport(k < 67 ? 0x20 : 0x00, filled(61, 7)));
    reader()->replyNextWith(flood);
    memset(rsp_, 0xEE, sizeof rsp_);
    EXPECT_EQ(exchange(hex("00")), 0x6FF0);
    EXPECT_EQ(rspLen_, -1);
    EXPECT_EQ(exchange(hex("0A 0B")), 0x9000);
    EXPECT_EQ(toHex(rsp_, rspLen_), "0A 0B");

    // The largest answer that fits: 4096 bytes.
    std::vector<Report> full;
    for (int k = 0; k < 67; k++) full.push_back(answerReport(0x20, filled(61, 3)));
    full.push_back(answerReport(0x00, filled(4096 - 67 * 61, 3)));
    reader()->replyNextWith(full);
    int sw = exchange(hex("00"));
    EXPECT_NE(sw, 0x6FF0);
    EXPECT_EQ(rspLen_, 4094);
}

TEST_F(UsbLink, NullOrUnknownHandlesAreRefused) {
    unsigned char cmd[5] = {0}, rsp[16];
    int len = -1;
    EXPECT_EQ(ICC_tsi_api(0, 5, cmd, &len, rsp), 0x6FF0);
    EXPECT_EQ(Hid_WriteCRW(0, cmd, 5), 0x6FF0);
    EXPECT_EQ(Hid_ReadCRW(0, rsp, &len), 0x6FF0);
    EXPECT_EQ(len, -1);
    long bogus = reinterpret_cast<long>(&len);
    EXPECT_EQ(ICC_tsi_api(bogus, 5, cmd, &len, rsp), 0x6FF0);
    EXPECT_EQ(CT_close(0), 0);
    EXPECT_EQ(CT_close(bogus), 0);
    // A handle already closed is no longer used.
    long h = CT_open("hid1", 0, 0);
    ASSERT_NE(h, 0);
    EXPECT_EQ(CT_close(h), 0);
    EXPECT_EQ(CT_close(h), 0);
    EXPECT_EQ(ICC_tsi_api(h, 5, cmd, &len, rsp), 0x6FF0);
    EXPECT_TRUE(reader()->trace().empty());
}

TEST_F(UsbLink, AnAnswerThatNeverComesEndsWithTheTimeOut) {
    insertEchoCard();
    ASSERT_NE(open(), 0);
    ShortResponseWait wait(300);
    reader()->muteNext();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(hex("00 84 00 00 08")), 0x6FF0);
    double s = secondsSince(t0);
    EXPECT_GE(s, 0.29);
    EXPECT_LT(s, 1.0);
    EXPECT_EQ(rspLen_, -1);
    // The link recovers for the next exchange.
    EXPECT_EQ(exchange(hex("05")), 0x9000);
}

TEST_F(UsbLink, AVanishedReaderCannotHoldTheCaller) {
    insertEchoCard();
    ASSERT_NE(open(), 0);
    reader()->vanishOnNext();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(hex("00 84 00 00 08")), 0x6FF0);
    EXPECT_EQ(exchange(hex("00 84 00 00 08")), 0x6FF0);
    unsigned char b[4] = {1, 2, 3, 4};
    EXPECT_EQ(Hid_WriteCRW(dev_, b, 4), 0x1001);
    EXPECT_LT(secondsSince(t0), 1.0);
}

// Measures the CPU that a wait for an answer costs; with
// KESTREL_SLOW_TESTS set, over the whole 60 s response time-out.
TEST_F(UsbLink, WaitingForAnAnswerCostsLittleCpu) {
    insertEchoCard();
    ASSERT_NE(open(), 0);
    bool full = getenv("KESTREL_SLOW_TESTS") != nullptr;
    ShortResponseWait wait(full ? 60000 : 3000);
    reader()->muteNext();
    rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(hex("00")), 0x6FF0);
    double wall = secondsSince(t0);
    getrusage(RUSAGE_SELF, &after);
    auto cpu = [](const rusage &r) {
        return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    double share = (cpu(after) - cpu(before)) / wall;
    RecordProperty("cpu_share_percent", std::to_string(share * 100));
    printf("waiting %.1f s cost %.2f%% of a CPU\n", wall, share * 100);
    // Under an instruction-set emulator every pause of the device costs
    // several times its native CPU.
    double limit = getenv("VREADER_EMULATOR") ? 0.20 : 0.05;
    EXPECT_LT(share, limit) << "the wait costs " << share * 100 << "% of a CPU";
    EXPECT_GE(wall, full ? 59.9 : 2.9);
}

TEST_F(UsbLink, PrintfHexUnderBothSymbols) {
    unsigned char b[] = {0x00, 0x0A, 0xFF};
    void *lib = loadedLibkestrel();
    ASSERT_NE(lib, nullptr);
    using PrintHex = void (*)(unsigned char *, int);
    for (const char *symbol : {"printfHex", "_Z9printfHexPhi"}) {
        auto print = reinterpret_cast<PrintHex>(dlsym(lib, symbol));
        ASSERT_NE(print, nullptr) << symbol;
        testing::internal::CaptureStdout();
        print(b, 3);
        fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "000aff\n") << symbol;
    }
    dlclose(lib);
}
