/* SPDX-License-Identifier: MIT */
// The cryptography of the virtual PSAM and the virtual cards.
//
// How a real PSAM diversifies its keys and derives working keys is its
// maker's secret; the virtual ones follow this scheme, and the cards hold
// the keys that it yields, so that a card accepts exactly the cryptograms
// of a PSAM that holds the right master key.
//
// Ciphers.  Keys are 16 bytes.  Algorithm 1 is two-key triple DES
// (DES-EDE, ECB) on 8-byte blocks; algorithms 2 and 3 are SM4 (ECB) on
// 16-byte blocks.  B is the block size.
//
// Diversification by one 8-byte factor D (~D is D with every bit flipped):
//     3DES:  K' = E_K(D) || E_K(~D)
//     SM4:   K' = E_K(D || ~D)
//
// Levels.  A card's diversification data is 24 bytes, three factors: bytes
// 0-7 belong to the card itself (the end of its answer to reset), 8-15 to
// its city, 16-23 to its province.  A PSAM key of level n is a master key
// that still needs n factors: the card key is reached by diversifying with
// factor n-1 first, down to factor 0.  So the widest region goes first,
// and a PSAM that holds the same key one level lower (the master already
// diversified by the wider region) reaches the same card key with one
// factor fewer.
//
// Working key from the random data R (B bytes; no random data: the card
// key itself):
//     3DES:  S = E_K(R) || E_K(~R)
//     SM4:   S = E_K(R)
//
// Services of the PSAM, under the working key S:
//     encryption: E_S in ECB over the data (a multiple of B bytes);
//     MAC:        CBC-MAC over the data with the initial value I:
//                 X0 = I, Xi = E_S(Xi-1 xor Di), the MAC is the last X.
//
// Authentication.  With the challenge R and the data D (8 bytes each,
// padded with zeros to B), the cryptogram is E_S(D) under the working key
// of R, folded to 8 bytes when B is 16 (the XOR of the two halves).  The
// card checks EXTERNAL AUTHENTICATE this way with its own last challenge
// as R, and answers INTERNAL AUTHENTICATE (R2, R1) with R = R2, D = R1.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "bytes.h"

namespace vr {

enum class Cipher { Tdes, Sm4 };

// Algorithm indicator of a card (1, 2, 3) to its cipher; anything but 2
// and 3 is treated like 1.
Cipher cipherOfAlgorithm(int algorithm);
size_t blockSize(Cipher c);

// Single-block operations, ECB over whole blocks.  The key is 16 bytes and
// the data a multiple of the block size (both abort otherwise: callers
// check lengths that come from commands first).
Bytes encryptEcb(Cipher c, const Bytes &key, const Bytes &data);
Bytes decryptEcb(Cipher c, const Bytes &key, const Bytes &data);

Bytes diversify(Cipher c, const Bytes &key, const uint8_t *factor8);
// The card key from a master key of the given level and the card's
// diversification data (at least 8 * level bytes).
Bytes deriveCardKey(Cipher c, const Bytes &master, int level, const Bytes &divData);
// The working key from a card key and the random data (empty or B bytes).
Bytes workingKey(Cipher c, const Bytes &cardKey, const Bytes &random);
Bytes cbcMac(Cipher c, const Bytes &key, const Bytes &iv, const Bytes &data);
// XOR of the two halves of a 16-byte result; 8-byte results unchanged.
Bytes fold(const Bytes &result);
// Zero bytes appended (or bytes dropped) up to n bytes.
Bytes padTo(Bytes b, size_t n);
// ISO/IEC 9797-1 padding method 2: 80, then zeros up to a multiple of B.
Bytes padIso(Bytes data, size_t blockSize);

// The authentication cryptogram of the card key for challenge and data.
Bytes authCryptogram(Cipher c, const Bytes &cardKey, const Bytes &challenge, const Bytes &data);

// The card's 24 bytes of diversification data: the last 8 bytes of its
// answer to reset, then the city and province texts built from the first
// bytes of its identification code (region 33 keeps only its first four
// digits, followed by "00").
Bytes diversificationData(const Bytes &atr, const Bytes &identificationCode);

// A PSAM key reference: the type byte (top 3 bits the diversification
// level, low 5 bits the key type) and the version byte.
struct KeyRef {
    uint8_t typeByte = 0;
    uint8_t version = 0;
    int level() const { return typeByte >> 5; }
    uint8_t type() const { return typeByte & 0x1F; }
};

struct MasterKey {
    int level = 0;
    Bytes value;  // 16 bytes
};

// The master keys of one issuer, by key type (low 5 bits) and version.
// A PSAM holds them as they are; a card holds the keys derived from them.
class KeySet {
public:
    // Adds or replaces the key of ref's type and version, at ref's level.
    void set(KeyRef ref, Bytes value);
    // Adds the key of ref from the seed unless one of its type and version
    // is there already.  The value is the first 16 bytes of
    // SHA-256("kestrel-vr-key" || seed || type || version).
    void addFromSeed(const std::string &seed, KeyRef ref);
    // The key of that type and version, or null.
    const MasterKey *find(uint8_t type, uint8_t version) const;
    // The same key held one level lower: diversified by the factor of its
    // top level (for PSAMs that sit below the key's owner).
    void lowerLevel(uint8_t type, uint8_t version, Cipher c, const Bytes &divData);
    void remove(uint8_t type, uint8_t version) { keys_.erase({type, version}); }
    const std::map<std::pair<uint8_t, uint8_t>, MasterKey> &all() const { return keys_; }

private:
    std::map<std::pair<uint8_t, uint8_t>, MasterKey> keys_;
};

// The card key for a reference, from a key set; empty when the set lacks
// the key.  Uses the master's own level.
Bytes cardKeyFor(const KeySet &keys, Cipher c, KeyRef ref, const Bytes &divData);

}  // namespace vr
