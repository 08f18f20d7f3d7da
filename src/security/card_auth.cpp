// SPDX-License-Identifier: MIT
// Card authentication: the diversification data from which the PSAM
// derives the card's keys, and the card's proof that it holds its key
// (internal authentication), checked by the PSAM or collected for the
// host's security module.
#include <cstdio>
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

namespace {

constexpr unsigned kAtrTail = 13;        // answer-to-reset bytes shown in texts
constexpr unsigned kAtrDivBytes = 8;     // answer-to-reset bytes in the diversification data
constexpr unsigned kChallenge = 8;
constexpr unsigned char kRegion33 = 0x33;

const char kHexDigits[] = "0123456789ABCDEF";

void putHexByte(unsigned char *dst, unsigned char b) {
    dst[0] = static_cast<unsigned char>(kHexDigits[b >> 4]);
    dst[1] = static_cast<unsigned char>(kHexDigits[b & 0x0F]);
}

// The last n bytes of the answer to reset, or all of it when shorter.
const unsigned char *atrTail(const unsigned char *atr, unsigned atrLen, unsigned n, unsigned *tailLen) {
    *tailLen = atrLen < n ? atrLen : n;
    return atr + (atrLen - *tailLen);
}

// INTERNAL AUTHENTICATE over R2 and R1; the first 8 bytes of the card's
// answer go to answer.  Returns 0, a translated status word, or -21 when
// the card's answer is too short to be a proof.
long internalAuthenticate(long handle, const unsigned char *r2, const unsigned char *r1, unsigned char *answer) {
    unsigned char cmd[21] = {0x00, 0x88, 0x00, 0x00, 0x10};
    memcpy(cmd + 5, r2, kChallenge);
    memcpy(cmd + 13, r1, kChallenge);
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    memset(answer, 0, kChallenge);
    memcpy(answer, rsp, len < kChallenge ? len : kChallenge);
    return len < kChallenge ? kErrInternalAuth : 0;
}

// Appends the hexadecimal text of n bytes as one field.
void packHex(const unsigned char *bytes, unsigned n, char *out, int *count) {
    char hex[2 * kCardIdSize + 1];
    if (n > kCardIdSize) n = kCardIdSize;
    BinToCHex(hex, reinterpret_cast<const char *>(bytes), static_cast<int>(n));
    packForResponse(reinterpret_cast<unsigned char *>(hex), static_cast<int>(2 * n), out, count);
}

}  // namespace

long GetCardDivIndex(long handle, unsigned char *atr, unsigned int *atrLen, unsigned char *divData,
                     unsigned char *divLen) {
    if (!atr || !atrLen || !divData || !divLen) return kErrArgument;
    unsigned char id[kCardIdSize];
    long r = powerAndIdentify(handle, atr, atrLen, id);
    if (r != 0) return r;

    // The last 8 bytes of the answer to reset; a shorter answer fills the
    // end of the 8 bytes, after zeros.
    memset(divData, 0, kDivDataSize);
    unsigned tailLen = 0;
    const unsigned char *tail = atrTail(atr, *atrLen, kAtrDivBytes, &tailLen);
    memcpy(divData + (kAtrDivBytes - tailLen), tail, tailLen);

    memcpy(usrCardCityCOde, id, 3);

    // City level: the whole region code, but for region 33 only its first
    // two bytes and "00"; then "sx", the province digits and "0000sh".
    unsigned char *p = divData + kAtrDivBytes;
    putHexByte(p, id[0]);
    putHexByte(p + 2, id[1]);
    if (id[0] == kRegion33) {
        p[4] = '0';
        p[5] = '0';
    } else {
        putHexByte(p + 4, id[2]);
    }
    p[6] = 's';
    p[7] = 'x';
    putHexByte(p + 8, id[0]);
    memcpy(p + 10, "0000sh", 6);
    *divLen = static_cast<unsigned char>(kDivDataSize);

    logDivIndex(divData, kDivDataSize);
    return 0;
}

long InternalAuth(long handle, unsigned char keyType, unsigned char keyVersion, unsigned char *divData,
                  unsigned char divLen) {
    unsigned char r1[kChallenge], r2[kChallenge], expected[kChallenge];
    long r = challengeCryptogram(handle, keyType, keyVersion, divData, divLen, r1, r2, expected);
    if (r != 0) return r;

    unsigned char answer[kChallenge];
    r = internalAuthenticate(handle, r2, r1, answer);
    if (r != 0) return r;
    return memcmp(answer, expected, kChallenge) == 0 ? 0 : kErrInternalAuth;
}

long readDataForInternalVerify(long handle, char *out, unsigned char *cardAnswer, unsigned char *atr,
                               int *atrLen) {
    if (!out || !cardAnswer || !atr || !atrLen) return kErrArgument;
    unsigned char id[kCardIdSize];
    unsigned int len = 0;
    long r = powerAndIdentify(handle, atr, &len, id);
    *atrLen = static_cast<int>(len);
    if (r != 0) return r;

    char text[256];
    int count = 0;
    packHex(id, 3, text, &count);
    unsigned tailLen = 0;
    const unsigned char *tail = atrTail(atr, len, kAtrTail, &tailLen);
    packHex(tail, tailLen, text, &count);
    char alg[16];
    int algLen = snprintf(alg, sizeof alg, "%02d", m_usercardAlg);
    packForResponse(reinterpret_cast<unsigned char *>(alg), algLen, text, &count);
    packHex(id, kCardIdSize, text, &count);

    unsigned char r1[kChallenge], r2[kChallenge];
    if ((r = getChallenge(handle, r1)) != 0) return r;
    if ((r = getChallenge(handle, r2)) != 0) return r;
    packHex(r2, kChallenge, text, &count);
    packHex(r1, kChallenge, text, &count);

    // An answer shorter than 8 bytes is no proof: refused as InternalAuth
    // refuses it, rather than handed on filled up with bytes the card
    // never sent.
    unsigned char answer[kChallenge];
    r = internalAuthenticate(handle, r2, r1, answer);
    if (r != 0) return r;
    memcpy(cardAnswer, answer, kChallenge);

    if (m_usercardVer == 3) {
        unsigned char r3[kChallenge], r4[kChallenge];
        if ((r = getChallenge(handle, r3)) != 0) return r;
        if ((r = getChallenge(handle, r4)) != 0) return r;
        packHex(r4, kChallenge, text, &count);
        packHex(r3, kChallenge, text, &count);
    } else {
        packForResponse(nullptr, 0, text, &count);
        packForResponse(nullptr, 0, text, &count);
    }

    // The device number's 20 bytes go to the host's module as they are
    // (20 zero bytes when the reader gives none).
    unsigned char device[kDeviceNumberSize];
    readDeviceNumber(handle, device);
    packForResponse(device, static_cast<int>(kDeviceNumberSize), text, &count);
    text[count] = '\0';
    memcpy(out, text, static_cast<size_t>(count) + 1);
    return 0;
}
