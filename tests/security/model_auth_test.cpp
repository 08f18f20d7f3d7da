// SPDX-License-Identifier: MIT
// The PSAM services and card authentication against the modelled card and
// PSAM, whose cryptography agrees when they hold the same master keys:
// external and internal authentication with real cryptograms, a card that
// rejects the terminal, the fallback to a lower key level, the region
// check, and MACs checked against the model's own arithmetic.
#include "cards/psam.h"
#include "crypto.h"
#include "profile.h"
#include "security_fixture.h"

namespace sectest {
namespace {

class ModelAuth : public SecurityTest {
protected:
    // Puts the card and PSAM of a profile into the reader (the PSAM built
    // from `keys` when given) and prepares the card as an operation does:
    // card search, application selection, diversification data.
    void start(const vr::Profile &p, const vr::KeySet *psamKeys = nullptr) {
        card = vr::buildCard(p);
        keys = vr::buildKeys(p, card.get());
        psam = vr::buildPsam(p.psams.at(0), psamKeys ? *psamKeys : keys);
        {
            auto r = reader();
            r->insert(0x01, card);
            r->insert(p.psams.at(0).slot, psam);
        }
        ASSERT_EQ(findAndOpenCard(handle, 1), 0);
        int alg = kDefaultAlgorithm;
        char version[5] = {};
        ASSERT_EQ(selectSSSE(handle, &alg, version, true), 0);
        unsigned char atr[kAtrBufferSize];
        unsigned int atrLen = 0;
        unsigned char divLen = 0;
        ASSERT_EQ(GetCardDivIndex(handle, atr, &atrLen, div, &divLen), 0);
        ASSERT_EQ(Bytes(div, div + 24), card->diversificationData());
        clearTrace();
    }
    // An external-authentication key of the application and its reference.
    uint8_t someKid() {
        for (int kid = 1; kid < 256; kid++) {
            vr::CardKey *k = card->externalKey(0, static_cast<uint8_t>(kid));
            if (k && !k->value.empty() && k->ref.level() >= 2) return static_cast<uint8_t>(kid);
        }
        ADD_FAILURE() << "no external-authentication key of level 2 or more";
        return 0;
    }
    long exterAuth(uint8_t kid) {
        vr::KeyRef ref = card->externalKey(0, kid)->ref;
        return PSAMExterAuth(handle, kid, ref.typeByte, ref.version, div, 24);
    }
    static size_t count(const Seq &s, const std::string &prefix) {
        return static_cast<size_t>(std::count_if(s.begin(), s.end(),
                                                 [&](const std::string &c) { return c.rfind(prefix, 0) == 0; }));
    }

    std::shared_ptr<vr::SsCard> card;
    std::shared_ptr<vr::Psam> psam;
    vr::KeySet keys;
    unsigned char div[kAtrBufferSize] = {};
};

TEST_F(ModelAuth, ExternalAndInternalAuthenticationWithAlgorithm2) {
    start(vr::demoProfile());
    uint8_t kid = someKid();
    EXPECT_EQ(exterAuth(kid), 0);
    EXPECT_EQ(count(seen(), at(1, "00 82 00")), 1u);
    EXPECT_EQ(InternalAuth(handle, 0x48, 0x01, div, 24), 0);
}

TEST_F(ModelAuth, ExternalAndInternalAuthenticationWithAlgorithm1) {
    vr::Profile p;
    std::string error;
    ASSERT_TRUE(vr::parseProfile(vr::demoProfileText(), "demo", &p, &error)) << error;
    p.card->algorithm = 1;  // triple DES, 8-byte blocks
    start(p);
    ASSERT_EQ(m_usercardAlg, 1);
    EXPECT_EQ(exterAuth(someKid()), 0);
    EXPECT_EQ(InternalAuth(handle, 0x48, 0x01, div, 24), 0);
    // No PSAM application is selected for algorithm 1.
    EXPECT_EQ(count(seen(), at(0x11, "00 A4 04 00")), 0u);
}

TEST_F(ModelAuth, CardRejectsATerminalWithOtherKeys) {
    vr::Profile other = vr::demoProfile();
    other.keys.seed = "another issuer";
    auto stranger = vr::buildCard(other);
    vr::KeySet otherKeys = vr::buildKeys(other, stranger.get());
    start(vr::demoProfile(), &otherKeys);
    uint8_t kid = someKid();
    // Each refusal costs a try, and the code tells how many are left.
    EXPECT_EQ(exterAuth(kid), -25536);
    EXPECT_EQ(exterAuth(kid), -25537);
    EXPECT_EQ(card->externalKey(0, kid)->tries, 1);
    // Nor does the card's internal authentication match this PSAM.
    EXPECT_EQ(InternalAuth(handle, 0x48, 0x01, div, 24), -21);
}

TEST_F(ModelAuth, PsamHoldingTheKeyOneLevelLowerIsReachedByTheFallback) {
    vr::Profile p = vr::demoProfile();
    auto c = vr::buildCard(p);
    vr::KeySet lower = vr::buildKeys(p, c.get());
    // Every key of level 2, held by this PSAM at level 1 for the card's city.
    const vr::KeySet original = lower;
    for (const auto &k : original.all())
        if (k.second.level == 2) lower.lowerLevel(k.first.first, k.first.second, vr::Cipher::Sm4, c->diversificationData());
    start(p, &lower);
    uint8_t kid = someKid();
    vr::KeyRef ref = card->externalKey(0, kid)->ref;
    ASSERT_EQ(ref.level(), 2);
    EXPECT_EQ(exterAuth(kid), 0);
    char p1[8];
    snprintf(p1, sizeof p1, "%02X", (ref.typeByte & 0x1F) | 0x20);
    Seq s = seen();
    EXPECT_EQ(count(s, at(0x11, "BF DE")), 2u);
    EXPECT_EQ(count(s, at(0x11, std::string("BF DE ") + p1)), 1u);
}

TEST_F(ModelAuth, RegionCheckRefusesAPsamOfAnotherProvince) {
    vr::Profile p = vr::demoProfile();
    p.psams.at(0).terminalNumber = hex("44 01 05 00 00 07");
    start(p);
    EXPECT_EQ(exterAuth(someKid()), -24);
    Seq s = seen();
    EXPECT_EQ(count(s, at(0x11, "BF DE")), 0u);
    EXPECT_EQ(count(s, at(1, "00 82")), 0u);
}

TEST_F(ModelAuth, MacAgreesWithThePsamArithmetic) {
    start(vr::demoProfile());
    const vr::KeyRef ref{0x48, 0x12};
    Bytes random = hex("01 02 03 04 05 06 07 08");
    Bytes iv(16, 0), data = hex("84 24 00 00 04");
    unsigned char mac[kMacBufferSize];
    Bytes r = random;
    ASSERT_EQ(PSAMMAC(handle, ref.typeByte, ref.version, div, 24, iv.data(), data.data(), 5, mac, r.data(), 8), 0);
    // The PSAM's CBC-MAC under the working key of the 16-byte random data,
    // over the data padded with 80 to 16 bytes, folded to 8.
    Bytes key = vr::cardKeyFor(keys, vr::Cipher::Sm4, ref, card->diversificationData());
    ASSERT_FALSE(key.empty());
    Bytes expected = vr::fold(vr::cbcMac(vr::Cipher::Sm4, vr::workingKey(vr::Cipher::Sm4, key, vr::padTo(random, 16)),
                                         iv, vr::padIso(data, 16)));
    EXPECT_EQ(Bytes(mac, mac + 8), expected);
}

}  // namespace
}  // namespace sectest
