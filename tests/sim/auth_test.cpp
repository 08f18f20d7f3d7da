// SPDX-License-Identifier: MIT
// Card and PSAM together: the cryptograms that a PSAM computes for a
// card's diversification data are the ones the card accepts, and nothing
// else is.
#include "sim_test_util.h"

using namespace vr;

namespace simtest {
namespace {

struct Pair {
    std::shared_ptr<SsCard> card;
    std::shared_ptr<Psam> psam;
};

Pair makePair(int version, int algorithm, const std::string &seed = "test") {
    Pair p{std::make_shared<SsCard>(version, algorithm), Psam::withApplications({2, 3})};
    pairWithPsam(*p.card, *p.psam, keysFromSeed(seed, *p.card));
    return p;
}

// The terminal's part of an external authentication up to the command:
// two challenges from the card, the cryptogram of the first from the PSAM
// under the second.
struct Attempt {
    Bytes r1, r2, cryptogram;
};

Attempt prepare(Pair &p, KeyRef ref, const Bytes &divData) {
    Attempt a;
    a.r1 = dataOf(transact(*p.card, "00 84 00 00 08"));
    a.r2 = dataOf(transact(*p.card, "00 84 00 00 08"));
    PsamSession s{*p.psam, p.card->algorithm()};
    a.cryptogram = s.cryptogram(ref, divData, a.r1, a.r2);
    return a;
}

void selectApplication(SsCard &card) {
    card.reset();
    ASSERT_EQ(swOf(transact(card, selectByName(ssApplicationName()))), 0x9000);
}

TEST(Authentication, PsamCryptogramAcceptedForEveryAlgorithmAndKeyLevel) {
    struct Case {
        int version, algorithm;
        uint8_t kid;
        KeyRef ref;
    } cases[] = {
        {2, 1, 0x04, {0x48, 0x12}}, {2, 2, 0x04, {0x48, 0x12}}, {2, 3, 0x04, {0x48, 0x12}},
        {2, 2, 0x0A, {0x67, 0x0A}}, {3, 1, 0x0A, {0x67, 0x0A}}, {1, 3, 0x06, {0x48, 0x10}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << c.version << " algorithm " << c.algorithm << " key "
                                        << int(c.kid));
        Pair p = makePair(c.version, c.algorithm);
        selectApplication(*p.card);
        Attempt a = prepare(p, c.ref, p.card->diversificationData());
        ASSERT_EQ(a.cryptogram.size(), 8u);
        EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(c.kid, a.cryptogram, a.r1))), 0x9000);
    }
}

TEST(Authentication, VersionThreeHolderFileOpensWithKey0A) {
    Pair p = makePair(3, 2);
    selectApplication(*p.card);
    ASSERT_EQ(swOf(transact(*p.card, "00 A4 00 00 02 EF 06")), 0x9000);
    EXPECT_EQ(swOf(transact(*p.card, "00 B2 01 04 14")), 0x6982);
    Attempt a = prepare(p, {0x67, 0x0A}, p.card->diversificationData());
    ASSERT_EQ(swOf(p.card->transmit(externalAuthenticate(0x0A, a.cryptogram, a.r1))), 0x9000);
    EXPECT_EQ(swOf(transact(*p.card, "00 B2 01 04 14")), 0x9000);
    // A power-on forgets the authentication.
    selectApplication(*p.card);
    transact(*p.card, "00 A4 00 00 02 EF 06");
    EXPECT_EQ(swOf(transact(*p.card, "00 B2 01 04 14")), 0x6982);
}

// Each way of getting the cryptogram wrong costs a try; the card counts
// down 63C2, 63C1, 63C0 and then refuses even the right one with 6983.
TEST(Authentication, WrongCryptogramsCountDownAndBlockTheKey) {
    struct Case {
        const char *what;
        std::function<Attempt(Pair &)> attempt;
    } cases[] = {
        {"another key version",
         [](Pair &p) { return prepare(p, {0x48, 0x10}, p.card->diversificationData()); }},
        {"another key type",
         [](Pair &p) {
             p.psam->keys().addFromSeed("test", {0x49, 0x12});
             return prepare(p, {0x49, 0x12}, p.card->diversificationData());
         }},
        {"the master key at another level",
         [](Pair &p) {
             p.psam->keys().set({0x68, 0x12}, p.psam->keys().find(0x08, 0x12)->value);
             return prepare(p, {0x68, 0x12}, p.card->diversificationData());
         }},
        {"another card's diversification data",
         [](Pair &p) {
             Bytes div = p.card->diversificationData();
             div[7] ^= 0x01;
             return prepare(p, {0x48, 0x12}, div);
         }},
        {"the challenges swapped",
         [](Pair &p) {
             Attempt a = prepare(p, {0x48, 0x12}, p.card->diversificationData());
             PsamSession s{*p.psam, p.card->algorithm()};
             a.cryptogram = s.cryptogram({0x48, 0x12}, p.card->diversificationData(), a.r2, a.r1);
             a.r1 = a.r2;
             return a;
         }},
        {"the PSAM of another issuer",
         [](Pair &p) {
             p.psam->setKeys(keysFromSeed("other", *p.card));
             return prepare(p, {0x48, 0x12}, p.card->diversificationData());
         }},
    };
    for (int algorithm : {1, 2}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << ", algorithm " << algorithm);
            Pair p = makePair(2, algorithm);
            selectApplication(*p.card);
            for (int left = 2; left >= 0; left--) {
                Attempt a = c.attempt(p);
                ASSERT_EQ(a.cryptogram.size(), 8u);
                EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, a.cryptogram, a.r1))), 0x63C0 | left);
            }
            Pair rightPsam{p.card, makePair(2, algorithm).psam};
            Attempt right = prepare(rightPsam, {0x48, 0x12}, p.card->diversificationData());
            EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, right.cryptogram, right.r1))), 0x6983);
            // Blocked for good: a power-on does not give tries back.
            selectApplication(*p.card);
            right = prepare(rightPsam, {0x48, 0x12}, p.card->diversificationData());
            EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, right.cryptogram, right.r1))), 0x6983);
        }
    }
}

TEST(Authentication, SuccessRestoresTheTries) {
    Pair p = makePair(2, 2);
    selectApplication(*p.card);
    Attempt wrong = prepare(p, {0x48, 0x10}, p.card->diversificationData());
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, wrong.cryptogram, wrong.r1))), 0x63C2);
    Attempt right = prepare(p, {0x48, 0x12}, p.card->diversificationData());
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, right.cryptogram, right.r1))), 0x9000);
    EXPECT_EQ(p.card->externalKey(0, 0x04)->tries, 3);
}

TEST(Authentication, ChallengeServesOneAuthentication) {
    Pair p = makePair(2, 2);
    selectApplication(*p.card);
    // No challenge since the power-on.
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, Bytes(8), Bytes(8)))), 0x6984);
    Attempt a = prepare(p, {0x48, 0x12}, p.card->diversificationData());
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, a.cryptogram, a.r1))), 0x9000);
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, a.cryptogram, a.r1))), 0x6984);
    EXPECT_EQ(p.card->externalKey(0, 0x04)->tries, 3);
}

TEST(Authentication, CommandShapesAndUnknownKeys) {
    Pair p = makePair(2, 2);
    selectApplication(*p.card);
    transact(*p.card, "00 84 00 00 08");
    EXPECT_EQ(swOf(p.card->transmit(hex("00 82 00 04 08 00 00 00 00 00 00 00 00"))), 0x6700);
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x55, Bytes(8), Bytes(8)))), 0x6A88);
    // Keys of a sub-application live there: DF01's key 83 is not the
    // application's.
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x83, Bytes(8), Bytes(8)))), 0x6A88);
    ASSERT_EQ(swOf(transact(*p.card, "00 A4 00 00 02 DF 01")), 0x9000);
    Attempt a = prepare(p, {0x48, 0x42}, p.card->diversificationData());
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x83, a.cryptogram, a.r1))), 0x9000);
    EXPECT_EQ(swOf(transact(*p.card, "00 84 00 00 07")), 0x6700);
}

TEST(Authentication, InternalAuthenticationMatchesThePsam) {
    for (int algorithm : {1, 2, 3}) {
        SCOPED_TRACE(algorithm);
        Pair p = makePair(2, algorithm);
        selectApplication(*p.card);
        Bytes r1 = hex("01 02 03 04 05 06 07 08"), r2 = hex("A1 A2 A3 A4 A5 A6 A7 A8");
        Bytes answer = transact(*p.card, concat(concat(hex("00 88 00 00 10"), r2), r1));
        ASSERT_EQ(swOf(answer), 0x9000);
        ASSERT_EQ(dataOf(answer).size(), 8u);
        PsamSession s{*p.psam, algorithm};
        EXPECT_EQ(dataOf(answer), s.cryptogram(p.card->internalKeyRef(), p.card->diversificationData(), r1, r2));
        // The same challenges with the roles swapped give another answer.
        Bytes swapped = transact(*p.card, concat(concat(hex("00 88 00 00 10"), r1), r2));
        EXPECT_NE(dataOf(swapped), dataOf(answer));
    }
    Pair p = makePair(2, 2);
    p.card->reset();  // no application selected: no key
    EXPECT_EQ(swOf(transact(*p.card, concat(hex("00 88 00 00 10"), Bytes(16)))), 0x6A88);
}

TEST(Psam, KeyInitialisationNeedsTheKeyAtThatLevel) {
    Pair p = makePair(2, 2);
    Bytes div = p.card->diversificationData(), random(16, 0x11);
    PsamSession s{*p.psam, 2};
    EXPECT_EQ(s.initialise({0x48, 0x12}, div, random), 0x9000);
    EXPECT_EQ(s.initialise({0x48, 0x13}, div, random), 0x6A88);  // version
    EXPECT_EQ(s.initialise({0x49, 0x12}, div, random), 0x6A88);  // type
    EXPECT_EQ(s.initialise({0x68, 0x12}, div, random), 0x6A88);  // level 3
    EXPECT_EQ(s.initialise({0x28, 0x12}, div, random), 0x6A88);  // level 1
    // The key refused leaves no working key behind.
    EXPECT_EQ(swOf(s.encrypt(Bytes(16))), 0x6985);
    // Random data of other than 0 or B bytes.
    EXPECT_EQ(s.initialise({0x48, 0x12}, div, Bytes(8)), 0x6700);
    // Without DF01 selected.
    p.psam->reset();
    EXPECT_EQ(swOf(transact(*p.psam, concat(hex("BF DE 48 12 20"), Bytes(32)))), 0x6985);
}

TEST(Psam, KeyOneLevelLowerReachesTheSameCardKey) {
    for (int algorithm : {1, 3}) {
        SCOPED_TRACE(algorithm);
        Pair p = makePair(2, algorithm);
        selectApplication(*p.card);
        Bytes div = p.card->diversificationData();
        p.psam->keys().lowerLevel(0x08, 0x12, p.card->cipher(), div);
        PsamSession s{*p.psam, algorithm};
        EXPECT_EQ(s.initialise({0x48, 0x12}, div, Bytes(s.block())), 0x6A88);
        Attempt a = prepare(p, {0x28, 0x12}, div);
        EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, a.cryptogram, a.r1))), 0x9000);
    }
}

TEST(Psam, MacIsTheCbcChainOfItsOwnEncryption) {
    for (int algorithm : {1, 2}) {
        SCOPED_TRACE(algorithm);
        Pair p = makePair(2, algorithm);
        PsamSession s{*p.psam, algorithm};
        size_t b = s.block();
        ASSERT_EQ(s.initialise({0x48, 0x09}, p.card->diversificationData(), Bytes(b, 0x5A)), 0x9000);
        Bytes data = padIso(hex("84 24 00 00 04"), b);
        ASSERT_EQ(data.size(), b);
        Bytes iv(b, 0x00);
        iv[0] = 0x42;
        // One block: E(IV xor D).
        Bytes x = iv;
        for (size_t i = 0; i < b; i++) x[i] ^= data[i];
        Bytes mac = s.mac(iv, data);
        ASSERT_EQ(swOf(mac), 0x9000);
        EXPECT_EQ(dataOf(mac), dataOf(s.encrypt(x)));
        // Two blocks: E(E(IV xor D1) xor D2).
        Bytes two = padIso(Bytes(b, 0x33), b);
        ASSERT_EQ(two.size(), 2 * b);
        Bytes c1 = iv;
        for (size_t i = 0; i < b; i++) c1[i] ^= two[i];
        c1 = dataOf(s.encrypt(c1));
        for (size_t i = 0; i < b; i++) c1[i] ^= two[b + i];
        EXPECT_EQ(dataOf(s.mac(iv, two)), dataOf(s.encrypt(c1)));
        // Data not in whole blocks, a missing initial value, other P1.
        EXPECT_EQ(swOf(s.mac(iv, Bytes(b - 1))), 0x6700);
        EXPECT_EQ(swOf(transact(*p.psam, concat(Bytes{0x80, 0xFA, 0x05, 0x00, static_cast<uint8_t>(b)}, Bytes(b)))),
                  0x6700);
        EXPECT_EQ(swOf(transact(*p.psam, concat(Bytes{0x80, 0xFA, 0x01, 0x00, static_cast<uint8_t>(b)}, Bytes(b)))),
                  0x6A86);
        EXPECT_EQ(swOf(s.encrypt(Bytes(b + 1))), 0x6700);
    }
}

TEST(Psam, AlgorithmOneWorksFromTheMasterFileOnly) {
    // A card of algorithm 1 is served with triple DES from the master
    // file; the same key reached through an SM4 application gives another
    // (longer) cryptogram that the card refuses.
    Pair p = makePair(2, 1);
    selectApplication(*p.card);
    Bytes r1 = dataOf(transact(*p.card, "00 84 00 00 08"));
    Bytes r2 = dataOf(transact(*p.card, "00 84 00 00 08"));
    PsamSession sm4{*p.psam, 2};
    Bytes wrong = sm4.cryptogram({0x48, 0x12}, p.card->diversificationData(), r1, r2);
    EXPECT_EQ(swOf(p.card->transmit(externalAuthenticate(0x04, wrong, r1))), 0x63C2);
}

TEST(Psam, TerminalFile) {
    auto psam = std::make_shared<Psam>();
    psam->setTerminalNumber(hex("43 01 05 00 00 07"));
    psam->reset();
    EXPECT_EQ(swOf(transact(*psam, "00 B0 00 00 06")), 0x6986);  // nothing selected
    EXPECT_EQ(transact(*psam, "00 A4 00 00 02 00 16"), hex("90 00"));
    EXPECT_EQ(transact(*psam, "00 B0 00 00 06"), hex("43 01 05 00 00 07 90 00"));
    EXPECT_EQ(transact(*psam, "00 B0 00 04 06"), hex("00 07 90 00"));  // 6C02, then the rest
    EXPECT_EQ(swOf(transact(*psam, "00 B0 00 06 01")), 0x6B00);
    // By short file identifier, without selecting first.
    psam->reset();
    EXPECT_EQ(transact(*psam, "00 B0 96 00 06"), hex("43 01 05 00 00 07 90 00"));
    psam->setTerminalNumber(std::nullopt);
    psam->reset();
    EXPECT_EQ(swOf(transact(*psam, "00 A4 00 00 02 00 16")), 0x6A82);
    EXPECT_EQ(swOf(transact(*psam, "00 B0 96 00 06")), 0x6A82);
}

}  // namespace
}  // namespace simtest
