// SPDX-License-Identifier: MIT
// Powering the PSAM with the fallback to slot 0x11, and the selection of
// its application by the card's algorithm.
#include "session_fixture.h"

using namespace vr;

namespace sessiontest {
namespace {

std::string selectionOf(int alg) {
    Bytes c = hex("00 A4 04 00 0F");
    Bytes name = psamApplicationName(alg);
    c.insert(c.end(), name.begin(), name.end());
    return toHex(c);
}

class FindAndOpenPsam : public SessionTest {};

TEST_F(FindAndOpenPsam, SelectionCommandsAreTheDocumentedBytes) {
    EXPECT_EQ(selectionOf(2), "00 A4 04 00 0F 73 78 32 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF");
    EXPECT_EQ(selectionOf(3), "00 A4 04 00 0F 73 78 33 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF");
}

TEST_F(FindAndOpenPsam, AlgorithmsOtherThanTwoAndThreeOnlyPower) {
    for (int alg : {1, 0, 4, -1}) {
        reader()->insert(0x11, Psam::withApplications({2, 3}));
        reader()->clearTrace();
        EXPECT_EQ(findAndOpenPSAM(handle, alg), 0) << alg;
        EXPECT_EQ(seen(), (std::vector<std::string>{at(0x11, kPowerOn)})) << alg;
    }
}

TEST_F(FindAndOpenPsam, SelectsTheApplicationOfTheAlgorithm) {
    for (int alg : {2, 3}) {
        auto psam = Psam::withApplications({2, 3});
        reader()->insert(0x11, psam);
        reader()->clearTrace();
        EXPECT_EQ(findAndOpenPSAM(handle, alg), 0);
        // The PSAM holds its answer back (61 13) until GET RESPONSE.
        EXPECT_EQ(seen(), (std::vector<std::string>{at(0x11, kPowerOn), at(0x11, selectionOf(alg)),
                                                    at(0x11, "00 C0 00 00 13")}));
        ASSERT_NE(psam->selected(), nullptr);
        EXPECT_EQ(psam->selected()->name, psamApplicationName(alg));
        EXPECT_EQ(psamSlot, 0x11);
    }
}

TEST_F(FindAndOpenPsam, ApplicationMissing) {
    reader()->insert(0x11, Psam::withApplications({2}));
    EXPECT_EQ(findAndOpenPSAM(handle, 3), -2202);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x11, kPowerOn), at(0x11, selectionOf(3))}));
}

TEST_F(FindAndOpenPsam, SelectionUnanswered) {
    shortTimeout();
    reader()->insert(0x11, Psam::withApplications({2}));
    reader()->slot(0x11).mute = true;
    EXPECT_EQ(findAndOpenPSAM(handle, 2), -2202);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x11, kPowerOn), at(0x11, selectionOf(2)), at(0x11, kPsamStatus)}));
}

TEST_F(FindAndOpenPsam, UsesTheCurrentPsamSlot) {
    reader()->insert(0x11, Psam::withApplications({2}));
    reader()->insert(0x13, Psam::withApplications({3}));
    psamSlot = 0x13;
    EXPECT_EQ(findAndOpenPSAM(handle, 3), 0);
    EXPECT_EQ(psamSlot, 0x13);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x13, kPowerOn), at(0x13, selectionOf(3)),
                                                at(0x13, "00 C0 00 00 13")}));
}

TEST_F(FindAndOpenPsam, FallsBackToSlot11) {
    reader()->insert(0x11, Psam::withApplications({2}));
    psamSlot = 0x14;  // empty
    EXPECT_EQ(findAndOpenPSAM(handle, 2), 0);
    EXPECT_EQ(psamSlot, 0x11);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x14, kPowerOn), at(0x11, kPowerOn), at(0x11, selectionOf(2)),
                                                at(0x11, "00 C0 00 00 13")}));
}

TEST_F(FindAndOpenPsam, FallsBackFromASlotNumberThatIsNoPsamSlot) {
    reader()->insert(0x11, Psam::withApplications({2}));
    psamSlot = 0x05;  // refused by the reader layer: nothing is sent
    EXPECT_EQ(findAndOpenPSAM(handle, 1), 0);
    EXPECT_EQ(psamSlot, 0x11);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x11, kPowerOn)}));
}

TEST_F(FindAndOpenPsam, NoPsam) {
    // Slot 0x11 empty: tried twice (as the current slot, then as the
    // fallback).
    EXPECT_EQ(findAndOpenPSAM(handle, 2), -2201);
    EXPECT_EQ(psamSlot, 0x11);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x11, kPowerOn), at(0x11, kPowerOn)}));
}

TEST_F(FindAndOpenPsam, OnlySlot11IsTheFallback) {
    // A PSAM in slot 0x12 is not searched for.
    reader()->insert(0x12, Psam::withApplications({2}));
    psamSlot = 0x14;
    EXPECT_EQ(findAndOpenPSAM(handle, 2), -2201);
    EXPECT_EQ(psamSlot, 0x11);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x14, kPowerOn), at(0x11, kPowerOn)}));
}

TEST_F(FindAndOpenPsam, PowerOnErrorsOfThePsamSlot) {
    shortTimeout();
    // Wrong card type in 0x13 and an unanswered power-on in 0x11.
    reader()->insert(0x13, Psam::withApplications({2}));
    reader()->insert(0x11, Psam::withApplications({2}));
    psamSlot = 0x13;
    reader()->replyNextWith(Reader::split(0x18, hex("FF 12")));
    reader()->muteNext();
    EXPECT_EQ(findAndOpenPSAM(handle, 2), -2201);
    EXPECT_EQ(seen(), (std::vector<std::string>{at(0x13, kPowerOn), at(0x11, kPowerOn), at(0x11, kPsamStatus)}));
}

TEST_F(FindAndOpenPsam, HandleNotOpen) {
    reader()->insert(0x11, Psam::withApplications({2}));
    ICC_Reader_Close(handle);
    EXPECT_EQ(findAndOpenPSAM(handle, 2), -2201);
    EXPECT_TRUE(seen().empty());
}

}  // namespace
}  // namespace sessiontest
