// SPDX-License-Identifier: MIT
// The reader-handle API against the virtual reader: port names and the
// table of open readers, the close rule of kk, and each slot command with
// the reader's status words.
#include <dlfcn.h>

#include "guarded_buffer.h"
#include "loaded_library.h"

#include "reader_test_util.h"

using namespace vr;
using namespace readertest;

namespace {

class ReaderApi : public VirtualReaderTest {
protected:
    void SetUp() override {
        VirtualReaderTest::SetUp();
        closeAll();
    }
    void TearDown() override { closeAll(); }
    static void closeAll() {
        for (int i = 0; i < kReaderTableSize; i++) {
            if (OpenedRHandle[i] > 0) CT_close(OpenedRHandle[i]);
            OpenedRHandle[i] = kClosedEntry;
            ConvHandle[i] = static_cast<int>(kClosedEntry);
        }
    }
    static std::shared_ptr<ScriptedCard> insertCard(uint8_t slot, const std::string &atr = "3B 02 14 50") {
        auto card = std::make_shared<ScriptedCard>(hex(atr));
        reader()->insert(slot, card);
        return card;
    }
    static std::vector<std::string> sent() {
        std::vector<std::string> out;
        for (const Exchange &e : reader()->trace()) {
            char nad[8];
            snprintf(nad, sizeof nad, "%02X: ", e.nad);
            out.push_back(nad + toHex(e.command));
        }
        return out;
    }
    static std::string captured(const std::function<void()> &f) {
        testing::internal::CaptureStdout();
        f();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(ReaderApi, PortNamesAndTheTableEntryTheyUse) {
    long h = ICC_Reader_Open("USB3");
    ASSERT_GE(h, 1650);
    ASSERT_LE(h, 1999);
    EXPECT_GT(OpenedRHandle[3], 0);
    EXPECT_EQ(ConvHandle[3], h);
    EXPECT_EQ(h, OpenedRHandle[3] % 350 + 1650);
    for (int i = 0; i < kReaderTableSize; i++)
        if (i != 3) {
            EXPECT_EQ(OpenedRHandle[i], kClosedEntry) << i;
        }

    // The same value works for every function until the reader closes.
    insertCard(0x01);
    char atr[64];
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), 4);
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x01), 0);
    EXPECT_EQ(ICC_Reader_PowerOff(h, 0x01), 0);
    EXPECT_EQ(ICC_Reader_Close(h), 0);
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x01), kErrNotOpen);
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), kErrNotOpen);
}

TEST_F(ReaderApi, RefusesPortNamesOutsideUsb1ToUsb9) {
    for (const char *port : {"USB0", "COM1", "USB", "usb1", "", "USB:", "atoi2", "USB10", "USB19", "USB100",
                             "USB9x", "ZZZ"}) {
        EXPECT_EQ(ICC_Reader_Open(port), kErrArgument) << port;
    }
    EXPECT_EQ(ICC_Reader_Open(nullptr), kErrArgument);
    for (int i = 0; i < kReaderTableSize; i++) EXPECT_EQ(OpenedRHandle[i], kClosedEntry) << i;
    EXPECT_TRUE(reader()->trace().empty());
    EXPECT_EQ(bus().claimCount(), 0) << "a refused name must not open the device";
}

TEST_F(ReaderApi, AtoiClosesEveryReaderAndUsesEntryZero) {
    ASSERT_GT(ICC_Reader_Open("USB2"), 0);
    long h = ICC_Reader_Open("atoi");
    ASSERT_GE(h, 1650);
    EXPECT_EQ(OpenedRHandle[2], kClosedEntry);
    EXPECT_GT(OpenedRHandle[0], 0);
    EXPECT_EQ(bus().openDescriptorsSettled(1), 1);
    // A numbered port closes entry 0 again.
    ASSERT_GT(ICC_Reader_Open("USB5"), 0);
    EXPECT_EQ(OpenedRHandle[0], kClosedEntry);
    EXPECT_EQ(bus().openDescriptorsSettled(1), 1);
}

TEST_F(ReaderApi, OpeningAPortAgainClosesTheReaderOpenUnderIt) {
    long first = ICC_Reader_Open("USB2");
    long device = OpenedRHandle[2];
    ASSERT_GT(first, 0);
    long second = ICC_Reader_Open("USB2");
    ASSERT_GT(second, 0);
    EXPECT_EQ(bus().openDescriptorsSettled(1), 1) << "the first reader was not closed";
    EXPECT_EQ(bus().claimCount(), 2);
    // The new record may reuse the old one's address, and so its handle.
    if (first != second) {
        EXPECT_EQ(ICC_Reader_GetStatus(first, 0x01), kErrNotOpen);
    }
    (void)device;
}

TEST_F(ReaderApi, SecondCloseReturnsZeroUntilTheNextOpen) {
    kk = 1;  // as after loading
    EXPECT_EQ(ICC_Reader_Close(1700), kErrNotOpen);
    long h = ICC_Reader_Open("USB1");
    ASSERT_GT(h, 0);
    EXPECT_EQ(ICC_Reader_Close(h), 0);
    EXPECT_EQ(ICC_Reader_Close(h), 0);
    EXPECT_EQ(ICC_Reader_Close(h), 0);
    EXPECT_EQ(ICC_Reader_Open("COM1"), kErrArgument);  // even a refused open
    EXPECT_EQ(ICC_Reader_Close(h), kErrNotOpen);
    EXPECT_EQ(ICC_Reader_Close(-5), kErrArgument);
}

TEST_F(ReaderApi, NoReaderMeansTenAttemptsThenMinusEleven) {
    bus().plug(UsbVariant::NoReader);
    EXPECT_EQ(ICC_Reader_Open("USB1"), kErrReader);
    EXPECT_EQ(ICC_Reader_Open("atoi"), kErrReader);
    bus().plug(UsbVariant::ClaimRefused);
    std::string out = captured([] { EXPECT_EQ(ICC_Reader_Open("USB1"), kErrReader); });
    std::string tenTimes;
    for (int i = 0; i < 10; i++) tenTimes += "Cannot Claim Interface\n";
    EXPECT_EQ(out, tenTimes);
}

TEST_F(ReaderApi, SlotNumbersEachFunctionAccepts) {
    long h = ICC_Reader_Open("USB1");
    ASSERT_GT(h, 0);
    char atr[64];
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x00, atr), 256);
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x03, atr), 256);
    EXPECT_TRUE(reader()->trace().empty()) << "slots 0x00 and 0x03 are not sent anything";
    for (uint8_t bad : {0x04, 0x05, 0x10, 0x15, 0x1A, 0x1C, 0xFF})
        EXPECT_EQ(ICC_Reader_PowerOn(h, bad, atr), kErrArgument) << int(bad);
    for (uint8_t bad : {0x03, 0x05, 0x1A, 0x1C}) {
        EXPECT_EQ(ICC_Reader_PowerOff(h, bad), kErrArgument) << int(bad);
        EXPECT_EQ(ICC_Reader_GetStatus(h, bad), kErrArgument) << int(bad);
    }
    unsigned char cmd[5] = {0x00, 0xA4, 0x00, 0x00, 0x00}, rsp[KESTREL_MAX_RESPONSE];
    for (uint8_t bad : {0x03, 0x05, 0x15})
        EXPECT_EQ(ICC_Reader_Application(h, bad, 5, cmd, rsp), kErrArgument) << int(bad);
    EXPECT_TRUE(reader()->trace().empty());
    EXPECT_EQ(ICC_Reader_PowerOff(h, 0x00), 0);
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x00), 0);
    EXPECT_TRUE(reader()->trace().empty());
}

TEST_F(ReaderApi, PowerOnOfTheUserCardSlots) {
    long h = ICC_Reader_Open("USB1");
    char atr[64];
    memset(atr, 0x55, sizeof atr);

    // Empty slot: the reader answers 62 00.
    std::string out = captured([&] { EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), kErrNoCard); });
    EXPECT_EQ(out, "dwRet==0x6200IFD_ICC_NoExist\n");
    // A reader that reports the empty slot with its "no card" status.
    reader()->slot(0x01).emptyPowerOnStatus = 0xFF05;
    out = captured([&] { EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), kErrNoCard); });
    EXPECT_EQ(out, "");

    insertCard(0x02, "3B 8E 80 01 80 31 80 66 B0 84 0C 01 6E 01 83 00 90 00 1C");
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x02, atr), 19);
    EXPECT_EQ(toHex(reinterpret_cast<uint8_t *>(atr), 21),
              "3B 8E 80 01 80 31 80 66 B0 84 0C 01 6E 01 83 00 90 00 1C 90 00");
    EXPECT_EQ(atr[21], 0) << "the answer buffer is cleared first";

    reader()->slot(0x02).powerOnStatus = 0xFF12;
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x02, atr), kErrWrongCardType);
    reader()->slot(0x02).powerOnStatus = 0xFFFF;
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x02, atr), kErrReader);

    // No answer: the card status command explains it.
    ShortResponseWait wait(200);
    reader()->clearTrace();
    reader()->muteNext();
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), kErrNoCard);
    EXPECT_EQ(sent(), (Strings{"12: 00 12 00 00 00", "12: 00 14 00 00 00"}));
    reader()->muteNext();
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x02, atr), kErrNoAnswer);

    // The identity-card module is powered like a user card.
    insertCard(0x1B, "00");
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x1B, atr), 1);
}

TEST_F(ReaderApi, AnAnswerToResetTooLongForTheCallersBufferIsRefused) {
    long h = ICC_Reader_Open("USB1");
    insertCard(0x01, toHex(filled(49)));
    char atr[64];
    memset(atr, 0x55, sizeof atr);
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), kErrNoAnswer);
    EXPECT_EQ(atr[50], 0x55) << "written past 50 bytes";
    insertCard(0x01, toHex(filled(48)));
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), 48);
    EXPECT_EQ(atr[50], 0x55);
}

TEST_F(ReaderApi, PowerOnOfThePsamSlots) {
    long h = ICC_Reader_Open("USB1");
    char atr[64];
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x12, atr), kErrNoCard);
    insertCard(0x12, "3B 6A 00 00 80 65 A2 01 01 01 3D 72 D6 43");
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x12, atr), 14);
    reader()->slot(0x12).powerOnStatus = 0x6F00;
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x12, atr), kErrNoCard);
    reader()->slot(0x12).powerOnStatus = 0xFF12;
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x12, atr), kErrWrongCardType);

    ShortResponseWait wait(200);
    reader()->clearTrace();
    reader()->muteNext();
    EXPECT_EQ(ICC_Reader_PowerOn(h, 0x13, atr), kErrNoAnswer);
    EXPECT_EQ(sent(), (Strings{"18: 00 12 00 00 00", "18: 00 16 00 00 00"}));
}

TEST_F(ReaderApi, PowerOffAndStatus) {
    long h = ICC_Reader_Open("USB1");
    char atr[64];
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x01), kErrNoCard);
    EXPECT_EQ(ICC_Reader_PowerOff(h, 0x01), kErrNoCard);
    insertCard(0x01);
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x01), kErrNotPowered);
    ASSERT_EQ(ICC_Reader_PowerOn(h, 0x01, atr), 4);
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x01), 0);
    reader()->clearTrace();
    EXPECT_EQ(ICC_Reader_PowerOff(h, 0x01), 0);
    EXPECT_EQ(sent(), (Strings{"12: 00 14 00 00 00", "12: 00 13 00 00 00"}));
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x01), kErrNotPowered);

    insertCard(0x14);
    reader()->clearTrace();
    EXPECT_EQ(ICC_Reader_GetStatus(h, 0x14), kErrNotPowered);
    EXPECT_EQ(ICC_Reader_PowerOff(h, 0x14), 0);
    EXPECT_EQ(ICC_Reader_PowerOff(h, 0x13), 0) << "an empty PSAM slot powers off without complaint";
    EXPECT_EQ(sent(), (Strings{"19: 00 16 00 00 00", "19: 00 13 00 00 00", "18: 00 13 00 00 00"}));
}

TEST_F(ReaderApi, ApplicationChecksTheCommandBeforeSendingIt) {
    long h = ICC_Reader_Open("USB1");
    auto card = insertCard(0x01);
    card->on("00 84 00 00 08", "11 22 33 44 55 66 77 88 90 00");
    char atr[64];
    ASSERT_GE(ICC_Reader_PowerOn(h, 0x01, atr), 0);
    reader()->clearTrace();
    unsigned char rsp[KESTREL_MAX_RESPONSE];
    Bytes cmd = hex("00 84 00 00 08 00");
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 6, cmd.data(), rsp), kErrArgument);
    Bytes big(262, 0x00);
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 3, big.data(), rsp), kErrArgument);
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 262, big.data(), rsp), kErrArgument);
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, -1, big.data(), rsp), kErrArgument);
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, nullptr, rsp), kErrArgument);
    EXPECT_TRUE(reader()->trace().empty());

    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd.data(), rsp), 10);
    EXPECT_EQ(toHex(rsp, 10), "11 22 33 44 55 66 77 88 90 00");
    // 261 bytes go to a user card.
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 261, big.data(), rsp), 2);
    EXPECT_EQ(toHex(rsp, 2), "6D 00");
}

TEST_F(ReaderApi, PsamCommandsAreLimitedTo255Bytes) {
    long h = ICC_Reader_Open("USB1");
    insertCard(0x11)->on("00", "90 00");
    char atr[64];
    ASSERT_GE(ICC_Reader_PowerOn(h, 0x11, atr), 0);
    reader()->clearTrace();
    Bytes cmd(261, 0x00);
    unsigned char rsp[KESTREL_MAX_RESPONSE];
    EXPECT_EQ(ICC_Reader_Application(h, 0x11, 255, cmd.data(), rsp), 2);
    for (long n : {256L, 260L, 261L}) EXPECT_EQ(ICC_Reader_Application(h, 0x11, n, cmd.data(), rsp), kErrArgument);
    EXPECT_EQ(reader()->trace().size(), 1u);
}

TEST_F(ReaderApi, ApplicationMapsTheReadersStatusWords) {
    long h = ICC_Reader_Open("USB1");
    unsigned char cmd[5] = {0x00, 0xB0, 0x81, 0x00, 0x00}, rsp[KESTREL_MAX_RESPONSE];
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), kErrNoCard);
    EXPECT_EQ(toHex(rsp, 2), "FF 05");
    insertCard(0x01)->on("00 B0", "6A 82");
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), kErrNotPowered);
    char atr[64];
    ICC_Reader_PowerOn(h, 0x01, atr);
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), 2) << "card status words are handed back";
    EXPECT_EQ(toHex(rsp, 2), "6A 82");
    reader()->replyNextWith({answerReport(0x00, hex("FF 12"))});
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), kErrWrongCardType);
    reader()->replyNextWith({answerReport(0x00, hex("FF FF"))});
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), kErrReader);

    // A failed exchange is explained by the status command of the slot's group.
    ShortResponseWait wait(200);
    reader()->slot(0x01).mute = true;
    reader()->clearTrace();
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), kErrNoAnswer);
    EXPECT_EQ(toHex(rsp, 2), "6F F0");
    EXPECT_EQ(sent(), (Strings{"12: 00 B0 81 00 00", "12: 00 14 00 00 00"}));
    reader()->muteNext();
    reader()->remove(0x01);
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), kErrNoCard);
    insertCard(0x01);
    reader()->muteNext();
    EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp), kErrNotPowered);

    insertCard(0x11);
    reader()->slot(0x11).powered = true;
    reader()->slot(0x11).mute = true;
    reader()->clearTrace();
    EXPECT_EQ(ICC_Reader_Application(h, 0x11, 5, cmd, rsp), kErrNoAnswer);
    EXPECT_EQ(sent(), (Strings{"16: 00 B0 81 00 00", "16: 00 16 00 00 00"}));
}

// An answer that stops after "more follows": the status word of the
// failed exchange goes at byte 256 only when 258 bytes did arrive, never
// beyond what the reader delivered.
TEST_F(ReaderApi, TheFullAnswerRuleStaysWithinTheBytesThatArrived) {
    long h = ICC_Reader_Open("USB1");
    unsigned char cmd[5] = {0x00, 0xB0, 0x00, 0x00, 0x00};
    ShortResponseWait wait(100);
    for (int reports : {1, 5}) {
        std::vector<Report> partial;
        for (int k = 0; k < reports; k++) partial.push_back(answerReport(0x20, filled(61, 1)));
        reader()->replyNextWith(partial);
        GuardedBuffer rsp(KESTREL_MAX_RESPONSE);
        ASSERT_TRUE(rsp.ok());
        EXPECT_EQ(ICC_Reader_Application(h, 0x01, 5, cmd, rsp.bytes()), kErrNoCard) << reports;
        // Status word at 0 after 61 bytes; at 256 after 305.
        EXPECT_EQ(toHex(rsp.bytes(), 2), reports == 1 ? "6F F0" : "01 02") << reports;
        EXPECT_EQ(toHex(rsp.bytes() + 256, 2), reports == 1 ? "A5 A5" : "6F F0") << reports;
        EXPECT_EQ(rsp.bytes()[61 * reports], 0xA5) << reports;
    }
}

TEST_F(ReaderApi, SideModulesAreReachedWithoutPowerOn) {
    long h = ICC_Reader_Open("USB1");
    insertCard(0x1C)->on("", "51 52 90 00");
    unsigned char cmd[4] = {0x1C, 0x01, 0x00, 0x00}, rsp[KESTREL_MAX_RESPONSE];
    EXPECT_EQ(ICC_Reader_Application(h, 0x1C, 4, cmd, rsp), 4);
    EXPECT_EQ(reader()->trace().at(0).nad, 0x1C);
}

TEST_F(ReaderApi, LibinfoAndTheExportedMutexObjects) {
    char info[32];
    memset(info, 0x7E, sizeof info);
    EXPECT_EQ(ICC_Reader_Libinfo(info), 0);
    EXPECT_EQ(std::string(info, 18), "VRT VRT-5-LN-Q 10 ");
    EXPECT_EQ(info[18], 0x7E) << "no terminating NUL";

    void *lib = loadedLibkestrel();
    ASSERT_NE(lib, nullptr);
    for (const char *name : {"ICC_Reader_OpenMutex", "ICC_Reader_CloseMutex", "ICC_Reader_PowerOnMutex",
                             "ICC_Reader_PowerOffMutex", "ICC_Reader_GetStatusMutex",
                             "ICC_Reader_ApplicationMutex"}) {
        auto *obj = static_cast<const unsigned char *>(dlsym(lib, name));
        ASSERT_NE(obj, nullptr) << name;
        EXPECT_EQ(Bytes(obj, obj + 8), Bytes(8, 0)) << name;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(obj) % 8, 0u) << name;
    }
    dlclose(lib);
}
