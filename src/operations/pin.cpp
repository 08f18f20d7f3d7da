// SPDX-License-Identifier: MIT
// The holder's PIN: verification and change are plain card commands;
// reload and unblock are protected by the terminal's keys: the terminal
// authenticates itself to the card with the PSAM, the new PIN travels
// encrypted by the PSAM, and each command carries a PSAM-computed MAC.
#include "operations/pin.h"

#include <cstdio>
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "reader/keypad.h"
#include "security/security.h"
#include "session/session.h"

using kestrel::kInitialPin;
using namespace kestrel::sec;

const char kestrel::kInitialPin[] = "480913";

namespace {

constexpr unsigned kOutSize = KESTREL_PIN_OUT_SIZE;
constexpr unsigned kHeader = 5;
// Bytes of the longest keypad PIN, and characters of the longest PIN a
// caller may pass to VerifyDefaultPIN.
constexpr unsigned kMaxPinBytes = (kPinTextSize - 1) / 2;
constexpr unsigned kMaxDefaultPin = 100;

const char kVerifiedText[] = "PIN\xD0\xA3\xD1\xE9\xB3\xC9\xB9\xA6";  // PIN校验成功
// PIN校验失败，剩余次数%d次
const char kVerifyRefused[] = "PIN\xD0\xA3\xD1\xE9\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xA3\xD3\xE0\xB4\xCE\xCA\xFD%d\xB4\xCE";
const char kChangedText[] = "PIN\xD0\xDE\xB8\xC4\xB3\xC9\xB9\xA6";  // PIN修改成功
// PIN修改失败，剩余次数%d次
const char kChangeRefused[] = "PIN\xD0\xDE\xB8\xC4\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xA3\xD3\xE0\xB4\xCE\xCA\xFD%d\xB4\xCE";

constexpr unsigned int kSwPinBlocked = 0x6983;

// Reload and unblock: the terminal authenticates itself with the card's
// key 06 (PSAM key 48 10); the PIN block and the MACs use PSAM key 48 09.
constexpr unsigned char kAuthKid = 0x06;
constexpr unsigned char kAuthKeyType = 0x48;
constexpr unsigned char kAuthKeyVersion = 0x10;
constexpr unsigned char kPinKeyType = 0x48;
constexpr unsigned char kPinKeyVersion = 0x09;
constexpr unsigned kMacSent = 4;  // the card checks the first 4 MAC bytes
constexpr unsigned kMaxBlock = 16;

int fail(long code, char *out) {
    getErrorInf(static_cast<int>(code), out);
    return static_cast<int>(code);
}

void copyText(char *out, const char *text, size_t max) {
    size_t n = strnlen(text, max - 1);
    memcpy(out, text, n);
    out[n] = '\0';
}

// The card's answer to VERIFY or CHANGE PIN.
int pinAnswer(unsigned int sw, const char *okText, const char *refusedFormat, char *out) {
    if (sw == 0x9000) {
        copyText(out, okText, kOutSize);
        return 0;
    }
    if (sw == kSwPinBlocked) return fail(kErrPinBlocked, out);
    if ((sw & 0xFFF0) == 0x63C0) {
        // The call log gets the refusal's line; the caller the tries left.
        getErrorInf(static_cast<int>(kErrWrongPin), out);
        snprintf(out, kOutSize, refusedFormat, static_cast<int>(sw & 0x0F));
        return static_cast<int>(kErrWrongPin);
    }
    return fail(apduErrTanslation(sw), out);
}

// Packs a PIN text of an even number of digits (or digits and a final F)
// two to a byte into dst; returns the number of bytes.
unsigned packPin(const char *pin, unsigned char *dst) {
    unsigned n = static_cast<unsigned>(strlen(pin)) / 2;
    CHexToBin(reinterpret_cast<char *>(dst), pin, 2 * n);
    return n;
}

int sendVerify(long handle, const char *pin, const char *okText, char *out) {
    unsigned char cmd[kHeader + kMaxDefaultPin / 2] = {0x00, 0x20, 0x00, 0x00};
    unsigned n = packPin(pin, cmd + kHeader);
    cmd[4] = static_cast<unsigned char>(n);
    unsigned int sw = exchange(handle, cardSlot, cmd, kHeader + n, nullptr, 0, nullptr);
    return pinAnswer(sw, okText, kVerifyRefused, out);
}

// One keypad entry into pin; a failure leaves the keypad's text in out.
int keypadEntry(long handle, char *pin, int prompt, char *out) {
    int r = IputPIN(handle, pin, prompt);
    if (r != 0) copyText(out, pin, kPinTextSize);
    return r;
}

// A PIN text that a caller passes: n digits, the last of an even count
// possibly the padding F; an odd count gets the F.  False for anything
// else.  text holds kMaxDefaultPin + 1 bytes.
bool callerPinText(const char *pin, unsigned n, char *text) {
    if (!pin || n == 0 || n > kMaxDefaultPin || strnlen(pin, n) < n) return false;
    for (unsigned i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(pin[i]);
        bool padding = i == n - 1 && n % 2 == 0 && (c == 'F' || c == 'f');
        if (!padding && (c < '0' || c > '9')) return false;
        text[i] = padding ? 'F' : static_cast<char>(c);
    }
    if (n % 2) text[n++] = 'F';
    text[n] = '\0';
    return true;
}

// The card's diversification data, and the terminal authenticated with
// the card's key 06.
long authenticateTerminal(long handle, unsigned char *div, unsigned char *divLen) {
    unsigned char atr[kAtrBufferSize];
    unsigned int atrLen = 0;
    long r = GetCardDivIndex(handle, atr, &atrLen, div, divLen);
    if (r != 0) return r;
    return PSAMExterAuth(handle, kAuthKid, kAuthKeyType, kAuthKeyVersion, div, *divLen);
}

// Sends a reload or unblock command: empty text on success.
int sendProtected(long handle, const unsigned char *cmd, unsigned len, char *out) {
    unsigned int sw = exchange(handle, cardSlot, cmd, len, nullptr, 0, nullptr);
    if (sw != 0x9000) return fail(apduErrTanslation(sw), out);
    out[0] = '\0';
    return 0;
}

}  // namespace

int newPinTwice(long handle, char *pin, char *out) {
    char again[kPinTextSize];
    int r = keypadEntry(handle, pin, kPromptNewPin, out);
    if (r == 0) r = keypadEntry(handle, again, kPromptNewPinAgain, out);
    if (r != 0) return r;
    if (strcmp(pin, again) != 0) return fail(kErrPinRepeat, out);
    return 0;
}

int VerifyPIN(long handle, char *out) {
    if (!out) return static_cast<int>(kErrArgument);
    char pin[kPinTextSize];
    int r = keypadEntry(handle, pin, kPromptPin, out);
    if (r != 0) return r;
    return sendVerify(handle, pin, kVerifiedText, out);
}

int VerifyPIN_JiaoYi(long handle, char *out) {
    if (!out) return static_cast<int>(kErrArgument);
    char pin[kPinTextSize];
    int r = keypadEntry(handle, pin, kPromptPin, out);
    if (r != 0) return r;
    if (strcmp(pin, kInitialPin) == 0) return fail(kErrInitialPinTrade, out);
    return sendVerify(handle, pin, kVerifiedText, out);
}

int VerifyDefaultPIN(long handle, char pinLen, char *pin, char *out) {
    if (!out) return static_cast<int>(kErrArgument);
    // char is signed on some machines and unsigned on others: the length
    // is read as one unsigned byte, so that every value above 100 is
    // refused alike.
    char text[kMaxDefaultPin + 1];
    if (!callerPinText(pin, static_cast<unsigned char>(pinLen), text)) return fail(kErrArgument, out);
    return sendVerify(handle, text, "", out);
}

int changePIN(long handle, char *out) {
    if (!out) return static_cast<int>(kErrArgument);
    char oldPin[kPinTextSize], newPin[kPinTextSize];
    int r = keypadEntry(handle, oldPin, kPromptOldPin, out);
    if (r == 0) r = newPinTwice(handle, newPin, out);
    if (r != 0) return r;
    if (strcmp(newPin, kInitialPin) == 0) return fail(kErrInitialPinChange, out);

    unsigned char cmd[kHeader + 2 * kMaxPinBytes + 1] = {0x80, 0x5E, 0x01, 0x00};
    unsigned len = kHeader;
    len += packPin(oldPin, cmd + len);
    cmd[len++] = 0xFF;
    len += packPin(newPin, cmd + len);
    cmd[4] = static_cast<unsigned char>(len - kHeader);
    unsigned int sw = exchange(handle, cardSlot, cmd, len, nullptr, 0, nullptr);
    return pinAnswer(sw, kChangedText, kChangeRefused, out);
}

int ReloadPin(long handle, char *out) {
    if (!out) return static_cast<int>(kErrArgument);
    unsigned char div[kDivDataSize] = {};
    unsigned char divLen = 0;
    long r = authenticateTerminal(handle, div, &divLen);
    if (r != 0) return fail(r, out);
    char pin[kPinTextSize];
    int e = newPinTwice(handle, pin, out);
    if (e != 0) return e;

    // The PIN block: its length in bytes, the packed PIN, 80, zeros.  It is
    // encrypted whole, in one or two blocks of 8 bytes or one of 16: a PIN
    // of 7 bytes makes 9, which take two blocks of 8.
    const unsigned block = blockSizeFor(m_usercardAlg);
    unsigned char pinBlock[kMaxBlock] = {};
    unsigned n = packPin(pin, pinBlock + 1);
    pinBlock[0] = static_cast<unsigned char>(n);
    pinBlock[n + 1] = 0x80;
    const unsigned encrypted = block == 8 && n + 2 <= 8 ? 8 : 16;

    // The challenge, followed by zeros up to a block, is the random data of
    // both PSAM services.
    unsigned char challenge[kMaxBlock] = {};
    r = getChallenge(handle, challenge);
    if (r != 0) return fail(r, out);
    unsigned char enc[kPsamAnswerSize];
    unsigned int encLen = 0;
    r = PSAMDes(handle, kPinKeyType, kPinKeyVersion, div, divLen, pinBlock, static_cast<unsigned char>(encrypted),
                enc, &encLen, challenge, block);
    if (r != 0) return fail(r, out);
    // An answer of another length is not this block encrypted.
    if (encLen != encrypted) return fail(malformedAnswer(), out);

    unsigned char cmd[kHeader + kMaxBlock + kMacSent] = {0x84, 0x24, 0x00, 0x01,
                                                         static_cast<unsigned char>(encrypted + kMacSent)};
    memcpy(cmd + kHeader, enc, encrypted);
    unsigned char iv[kMaxBlock] = {};
    unsigned char mac[kMacBufferSize] = {};
    r = PSAMMAC(handle, kPinKeyType, kPinKeyVersion, div, divLen, iv, cmd, kHeader + encrypted, mac, challenge,
                block);
    if (r != 0) return fail(r, out);
    memcpy(cmd + kHeader + encrypted, mac, kMacSent);
    return sendProtected(handle, cmd, kHeader + encrypted + kMacSent, out);
}

long UnblockPin(long handle, char *out) {
    if (!out) return kErrArgument;
    const unsigned block = blockSizeFor(m_usercardAlg);
    unsigned char div[kDivDataSize] = {};
    unsigned char divLen = 0;
    long r = authenticateTerminal(handle, div, &divLen);
    if (r != 0) return fail(r, out);

    // A challenge of a whole block: the random data of the MAC.
    const unsigned char getBlockChallenge[kHeader] = {0x00, 0x84, 0x00, 0x00, static_cast<unsigned char>(block)};
    unsigned char challenge[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = exchange(handle, cardSlot, getBlockChallenge, sizeof getBlockChallenge, challenge,
                               sizeof challenge, &len);
    if (sw != 0x9000) return fail(apduErrTanslation(sw), out);
    if (len < block) return fail(malformedAnswer(), out);

    unsigned char cmd[kHeader + kMacSent] = {0x84, 0x24, 0x00, 0x00, kMacSent};
    unsigned char iv[kMaxBlock] = {};
    unsigned char mac[kMacBufferSize] = {};
    r = PSAMMAC(handle, kPinKeyType, kPinKeyVersion, div, divLen, iv, cmd, kHeader, mac, challenge, block);
    if (r != 0) return fail(r, out);
    memcpy(cmd + kHeader, mac, kMacSent);
    return sendProtected(handle, cmd, sizeof cmd, out);
}

namespace {

using PinOperation = long (*)(long handle, char *out);

// The course of an exported PIN call: the in-para line, the argument
// checks, the reader, the card with its application and (for a call that
// names its card) the PSAM and the identity check, the operation, the
// close.  The operation writes its own text.
long pinCall(const char *name, int iType, char *cardInfo, bool namesCard, PinOperation op, char *out) {
    if (namesCard)
        logInPara(name, iType, cardInfo);
    else
        logInPara(name, iType);
    char fields[2][KESTREL_ROW_SIZE];
    fields[0][0] = fields[1][0] = '\0';
    if (namesCard && cardInfo) unpackFromReceive(cardInfo, fields, 2);
    long r = checkCardType(iType);
    if (r == 0 && (!out || (namesCard && !acceptableCardInfo(cardInfo)))) r = kErrArgument;
    if (r != 0) {
        getErrorInf(static_cast<int>(r), out);
        return r;
    }
    long handle = ICC_Reader_Open("USB1");
    if (handle < 0) {
        getErrorInf(static_cast<int>(kErrReader), out);
        return kErrReader;
    }

    int alg = kDefaultAlgorithm;
    char version[5] = {};
    r = findAndOpenCard(handle, iType);
    if (r == 0) r = selectSSSE(handle, &alg, version, false);
    if (r == 0 && namesCard) r = findAndOpenPSAM(handle, alg);
    if (r == 0 && namesCard) r = checkCardInfo(handle, fields[0], fields[1]);
    if (r != 0) {
        getErrorInf(static_cast<int>(r), out);
        closeReader(handle);
        return r;
    }
    r = op(handle, out);
    closeReader(handle);
    return r;
}

long verifyOperation(long handle, char *out) { return VerifyPIN(handle, out); }
long changeOperation(long handle, char *out) { return changePIN(handle, out); }
long reloadOperation(long handle, char *out) { return ReloadPin(handle, out); }

}  // namespace

extern "C" {

long iVerifyPIN(int iType, char *out) { return pinCall("iVerifyPIN", iType, nullptr, false, verifyOperation, out); }

long iChangePIN(int iType, char *out) { return pinCall("iChangePIN", iType, nullptr, false, changeOperation, out); }

long iReloadPIN(int iType, char *cardInfo, char *out) {
    return pinCall("iReloadPIN", iType, cardInfo, true, reloadOperation, out);
}

long iUnblockPIN(int iType, char *cardInfo, char *out) {
    return pinCall("iUnblockPIN", iType, cardInfo, true, UnblockPin, out);
}

}  // extern "C"
