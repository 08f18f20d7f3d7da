// SPDX-License-Identifier: MIT
// Two readers on the bus, one thread each: every thread opens a reader,
// powers its card, exchanges a command, asks for the slot's state and
// closes the reader again, round after round.  Separate handles share nothing but libusb itself, so every
// answer a thread sees comes from the reader it opened: the card's answer
// to reset and its data name the same reader.  Built with ThreadSanitizer
// as well (scripts/test).
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "card.h"
#include "fixture.h"
#include "kestrel.h"
#include "reader/reader.h"

using namespace vr;

namespace {

constexpr unsigned char kReadBinary[5] = {0x00, 0xB0, 0x00, 0x00, 0xC8};
constexpr int kAnswerLength = 0xC8;

// A card whose answer to reset ends in the reader's mark, and whose data
// (200 bytes, four reports) is that mark throughout.
std::shared_ptr<ScriptedCard> markedCard(uint8_t mark) {
    auto card = std::make_shared<ScriptedCard>(Bytes{0x3B, 0x02, 0x52, mark});
    card->on("00 B0 00 00 C8", toHex(Bytes(kAnswerLength, mark)) + " 90 00");
    return card;
}

struct Tally {
    int rounds = 0;
    int refused = 0;     // a call that failed
    int crossed = 0;     // an answer from the other reader
};

// One thread's rounds on port "USB<port>".
void rounds(int port, int count, Tally *t) {
    const std::string name = "USB" + std::to_string(port);
    for (int i = 0; i < count; ++i, ++t->rounds) {
        long h = ICC_Reader_Open(name.c_str());
        if (h < 0) {
            t->refused++;
            continue;
        }
        char atr[KESTREL_ATR_SIZE];
        unsigned char cmd[5], rsp[KESTREL_MAX_RESPONSE];
        std::memcpy(cmd, kReadBinary, sizeof cmd);
        if (ICC_Reader_PowerOn(h, 0x01, atr) != 4 ||
            ICC_Reader_Application(h, 0x01, 5, cmd, rsp) != kAnswerLength + 2 ||
            ICC_Reader_GetStatus(h, 0x01) != 0) {
            t->refused++;
        } else {
            const unsigned char mark = static_cast<unsigned char>(atr[3]);
            for (int k = 0; k < kAnswerLength; ++k)
                if (rsp[k] != mark) {
                    t->crossed++;
                    break;
                }
        }
        if (ICC_Reader_Close(h) != 0) t->refused++;
    }
}

class TwoReaders : public VirtualReaderTest {
protected:
    void SetUp() override {
        VirtualReaderTest::SetUp();
        VirtualReader::second().plug(UsbVariant::Reader);
        reader()->insert(0x01, markedCard('1'));
        VirtualReader::second().reader()->insert(0x01, markedCard('2'));
        savedDrain_ = kestrel::drainTimeoutMs;
        kestrel::drainTimeoutMs = 1;
    }
    void TearDown() override {
        kestrel::drainTimeoutMs = savedDrain_;
        VirtualReader::second().plug(UsbVariant::NoReader);
    }
    unsigned savedDrain_ = 0;
};

}  // namespace

TEST_F(TwoReaders, OneThreadEachKeepsItsOwnAnswers) {
    const char *env = std::getenv("KESTREL_THREAD_ROUNDS");
    const int count = env ? std::atoi(env) : std::getenv("VREADER_EMULATOR") ? 200 : 1000;
    Tally a, b;
    // A reader that the other thread holds is passed over with the
    // library's "Cannot Claim Interface" line; those lines are not shown.
    testing::internal::CaptureStdout();
    std::thread ta(rounds, 1, count, &a), tb(rounds, 2, count, &b);
    ta.join();
    tb.join();
    testing::internal::GetCapturedStdout();

    for (const Tally *t : {&a, &b}) {
        EXPECT_EQ(t->rounds, count);
        EXPECT_EQ(t->refused, 0);
        EXPECT_EQ(t->crossed, 0);
    }
    // Both readers took part, and no reader was left open.
    auto one = reader()->commandsTo(0x01), two = VirtualReader::second().reader()->commandsTo(0x01);
    EXPECT_GT(one.size(), 0u);
    EXPECT_GT(two.size(), 0u);
    EXPECT_EQ(one.size() + two.size(), static_cast<size_t>(2 * count * 3));
    for (int i = 0; i < kReaderTableSize; ++i) EXPECT_EQ(OpenedRHandle[i], kClosedEntry) << i;
}
