// SPDX-License-Identifier: MIT
// The ciphers against published test values, and the properties of the
// key scheme that card and PSAM rely on.
#include "crypto.h"

#include <gtest/gtest.h>

using namespace vr;

namespace {

TEST(Crypto, CiphersMatchPublishedValues) {
    struct Case {
        Cipher cipher;
        const char *key, *plain, *encrypted;
    } cases[] = {
        // Two-key triple DES with both halves equal is single DES.
        {Cipher::Tdes, "0123456789ABCDEF 0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
        {Cipher::Sm4, "0123456789ABCDEFFEDCBA9876543210", "0123456789ABCDEFFEDCBA9876543210",
         "681EDF34D206965E86B3E94F536E4246"},
    };
    for (const Case &c : cases) EXPECT_EQ(encryptEcb(c.cipher, hex(c.key), hex(c.plain)), hex(c.encrypted));
}

TEST(Crypto, PaddingAndFolding) {
    struct Case {
        size_t length, block, padded;
    } cases[] = {{0, 8, 8}, {5, 8, 8}, {7, 8, 8}, {8, 8, 16}, {15, 16, 16}, {16, 16, 32}, {5, 16, 16}};
    for (const Case &c : cases) {
        Bytes p = padIso(Bytes(c.length, 0x11), c.block);
        ASSERT_EQ(p.size(), c.padded) << c.length << "/" << c.block;
        EXPECT_EQ(p[c.length], 0x80);
        for (size_t i = c.length + 1; i < p.size(); i++) EXPECT_EQ(p[i], 0x00);
    }
    EXPECT_EQ(fold(hex("01 02 03 04 05 06 07 08 10 20 30 40 50 60 70 80")), hex("11 22 33 44 55 66 77 88"));
    EXPECT_EQ(fold(hex("01 02 03 04 05 06 07 08")), hex("01 02 03 04 05 06 07 08"));
}

TEST(Crypto, CardKeysDependOnEveryFactorOfTheirLevel) {
    Bytes master = hex("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");
    Bytes div = diversificationData(hex("3B 00 00 00 00 01 02 03 04 05 06 07 08"),
                                    hex("43 01 05 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    for (Cipher c : {Cipher::Tdes, Cipher::Sm4}) {
        for (int level = 1; level <= 3; level++) {
            Bytes key = deriveCardKey(c, master, level, div);
            ASSERT_EQ(key.size(), 16u);
            for (size_t i = 0; i < 24; i++) {
                Bytes other = div;
                other[i] ^= 0x01;
                // Only the factors of the key's level count.
                EXPECT_EQ(deriveCardKey(c, master, level, other) == key, i >= static_cast<size_t>(8 * level))
                    << "level " << level << " byte " << i;
            }
        }
        // The key one level lower, diversified by the widest factor, gives
        // the same card key.
        KeySet keys;
        keys.set({0x68, 0x01}, master);
        Bytes top = cardKeyFor(keys, c, {0x68, 0x01}, div);
        keys.lowerLevel(0x08, 0x01, c, div);
        ASSERT_EQ(keys.find(0x08, 0x01)->level, 2);
        EXPECT_EQ(cardKeyFor(keys, c, {0x48, 0x01}, div), top);
        keys.lowerLevel(0x08, 0x01, c, div);
        EXPECT_EQ(cardKeyFor(keys, c, {0x28, 0x01}, div), top);
    }
}

TEST(Crypto, SeededKeysDifferByTypeVersionAndSeed) {
    KeySet a, b;
    a.addFromSeed("s", {0x48, 0x12});
    a.addFromSeed("s", {0x49, 0x12});
    a.addFromSeed("s", {0x48, 0x13});
    a.addFromSeed("s", {0x68, 0x12});  // same type and version: kept as it was
    b.addFromSeed("t", {0x48, 0x12});
    EXPECT_EQ(a.all().size(), 3u);
    EXPECT_EQ(a.find(0x08, 0x12)->level, 2);
    EXPECT_NE(a.find(0x08, 0x12)->value, a.find(0x09, 0x12)->value);
    EXPECT_NE(a.find(0x08, 0x12)->value, a.find(0x08, 0x13)->value);
    EXPECT_NE(a.find(0x08, 0x12)->value, b.find(0x08, 0x12)->value);
}

}  // namespace
