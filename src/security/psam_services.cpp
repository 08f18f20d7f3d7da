// SPDX-License-Identifier: MIT
// The PSAM services: every cryptogram and MAC that the holder's card must
// accept is computed by the PSAM with a key diversified from the card's
// diversification data.  What happens here is everything around the
// PSAM's arithmetic: which PSAM application to select, which key level to
// try and when to fall back, whether the PSAM's region allows that level,
// padding, block sizes and folding of 16-byte results.
#include <cstring>

#include "errors/errors.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

namespace {

const unsigned char kSelectTerminalFile[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x16};
const unsigned char kReadTerminalNumber[5] = {0x00, 0xB0, 0x00, 0x00, 0x06};
const unsigned char kSelectDF01[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0xDF, 0x01};

// SELECT by DF name of "sx2.sh.社会保障"; the digit after "sx" is set to the
// algorithm (the Chinese in GB18030).
const unsigned char kSelectPsamApplication[20] = {
    0x00, 0xA4, 0x04, 0x00, 0x0F,
    's',  'x',  '2',  '.',  's', 'h', '.',
    0xC9, 0xE7, 0xBB, 0xE1, 0xB1, 0xA3, 0xD5, 0xCF,  // 社会保障
};
constexpr int kAlgorithmDigit = 7;

// The reader passes PSAM commands of up to 255 bytes, header included.
constexpr unsigned kMaxLc = 250;
constexpr unsigned kHeader = 5;
constexpr unsigned kMaxLevel = kDivDataSize / 8;  // levels that the diversification data covers
constexpr unsigned kSwKeyMissing = 0x6A88;
constexpr unsigned kMinMac = 4;  // callers send at least the first 4 MAC bytes

// How a service prepares the PSAM.
struct Preparation {
    // PSAM application: 0 none, 2 or 3 that of the algorithm.
    int application;
    // Read the terminal number and check the key level against the region,
    // and fall back one level while the PSAM lacks the key.
    bool checked;
    // Failures are returned as the PSAM's status word itself rather than
    // as translated error codes.
    bool rawStatus;
};

long failure(const Preparation &p, unsigned int sw) {
    return p.rawStatus ? static_cast<long>(sw) : apduErrTanslation(sw);
}

// The command buffer of one call: header, then up to kMaxLc data bytes.
struct Command {
    unsigned char bytes[kHeader + kMaxLc];
    unsigned len;
};

void startCommand(Command *c, unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2) {
    memset(c->bytes, 0, sizeof c->bytes);
    c->bytes[0] = cla;
    c->bytes[1] = ins;
    c->bytes[2] = p1;
    c->bytes[3] = p2;
    c->len = kHeader;
}

// Appends data; the caller has made sure that it fits.
void append(Command *c, const unsigned char *data, unsigned n) {
    if (n) memcpy(c->bytes + c->len, data, n);
    c->len += n;
    c->bytes[4] = static_cast<unsigned char>(c->len - kHeader);
}

unsigned int send(long handle, const Command &c, unsigned char *rsp, unsigned capacity, unsigned *rspLen) {
    return exchange(handle, psamSlot, c.bytes, c.len, rsp, capacity, rspLen);
}

// The terminal number from the PSAM's file 0016: six zero bytes when the
// file cannot be selected.  Returns 0 or the failure of the read.
long readTerminalNumber(long handle, const Preparation &p, unsigned char *number) {
    memset(number, 0, kTerminalNumberSize);
    unsigned int sw = exchange(handle, psamSlot, kSelectTerminalFile, sizeof kSelectTerminalFile, nullptr, 0, nullptr);
    if (sw != 0x9000) return 0;
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    sw = exchange(handle, psamSlot, kReadTerminalNumber, sizeof kReadTerminalNumber, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return failure(p, sw);
    memcpy(number, rsp, len < kTerminalNumberSize ? len : kTerminalNumberSize);
    return 0;
}

// Powers the PSAM, selects its application and DF01, and initialises the
// key of type keyType and version keyVersion with the first 8 * level bytes
// of divData and randomLen bytes of randomData.
long preparePsam(long handle, const Preparation &p, unsigned char keyType, unsigned char keyVersion,
                 const unsigned char *divData, const unsigned char *randomData, unsigned randomLen) {
    unsigned level = keyType >> 5;
    // The diversification data holds three levels; a higher one would be
    // refused by the region check, and is refused here before anything
    // is sent when there is no check.
    if (level > kMaxLevel && !p.checked) return kErrKeyLevel;
    if (level != 0) {
        unsigned sendable = level > kMaxLevel ? kMaxLevel : level;
        if (!divData || (randomLen && !randomData) || randomLen > kMaxLc - 8 * sendable) return kErrArgument;
    }

    unsigned int sw = powerOnCommand(handle, psamSlot, nullptr, 0, nullptr);
    if (sw != 0x9000) return failure(p, sw);

    if (p.application == 2 || p.application == 3) {
        unsigned char select[sizeof kSelectPsamApplication];
        memcpy(select, kSelectPsamApplication, sizeof select);
        select[kAlgorithmDigit] = static_cast<unsigned char>('0' + p.application);
        sw = exchange(handle, psamSlot, select, sizeof select, nullptr, 0, nullptr);
        if (sw != 0x9000) return kErrPsamApplication;
    }

    unsigned char terminal[kTerminalNumberSize] = {};
    if (p.checked) {
        long r = readTerminalNumber(handle, p, terminal);
        if (r != 0) return r;
    }

    sw = exchange(handle, psamSlot, kSelectDF01, sizeof kSelectDF01, nullptr, 0, nullptr);
    if (sw != 0x9000) return failure(p, sw);

    while (level != 0) {
        if (p.checked) {
            int r = VerifyKeyLevel(static_cast<unsigned char>(level), usrCardCityCOde, terminal);
            if (r != 0) return r;
        }
        Command c;
        unsigned char p1 = p.checked ? static_cast<unsigned char>((level << 5) | (keyType & 0x1F)) : keyType;
        startCommand(&c, 0xBF, 0xDE, p1, keyVersion);
        append(&c, divData, 8 * level);
        append(&c, randomData, randomLen);
        sw = send(handle, c, nullptr, 0, nullptr);
        if (sw == 0x9000) break;
        if (sw == kSwKeyMissing && p.checked) {
            // The PSAM lacks the key at this level: try the next lower one.
            if (level == 1) return kErrKeyLevel;
            --level;
            continue;
        }
        return failure(p, sw);
    }
    return 0;
}

// Encryption after the preparation.
long encrypt(long handle, const Preparation &p, unsigned char keyType, unsigned char keyVersion,
             const unsigned char *divData, const unsigned char *data, unsigned char dataLen,
             unsigned char *out, unsigned int *outLen, const unsigned char *randomData, unsigned randomLen) {
    if (!data || dataLen == 0 || dataLen > kMaxLc || !out || !outLen) return kErrArgument;
    long r = preparePsam(handle, p, keyType, keyVersion, divData, randomData, randomLen);
    if (r != 0) return r;
    Command c;
    startCommand(&c, 0x80, 0xFA, 0x00, 0x00);
    append(&c, data, dataLen);
    unsigned char rsp[kPsamAnswerSize];
    unsigned int len = 0;
    unsigned int sw = send(handle, c, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return failure(p, sw);
    memcpy(out, rsp, len);
    *outLen = len;
    return 0;
}

// Data padded with 80 and zero bytes to a multiple of the block size;
// returns the padded length, or 0 when block and padded data do not fit
// one command.
unsigned pad(const unsigned char *data, long dataLen, unsigned block, unsigned char *padded) {
    if (dataLen < 0 || (dataLen > 0 && !data)) return 0;
    unsigned n = static_cast<unsigned>(dataLen > static_cast<long>(kMaxLc) ? kMaxLc : dataLen);
    if (static_cast<long>(n) != dataLen) return 0;
    unsigned total = (n + 1 + block - 1) / block * block;
    if (block + total > kMaxLc) return 0;
    memset(padded, 0, kMaxLc);
    if (n) memcpy(padded, data, n);
    padded[n] = 0x80;
    return total;
}

// The MAC after padding and preparation: initial value of `block` bytes.
// mac receives exactly the MAC: the PSAM's answer as it came (4 to
// kMacBufferSize bytes), or its 8 folded bytes when fold is set; nothing
// past that is written, so a caller that sized mac for the PSAM's 4- or
// 8-byte MAC is safe.
long computeMac(long handle, const Preparation &p, unsigned block, bool fold, unsigned char keyType,
                unsigned char keyVersion, const unsigned char *divData, const unsigned char *iv,
                const unsigned char *data, long dataLen, unsigned char *mac, const unsigned char *randomData,
                unsigned randomLen) {
    if (!iv || !mac) return kErrArgument;
    unsigned char padded[kMaxLc];
    unsigned paddedLen = pad(data, dataLen, block, padded);
    if (paddedLen == 0) return kErrArgument;
    long r = preparePsam(handle, p, keyType, keyVersion, divData, randomData, randomLen);
    if (r != 0) return r;

    Command c;
    startCommand(&c, 0x80, 0xFA, 0x05, 0x00);
    append(&c, iv, block);
    append(&c, padded, paddedLen);
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = send(handle, c, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return failure(p, sw);
    // A MAC shorter than callers use, or longer than the buffer, or a
    // 16-byte one that cannot be folded, is not a MAC.
    if (len < kMinMac || len > kMacBufferSize || (fold && len < 16))
        return p.rawStatus ? static_cast<long>(kSwExchangeFailed) : malformedAnswer();
    if (fold) {
        for (int i = 0; i < 8; i++) mac[i] = rsp[i] ^ rsp[i + 8];
    } else {
        memcpy(mac, rsp, len);
    }
    return 0;
}

}  // namespace

unsigned char usrCardCityCOde[3] = {0, 0, 0};

int VerifyKeyLevel(unsigned char level, unsigned char *cityCode, unsigned char *terminalNumber) {
    if (!cityCode || !terminalNumber) return static_cast<int>(kErrKeyLevel);
    switch (level) {
    case 1:
        return memcmp(cityCode, terminalNumber, 3) == 0 ? 0 : static_cast<int>(kErrKeyLevel);
    case 2:
        return cityCode[0] == terminalNumber[0] ? 0 : static_cast<int>(kErrKeyLevel);
    case 3:
        return 0;
    default:
        return static_cast<int>(kErrKeyLevel);
    }
}

long PSAMDes(long handle, unsigned char keyType, unsigned char keyVersion, unsigned char *divData,
             unsigned char divLen, unsigned char *data, unsigned char dataLen, unsigned char *out,
             unsigned int *outLen, unsigned char *randomData, unsigned int randomLen) {
    (void)divLen;  // the key level decides how much is sent
    Preparation p{m_usercardAlg, true, false};
    return encrypt(handle, p, keyType, keyVersion, divData, data, dataLen, out, outLen, randomData, randomLen);
}

long PSAMMAC(long handle, unsigned char keyType, unsigned char keyVersion, unsigned char *divData,
             unsigned char divLen, unsigned char *iv, unsigned char *data, long dataLen, unsigned char *mac,
             unsigned char *randomData, unsigned int randomLen) {
    (void)divLen;
    unsigned block = blockSizeFor(m_usercardAlg);
    // With 16-byte blocks the random data is always 16 bytes: what the
    // caller gave, cut or filled with zero bytes (a challenge of 8 bytes
    // followed by zeros), never read past the randomLen bytes it holds.
    unsigned char random16[16] = {};
    if (block == 16) {
        if (randomData) memcpy(random16, randomData, randomLen < 16 ? randomLen : 16);
        randomData = random16;
        randomLen = 16;
    }
    Preparation p{m_usercardAlg, true, false};
    return computeMac(handle, p, block, block == 16, keyType, keyVersion, divData, iv, data, dataLen, mac,
                      randomData, randomLen);
}

long kestrel::sec::challengeCryptogram(long handle, unsigned char keyType, unsigned char keyVersion,
                                       unsigned char *divData, unsigned char divLen, unsigned char *r1,
                                       unsigned char *r2, unsigned char *cryptogram) {
    const unsigned block = blockSizeFor(m_usercardAlg);
    unsigned char c1[16] = {}, c2[16] = {};
    long r = getChallenge(handle, c1);
    if (r != 0) return r;
    r = getChallenge(handle, c2);
    if (r != 0) return r;

    unsigned char e[kPsamAnswerSize] = {};
    unsigned int eLen = 0;
    r = PSAMDes(handle, keyType, keyVersion, divData, divLen, c1, static_cast<unsigned char>(block), e, &eLen,
                c2, block);
    if (r != 0) return r;
    // A cryptogram shorter than a block would be partly made of zeros.
    if (eLen < block) return malformedAnswer();
    if (block == 16)
        for (int i = 0; i < 8; i++) e[i] ^= e[i + 8];
    memcpy(r1, c1, 8);
    memcpy(r2, c2, 8);
    memcpy(cryptogram, e, 8);
    return 0;
}

long PSAMExterAuth(long handle, unsigned char kid, unsigned char keyType, unsigned char keyVersion,
                   unsigned char *divData, unsigned char divLen) {
    unsigned char r1[8], r2[8], e[8];
    long r = challengeCryptogram(handle, keyType, keyVersion, divData, divLen, r1, r2, e);
    if (r != 0) return r;

    unsigned char cmd[21] = {0x00, 0x82, 0x00, kid, 0x10};
    memcpy(cmd + 5, e, 8);
    memcpy(cmd + 13, r1, 8);
    unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, nullptr, 0, nullptr);
    return sw == 0x9000 ? 0 : apduErrTanslation(sw);
}

long selectEF(long handle, unsigned char *efId) {
    if (!efId) return kErrArgument;
    unsigned char cmd[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, efId[0], efId[1]};
    unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, nullptr, 0, nullptr);
    return sw == 0x9000 ? 0 : apduErrTanslation(sw);
}

long selectDFEF(long handle, unsigned char *dfId, unsigned char *efId) {
    if (!dfId || !efId) return kErrArgument;
    if (dfId[1] != 0) {
        unsigned char cmd[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, dfId[0], dfId[1]};
        unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, nullptr, 0, nullptr);
        if (sw != 0x9000) return apduErrTanslation(sw);
    }
    return selectEF(handle, efId);
}

extern "C" {

long PSAMDes2(long handle, int keyType, int keyVersion, unsigned char *divData, int divLen,
              unsigned char *data, int dataLen, unsigned char *out, unsigned int *outLen,
              unsigned char *randomData, unsigned int randomLen) {
    (void)divLen;
    if (dataLen < 0 || dataLen > static_cast<int>(kMaxLc)) return kErrArgument;
    Preparation p{0, false, true};
    return encrypt(handle, p, static_cast<unsigned char>(keyType), static_cast<unsigned char>(keyVersion), divData,
                   data, static_cast<unsigned char>(dataLen), out, outLen, randomData, randomLen);
}

long PSAMMAC2(long handle, int keyType, int keyVersion, unsigned char *divData, int divLen, unsigned char *iv,
              unsigned char *data, long dataLen, unsigned char *mac, unsigned char *randomData,
              unsigned int randomLen) {
    (void)divLen;
    Preparation p{3, false, true};
    return computeMac(handle, p, 8, false, static_cast<unsigned char>(keyType), static_cast<unsigned char>(keyVersion),
                      divData, iv, data, dataLen, mac, randomData, randomLen);
}

}  // extern "C"
