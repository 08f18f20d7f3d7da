// SPDX-License-Identifier: MIT
// What every HSM-assisted step shares: the state kept between the steps,
// the challenge and the external authentication with the module's
// cryptogram, and the opening and closing of a step.
#include <cstdio>
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

unsigned char mKeys[kHsmKeyRefSize];
int mAuthType;
char inParaBuffer1[kHsmKeptRequestSize];
unsigned char des[kHsmCardAnswerSize];
unsigned char mATR[kHsmAtrSize];
int mATRLen;

namespace {

constexpr unsigned kChallenge = 8;
constexpr unsigned kExternalAuthHeader = 5;

}  // namespace

long checkHSMKey(char *key) {
    return key && strnlen(key, kHsmCryptogramDigits + 1) == kHsmCryptogramDigits ? 0 : kErrArgument;
}

long HsmExterAuthStep1(long handle, char *random) {
    if (!random) return kErrArgument;
    unsigned char r1[kChallenge], r2[kChallenge];
    long r = getChallenge(handle, r1);
    if (r == 0) r = getChallenge(handle, r2);
    if (r != 0) return r;
    memcpy(random, r2, kChallenge);
    memcpy(random + kChallenge, r1, kChallenge);
    return 0;
}

long HsmExterAuthStep2(long handle, unsigned char keyId, unsigned char *part1, unsigned char *part2, char *) {
    if (!part1 || !part2) return kErrArgument;
    unsigned char cmd[kExternalAuthHeader + 2 * kChallenge] = {0x00, 0x82, 0x00, keyId, 2 * kChallenge};
    memcpy(cmd + kExternalAuthHeader, part1, kChallenge);
    memcpy(cmd + kExternalAuthHeader + kChallenge, part2, kChallenge);
    unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, nullptr, 0, nullptr);
    return sw == 0x9000 ? 0 : apduErrTanslation(sw);
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

bool hsmHexField(const char *text, unsigned digits) {
    return text && strnlen(text, digits + 1) == digits && checkHexNumber(text) == 0;
}

void hsmPackAlgorithm(char *text, int *count) {
    char field[16];
    int n = snprintf(field, sizeof field, "%02x", m_usercardAlg);
    packForResponse(reinterpret_cast<unsigned char *>(field), n, text, count);
}

void hsmPackKeyAddress(unsigned keyAddress, char *text, int *count) {
    char field[8];
    int n = snprintf(field, sizeof field, "%04X", keyAddress & 0xFFFF);
    packForResponse(reinterpret_cast<unsigned char *>(field), n, text, count);
}

void hsmPackHex(const unsigned char *bytes, unsigned n, char *text, int *count) {
    char field[2 * kHsmChallengeSize + 1];
    if (n > kHsmChallengeSize) n = kHsmChallengeSize;
    BinToCHex(field, reinterpret_cast<const char *>(bytes), static_cast<int>(n));
    packForResponse(reinterpret_cast<unsigned char *>(field), static_cast<int>(2 * n), text, count);
}

// ---------------------------------------------------------------------------
// Step 1
// ---------------------------------------------------------------------------

long hsmCheckStep1(int iType, char *cardInfo, bool namesCard, HsmCardInfo *fields, char *out) {
    fields->rows[0][0] = fields->rows[1][0] = '\0';
    if (namesCard && cardInfo) unpackFromReceive(cardInfo, fields->rows, 2);
    long r = checkCardType(iType);
    if (r == 0 && (!out || (namesCard && !acceptableCardInfo(cardInfo)))) r = kErrArgument;
    if (r != 0) getErrorInf(static_cast<int>(r), out);
    return r;
}

long hsmOpenCard(int iType, bool versionRequired, char *out, long *handle) {
    long h = ICC_Reader_Open("USB1");
    if (h < 0) {
        getErrorInf(static_cast<int>(kErrReader), out);
        return kErrReader;
    }
    *handle = h;
    int alg = kDefaultAlgorithm;
    char version[5] = {};
    long r = findAndOpenCard(h, iType);
    if (r == 0) r = selectSSSE(h, &alg, version, versionRequired);
    return r == 0 ? 0 : hsmFail(h, r, out);
}

long hsmIdentify(long handle, HsmCardInfo *fields, char *out) {
    long r = checkCardInfo(handle, fields->cardId(), fields->cardNo());
    return r == 0 ? 0 : hsmFail(handle, r, out);
}

long hsmStep1Card(int iType, char *cardInfo, bool versionRequired, char *out, long *handle) {
    HsmCardInfo fields;
    long r = hsmCheckStep1(iType, cardInfo, true, &fields, out);
    if (r == 0) r = hsmOpenCard(iType, versionRequired, out, handle);
    if (r == 0) r = hsmIdentify(*handle, &fields, out);
    return r;
}

void hsmChallengeText(const unsigned char *random, unsigned keyAddress, char *out) {
    char text[64];
    int count = 0;
    hsmPackAlgorithm(text, &count);
    hsmPackKeyAddress(keyAddress, text, &count);
    hsmPackHex(random, kChallenge, text, &count);
    hsmPackHex(random + kChallenge, kChallenge, text, &count);
    text[count] = '\0';
    memcpy(out, text, static_cast<size_t>(count) + 1);
}

long hsmChallengeBlock(long handle, unsigned keyAddress, char *out) {
    unsigned char random[kHsmChallengeSize];
    long r = HsmExterAuthStep1(handle, reinterpret_cast<char *>(random));
    if (r != 0) return hsmFail(handle, r, out);
    hsmChallengeText(random, keyAddress, out);
    return 0;
}

long hsmStep1Done(const char *name, long handle, const char *out) {
    mHreader = handle;
    logOutPara(name, 0, out);
    return 0;
}

// ---------------------------------------------------------------------------
// Later steps
// ---------------------------------------------------------------------------

long hsmSequence(long *handle, char *out) {
    *handle = mHreader;
    if (mHreader != kErrReader) return 0;
    getErrorInf(static_cast<int>(kErrReader), out);
    return kErrReader;
}

long hsmFail(long handle, long code, char *out) {
    getErrorInf(static_cast<int>(code), out);
    closeReader(handle);
    return code;
}

long hsmCheckCryptogram(char *cryptogram) {
    // A cryptogram that is not hexadecimal is refused too: sent on, it
    // would cost the card key one of its tries.
    long r = checkHSMKey(cryptogram);
    if (r == 0 && !hsmHexField(cryptogram, kHsmCryptogramDigits)) r = kErrArgument;
    return r;
}

long hsmAuthenticate(long handle, char *cryptogram, char *out) {
    long r = hsmCheckCryptogram(cryptogram);
    if (r != 0) return hsmFail(handle, r, out);
    unsigned char bytes[kHsmCryptogramDigits / 2];
    CHexToBin(reinterpret_cast<char *>(bytes), cryptogram, kHsmCryptogramDigits);
    r = HsmExterAuthStep2(handle, mKeys[0], bytes, bytes + kChallenge, out);
    return r == 0 ? 0 : hsmFail(handle, r, out);
}
