// SPDX-License-Identifier: MIT
// Random answers to the T=0 exchange, through the virtual reader: whatever
// the reader sends back (61xx and 6Cxx with any length, other status
// words, answers too short to hold a status word, answers longer than the
// response area), the exchange keeps inside the caller's buffer, follows
// up at most once each, and returns exactly the answer it got last.  Run
// under the sanitizers, an exact-size heap buffer catches any write past
// the capacity.
#include <cstring>
#include <memory>
#include <random>

#include "session_fixture.h"

using namespace vr;

namespace sessiontest {
namespace {

class ExchangeFuzz : public SessionTest {};

Bytes randomAnswer(std::mt19937 &rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    size_t dataLen;
    switch (pick(10)) {
    case 0: dataLen = 0; break;
    case 1: dataLen = static_cast<size_t>(250 + pick(12)); break;
    case 2: dataLen = pick(8) == 0 ? static_cast<size_t>(4090 + pick(10)) : 2; break;
    default: dataLen = static_cast<size_t>(pick(24)); break;
    }
    Bytes a(dataLen);
    for (auto &b : a) b = static_cast<uint8_t>(rng());
    uint8_t sw1;
    switch (pick(6)) {
    case 0: sw1 = 0x61; break;
    case 1: sw1 = 0x6C; break;
    case 2: sw1 = 0x90; break;
    case 3: sw1 = static_cast<uint8_t>(rng()); break;
    default: sw1 = pick(2) ? 0x61 : 0x6C; break;
    }
    // Now and then an answer too short to end in a status word.
    if (pick(20) == 0) return Bytes(static_cast<size_t>(pick(2)), sw1);
    a.push_back(sw1);
    a.push_back(static_cast<uint8_t>(rng()));
    return a;
}

int statusOf(const Bytes &r) { return r.size() < 2 ? -1 : (r[r.size() - 2] << 8 | r[r.size() - 1]); }

TEST_F(ExchangeFuzz, RandomAnswers) {
    std::mt19937 rng(20240611);
    const int kRounds = 300;
    int failures = 0;
    for (int round = 0; round < kRounds; round++) {
        SCOPED_TRACE(round);
        {
            auto r = reader();
            r->reset();
            for (int i = 0; i < 4; i++) r->replyNextWith(Reader::split(0x12, randomAnswer(rng)));
        }
        Bytes cmd = rng() % 2 ? hex("00 B0 81 00 10") : hex("00 A4 04 00 02 DF 01");
        if (rng() % 4 == 0) cmd = hex("00 20 00 00");
        const Bytes original = cmd;
        unsigned int capacity = rng() % 8 == 0 ? kT0ResponseArea - 2 : rng() % 300;
        std::unique_ptr<unsigned char[]> rsp(new unsigned char[capacity + 1]);
        std::memset(rsp.get(), 0xA5, capacity + 1);
        unsigned int len = 0xDEAD;

        unsigned int sw = IccExchangeT0(handle, 0x01, static_cast<unsigned int>(cmd.size()), cmd.data(), &len,
                                        rsp.get(), capacity);

        std::vector<vr::Exchange> trace = reader()->trace();
        ASSERT_FALSE(trace.empty());
        ASSERT_LE(trace.size(), 4u);
        EXPECT_EQ(trace[0].command, original);
        EXPECT_EQ(rsp[capacity], 0xA5);
        // The card's messages: everything but the reader layer's status
        // question after a failed exchange, which ends the exchange.
        size_t cardMessages = trace.size();
        if (trace.back().command == hex(kCardStatus)) cardMessages--;
        ASSERT_GE(cardMessages, 1u);
        if (cardMessages >= 2 && (statusOf(trace[0].response) >> 8) == 0x61) {
            Bytes getResponse = hex("00 C0 00 00");
            getResponse.push_back(static_cast<uint8_t>(statusOf(trace[0].response)));
            EXPECT_EQ(trace[1].command, getResponse);
        }
        if (cmd != original) {
            // Only the Le of a five-byte command is ever rewritten.
            ASSERT_EQ(original.size(), 5u);
            EXPECT_EQ(Bytes(cmd.begin(), cmd.begin() + 4), Bytes(original.begin(), original.begin() + 4));
            EXPECT_EQ(trace[cardMessages - 1].command, cmd);
        }
        const Bytes &last = trace[cardMessages - 1].response;
        if (sw == 0x6F00 && len == 0xDEAD) {
            // Failed: nothing written, and for a reason: the link failed
            // (the reader layer then asked for the status), or the answer
            // did not fit.
            for (unsigned int i = 0; i < capacity; i++) ASSERT_EQ(rsp[i], 0xA5) << i;
            EXPECT_TRUE(trace.size() > cardMessages || last.size() - 2 > capacity);
            failures++;
            continue;
        }
        ASSERT_EQ(trace.size(), cardMessages);
        EXPECT_EQ(static_cast<int>(sw), statusOf(last));
        ASSERT_EQ(len, last.size() - 2);
        EXPECT_LE(len, capacity);
        EXPECT_EQ(0, std::memcmp(rsp.get(), last.data(), len));
    }
    // Both outcomes were exercised.
    EXPECT_GT(failures, 10);
    EXPECT_LT(failures, kRounds - 10);
}

}  // namespace
}  // namespace sessiontest
