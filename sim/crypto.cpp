// SPDX-License-Identifier: MIT
#include "crypto.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace vr {

namespace {

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "virtual reader crypto: %s\n", what);
    abort();
}

struct CtxFree {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};

Bytes complement(const uint8_t *b, size_t n) {
    Bytes out(b, b + n);
    for (auto &x : out) x = static_cast<uint8_t>(~x);
    return out;
}

Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

Cipher cipherOfAlgorithm(int algorithm) {
    return algorithm == 2 || algorithm == 3 ? Cipher::Sm4 : Cipher::Tdes;
}

size_t blockSize(Cipher c) { return c == Cipher::Sm4 ? 16 : 8; }

namespace {

Bytes ecb(Cipher c, const Bytes &key, const Bytes &data, bool encrypt) {
    size_t b = blockSize(c);
    if (key.size() != 16) fail("key is not 16 bytes");
    if (data.size() % b) fail("data is not a multiple of the block size");
    std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
    const EVP_CIPHER *cipher = c == Cipher::Sm4 ? EVP_sm4_ecb() : EVP_des_ede_ecb();
    if (!ctx || !cipher || !EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), nullptr, encrypt ? 1 : 0))
        fail("cipher not available");
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    Bytes out(data.size() + b);
    int n = 0, m = 0;
    if (!EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) ||
        !EVP_CipherFinal_ex(ctx.get(), out.data() + n, &m))
        fail(encrypt ? "encryption failed" : "decryption failed");
    out.resize(static_cast<size_t>(n + m));
    return out;
}

}  // namespace

Bytes encryptEcb(Cipher c, const Bytes &key, const Bytes &data) { return ecb(c, key, data, true); }

Bytes decryptEcb(Cipher c, const Bytes &key, const Bytes &data) { return ecb(c, key, data, false); }

Bytes diversify(Cipher c, const Bytes &key, const uint8_t *factor8) {
    Bytes d(factor8, factor8 + 8), nd = complement(factor8, 8);
    if (c == Cipher::Sm4) return encryptEcb(c, key, concat(d, nd));
    return concat(encryptEcb(c, key, d), encryptEcb(c, key, nd));
}

Bytes deriveCardKey(Cipher c, const Bytes &master, int level, const Bytes &divData) {
    if (level < 0 || divData.size() < static_cast<size_t>(8 * level)) fail("diversification data too short");
    Bytes k = master;
    for (int i = level - 1; i >= 0; i--) k = diversify(c, k, divData.data() + 8 * i);
    return k;
}

Bytes workingKey(Cipher c, const Bytes &cardKey, const Bytes &random) {
    if (random.empty()) return cardKey;
    if (random.size() != blockSize(c)) fail("random data is not one block");
    if (c == Cipher::Sm4) return encryptEcb(c, cardKey, random);
    return concat(encryptEcb(c, cardKey, random), encryptEcb(c, cardKey, complement(random.data(), random.size())));
}

Bytes cbcMac(Cipher c, const Bytes &key, const Bytes &iv, const Bytes &data) {
    size_t b = blockSize(c);
    if (iv.size() != b || data.size() % b) fail("MAC input is not in whole blocks");
    Bytes x = iv;
    for (size_t off = 0; off < data.size(); off += b) {
        for (size_t i = 0; i < b; i++) x[i] ^= data[off + i];
        x = encryptEcb(c, key, x);
    }
    return x;
}

Bytes fold(const Bytes &r) {
    if (r.size() != 16) return r;
    Bytes out(8);
    for (size_t i = 0; i < 8; i++) out[i] = r[i] ^ r[i + 8];
    return out;
}

Bytes padTo(Bytes b, size_t n) {
    b.resize(n, 0x00);
    return b;
}

Bytes padIso(Bytes data, size_t b) {
    data.push_back(0x80);
    while (data.size() % b) data.push_back(0x00);
    return data;
}

Bytes authCryptogram(Cipher c, const Bytes &cardKey, const Bytes &challenge, const Bytes &data) {
    size_t b = blockSize(c);
    Bytes s = workingKey(c, cardKey, padTo(challenge, b));
    return fold(encryptEcb(c, s, padTo(data, b)));
}

Bytes diversificationData(const Bytes &atr, const Bytes &id) {
    Bytes out(8, 0x00);
    if (atr.size() >= 8) out.assign(atr.end() - 8, atr.end());
    uint8_t c0 = id.size() > 0 ? id[0] : 0, c1 = id.size() > 1 ? id[1] : 0, c2 = id.size() > 2 ? id[2] : 0;
    char text[17];
    if (c0 == 0x33)
        snprintf(text, sizeof text, "%02X%02X00sx%02X0000sh", c0, c1, c0);
    else
        snprintf(text, sizeof text, "%02X%02X%02Xsx%02X0000sh", c0, c1, c2, c0);
    out.insert(out.end(), text, text + 16);
    return out;
}

void KeySet::set(KeyRef ref, Bytes value) {
    if (value.size() != 16) fail("master key is not 16 bytes");
    keys_[{ref.type(), ref.version}] = MasterKey{ref.level(), std::move(value)};
}

void KeySet::addFromSeed(const std::string &seed, KeyRef ref) {
    if (find(ref.type(), ref.version)) return;
    std::string input = "kestrel-vr-key";
    input += seed;
    input += static_cast<char>(ref.type());
    input += static_cast<char>(ref.version);
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!EVP_Digest(input.data(), input.size(), digest, &n, EVP_sha256(), nullptr)) fail("SHA-256 failed");
    set(ref, Bytes(digest, digest + 16));
}

const MasterKey *KeySet::find(uint8_t type, uint8_t version) const {
    auto it = keys_.find({type, version});
    return it == keys_.end() ? nullptr : &it->second;
}

void KeySet::lowerLevel(uint8_t type, uint8_t version, Cipher c, const Bytes &divData) {
    auto it = keys_.find({type, version});
    if (it == keys_.end() || it->second.level < 1) return;
    MasterKey &k = it->second;
    k.level--;
    k.value = diversify(c, k.value, divData.data() + 8 * k.level);
}

Bytes cardKeyFor(const KeySet &keys, Cipher c, KeyRef ref, const Bytes &divData) {
    const MasterKey *m = keys.find(ref.type(), ref.version);
    if (!m) return {};
    return deriveCardKey(c, m->value, m->level, divData);
}

}  // namespace vr
