// SPDX-License-Identifier: MIT
// The APDU exchange with its T=0 follow-ups, through the virtual reader:
// the exact commands the card received, what the caller gets back, and
// that nothing is written when the exchange fails or does not fit.
#include <cstring>
#include <vector>

#include "session_fixture.h"

using namespace vr;

namespace sessiontest {
namespace {

class Exchange : public SessionTest {
protected:
    // A powered card in the contact slot answering by the given script.
    std::shared_ptr<ScriptedCard> scriptedCard() {
        auto card = std::make_shared<ScriptedCard>();
        reader()->insert(0x01, card);
        power();
        return card;
    }
    std::shared_ptr<UserCard> userCard() {
        auto card = insertContactCard();
        power();
        return card;
    }
    void power() {
        char atr[64];
        ASSERT_GE(ICC_Reader_PowerOn(handle, 0x01, atr), 0);
        reader()->clearTrace();
    }

    // Sends `command` (hex) to the contact slot.
    unsigned int send(const std::string &command) {
        cmd = hex(command);
        std::memset(rsp, 0xA5, sizeof rsp);
        len = 0xDEAD;
        return IccExchangeT0(handle, 0x01, static_cast<unsigned int>(cmd.size()), cmd.data(), &len, rsp);
    }
    std::string data() const { return toHex(rsp, len); }
    bool outputsUntouched() const {
        if (len != 0xDEAD) return false;
        for (unsigned char b : rsp)
            if (b != 0xA5) return false;
        return true;
    }

    Bytes cmd;
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
};

TEST_F(Exchange, PlainAnswer) {
    userCard()->on("00 B0 95 00", "01 02 03 04 05 06 07 08");
    EXPECT_EQ(send("00 B0 95 00 08"), 0x9000u);
    EXPECT_EQ(data(), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 B0 95 00 08")}));
}

TEST_F(Exchange, StatusWordsComeBackAsTheyAre) {
    userCard()->on("00 A4 02 00", "", 0x6A82).on("00 B2 01", "AA BB", 0x6282);
    EXPECT_EQ(send("00 A4 02 00 02 EF 05"), 0x6A82u);
    EXPECT_EQ(len, 0u);
    // A warning with data: the data is fetched and the warning returned.
    EXPECT_EQ(send("00 B2 01 04 02"), 0x6282u);
    EXPECT_EQ(data(), "AA BB");
}

TEST_F(Exchange, GetResponseAfter61) {
    auto card = userCard();
    card->on("00 A4 04 00", "6F 0E 84 0C 73 78 31 2E 73 68 2E C9 E7 BB E1 B1");
    EXPECT_EQ(send("00 A4 04 00 05 01 02 03 04 05"), 0x9000u);
    EXPECT_EQ(data(), "6F 0E 84 0C 73 78 31 2E 73 68 2E C9 E7 BB E1 B1");
    // A card that holds back every answer, a command expecting data too.
    card->setDelivery(T0Card::Delivery::GetResponse);
    card->on("00 B0 95 00", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10");
    EXPECT_EQ(send("00 B0 95 00 10"), 0x9000u);
    EXPECT_EQ(data(), "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10");
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 A4 04 00 05 01 02 03 04 05"),
                                                at(0x01, "00 C0 00 00 10"), at(0x01, "00 B0 95 00 10"),
                                                at(0x01, "00 C0 00 00 10")}));
}

TEST_F(Exchange, GetResponseOf256BytesAfter6100) {
    Bytes big(256);
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<uint8_t>(i);
    userCard()->on("80 CA 00 00", toHex(big));
    EXPECT_EQ(send("80 CA 00 00 02 AB CD"), 0x9000u);
    ASSERT_EQ(len, 256u);
    EXPECT_EQ(Bytes(rsp, rsp + len), big);
    EXPECT_EQ(seen().back(), at(0x01, "00 C0 00 00 00"));
}

TEST_F(Exchange, ResendWithLeFrom6CKeepsTheNewLe) {
    userCard()->on("00 84 00 00", "01 02 03 04 05 06 07 08");
    EXPECT_EQ(send("00 84 00 00 04"), 0x9000u);
    EXPECT_EQ(data(), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(toHex(cmd), "00 84 00 00 08");
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 84 00 00 04"), at(0x01, "00 84 00 00 08")}));
}

TEST_F(Exchange, GetResponseAnswered6CResendsTheCommand) {
    scriptedCard()
        ->on("00 B0 95 00 00", "61 0A")
        .on("00 C0 00 00 0A", "6C 0A")
        .on("00 B0 95 00 0A", "00 11 22 33 44 55 66 77 88 99 90 00");
    EXPECT_EQ(send("00 B0 95 00 00"), 0x9000u);
    EXPECT_EQ(data(), "00 11 22 33 44 55 66 77 88 99");
    EXPECT_EQ(toHex(cmd), "00 B0 95 00 0A");
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 B0 95 00 00"), at(0x01, "00 C0 00 00 0A"),
                                                at(0x01, "00 B0 95 00 0A")}));
}

TEST_F(Exchange, EachFollowUpOnlyOnce) {
    scriptedCard()
        ->on("00 B2 01 04", "61 10")
        .on("00 C0 00 00 10", "01 02 03 61 05")
        .on("00 B2 02 04 00", "6C 08")
        .on("00 B2 02 04 08", "6C 04");
    // A second 61xx is handed back with the data of the first GET RESPONSE.
    EXPECT_EQ(send("00 B2 01 04 00"), 0x6105u);
    EXPECT_EQ(data(), "01 02 03");
    // A second 6Cxx is handed back; the command keeps the Le of the resend.
    EXPECT_EQ(send("00 B2 02 04 00"), 0x6C04u);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(toHex(cmd), "00 B2 02 04 08");
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 B2 01 04 00"), at(0x01, "00 C0 00 00 10"),
                                                at(0x01, "00 B2 02 04 00"), at(0x01, "00 B2 02 04 08")}));
}

// 6Cxx is followed up only where the fifth byte is the Le: a four-byte
// command has no fifth byte, and in a command with data it is Lc.
TEST_F(Exchange, SixCOnCommandsWithoutLeIsHandedBack) {
    scriptedCard()->on("00 20 00 00", "6C 08").on("00 A4 04 00", "61 10").on("00 C0 00 00 10", "6C 10");
    unsigned char four[4] = {0x00, 0x20, 0x00, 0x00};
    unsigned int n = 0;
    EXPECT_EQ(IccExchangeT0(handle, 0x01, sizeof four, four, &n, rsp), 0x6C08u);
    EXPECT_EQ(n, 0u);

    EXPECT_EQ(send("00 A4 04 00 03 AA BB CC"), 0x6C10u);
    EXPECT_EQ(toHex(cmd), "00 A4 04 00 03 AA BB CC");
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 20 00 00"), at(0x01, "00 A4 04 00 03 AA BB CC"),
                                                at(0x01, "00 C0 00 00 10")}));
}

TEST_F(Exchange, FailedExchangeWritesNothing) {
    // The slot holds a card that was never powered: the reader answers 0xFF10.
    insertContactCard();
    EXPECT_EQ(send("00 84 00 00 08"), 0x6F00u);
    EXPECT_TRUE(outputsUntouched());

    // Empty slot, a slot the exchange does not take, a handle not open.
    reader()->remove(0x01);
    EXPECT_EQ(send("00 84 00 00 08"), 0x6F00u);
    EXPECT_TRUE(outputsUntouched());
    cmd = hex("00 84 00 00 08");
    EXPECT_EQ(IccExchangeT0(handle, 0x03, 5, cmd.data(), &len, rsp), 0x6F00u);
    long closed = handle;
    ICC_Reader_Close(handle);
    EXPECT_EQ(IccExchangeT0(closed, 0x01, 5, cmd.data(), &len, rsp), 0x6F00u);
    EXPECT_TRUE(outputsUntouched());
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 84 00 00 08"), at(0x01, "00 84 00 00 08")}));
}

TEST_F(Exchange, CommandRefusedByTheReaderLayer) {
    userCard();
    // Shorter than four bytes, longer than 261, a GET CHALLENGE with data.
    EXPECT_EQ(send("00 84 00"), 0x6F00u);
    EXPECT_EQ(send("00 84 00 00 08 00"), 0x6F00u);
    EXPECT_EQ(send("00 D6 00 00 FF" + toHex(Bytes(257))), 0x6F00u);
    EXPECT_TRUE(outputsUntouched());
    EXPECT_TRUE(seen().empty());
}

TEST_F(Exchange, NullArgumentsSendNothing) {
    userCard();
    unsigned char c[5] = {0x00, 0x84, 0x00, 0x00, 0x08};
    unsigned int n = 0;
    EXPECT_EQ(IccExchangeT0(handle, 0x01, 5, nullptr, &n, rsp), 0x6F00u);
    EXPECT_EQ(IccExchangeT0(handle, 0x01, 5, c, nullptr, rsp), 0x6F00u);
    EXPECT_EQ(IccExchangeT0(handle, 0x01, 5, c, &n, nullptr), 0x6F00u);
    EXPECT_TRUE(seen().empty());
}

TEST_F(Exchange, SlotThatNeverAnswersTimesOut) {
    shortTimeout();
    userCard()->on("00 84 00 00", "01 02 03 04 05 06 07 08");
    reader()->slot(0x01).mute = true;
    EXPECT_EQ(send("00 84 00 00 08"), 0x6F00u);
    EXPECT_TRUE(outputsUntouched());
    // The reader layer asks the slot's status to explain the silence.
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 84 00 00 08"), at(0x01, kCardStatus)}));
}

TEST_F(Exchange, FollowUpsThatFail) {
    shortTimeout();
    userCard();
    // The GET RESPONSE after 61 10 is never answered.
    reader()->replyNextWith(Reader::split(0x12, hex("61 10")));
    reader()->muteNext();
    EXPECT_EQ(send("00 A4 04 00 02 3F 00"), 0x6F00u);
    EXPECT_TRUE(outputsUntouched());
    // The resend after 6C 08 is never answered.
    reader()->replyNextWith(Reader::split(0x12, hex("6C 08")));
    reader()->muteNext();
    EXPECT_EQ(send("00 84 00 00 04"), 0x6F00u);
    EXPECT_TRUE(outputsUntouched());
    EXPECT_EQ(toHex(cmd), "00 84 00 00 08");
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 A4 04 00 02 3F 00"), at(0x01, "00 C0 00 00 10"),
                                                at(0x01, kCardStatus), at(0x01, "00 84 00 00 04"),
                                                at(0x01, "00 84 00 00 08"), at(0x01, kCardStatus)}));
}

// The response area holds 4096 bytes, data and status word together: the
// largest response fits exactly, a longer one is refused.
TEST_F(Exchange, ResponseAreaBound) {
    Bytes largest(kT0ResponseArea - 2, 0x5A);
    Bytes tooLong(kT0ResponseArea - 1, 0x5A);
    scriptedCard()->on("00 B0 00 00", toHex(withStatus(largest, 0x9000)))
        .on("00 B0 00 01", toHex(withStatus(tooLong, 0x9000)));
    // Exactly the documented buffer, so that a write past it is caught.
    std::vector<unsigned char> out(kT0ResponseArea - 2);
    unsigned int n = 0;
    unsigned char c[5] = {0x00, 0xB0, 0x00, 0x00, 0x00};
    EXPECT_EQ(IccExchangeT0(handle, 0x01, 5, c, &n, out.data()), 0x9000u);
    EXPECT_EQ(n, kT0ResponseArea - 2);
    EXPECT_EQ(Bytes(out.begin(), out.end()), largest);

    n = 0xDEAD;
    c[3] = 0x01;
    EXPECT_EQ(IccExchangeT0(handle, 0x01, 5, c, &n, out.data()), 0x6F00u);
    EXPECT_EQ(n, 0xDEADu);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x01, "00 B0 00 00 00"), at(0x01, "00 B0 00 01 00"),
                                                at(0x01, kCardStatus)}));
}

TEST_F(Exchange, ResponseLongerThanTheCallersBufferIsRefused) {
    userCard()->on("00 B2 01 04", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13");
    std::vector<unsigned char> small(19, 0xA5);
    unsigned int n = 0xDEAD;
    unsigned char c[5] = {0x00, 0xB2, 0x01, 0x04, 0x14};
    EXPECT_EQ(IccExchangeT0(handle, 0x01, 5, c, &n, small.data(), 19), 0x6F00u);
    EXPECT_EQ(n, 0xDEADu);
    EXPECT_EQ(small, std::vector<unsigned char>(19, 0xA5));
    std::vector<unsigned char> exact(20);
    EXPECT_EQ(IccExchangeT0(handle, 0x01, 5, c, &n, exact.data(), 20), 0x9000u);
    EXPECT_EQ(n, 20u);
    EXPECT_EQ(exact[19], 0x13);
}

TEST_F(Exchange, PsamSlotsUseTheSameRules) {
    auto psam = Psam::withApplications({2});
    reader()->insert(0x12, psam);
    char atr[64];
    ASSERT_GT(ICC_Reader_PowerOn(handle, 0x12, atr), 0);
    reader()->clearTrace();
    Bytes name = psamApplicationName(2);
    Bytes select = hex("00 A4 04 00 0F");
    select.insert(select.end(), name.begin(), name.end());
    unsigned int n = 0;
    EXPECT_EQ(IccExchangeT0(handle, 0x12, static_cast<unsigned int>(select.size()), select.data(), &n, rsp),
              0x9000u);
    EXPECT_EQ(toHex(rsp, n), "6F 11 84 0F " + toHex(name));
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x12, toHex(select)), at(0x12, "00 C0 00 00 13")}));
}

}  // namespace
}  // namespace sessiontest
