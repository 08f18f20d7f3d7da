// SPDX-License-Identifier: MIT
// The reader's PIN keypad: one PIN entry for the PIN operations, and the
// exported text entry of a host.  Both talk to the reader itself.
#include "reader/keypad.h"

#include <cstring>

#include "errors/errors.h"
#include "session/session.h"

namespace {

constexpr unsigned char kReaderSlot = 0x00;
constexpr unsigned kCommandSize = 8;

const unsigned char kPrepare[kCommandSize] = {0x00, 0xF8, 0x00, 0x01, 0x03, 0x00, 0x25, 0x80};
const unsigned char kReset[kCommandSize] = {0x00, 0xF9, 0x00, 0x00, 0x03, 0x1B, 0x43, 0x30};
// Entries: the last two bytes are the prompt code or the text mode.
const unsigned char kPinEntry[kCommandSize] = {0x00, 0xF9, 0x08, 0x3C, 0x03, 0x00, 0x00, 0x00};
const unsigned char kTextEntry[kCommandSize] = {0x00, 0xF9, 0x08, 0x3A, 0x03, 0x00, 0x1B, 0x00};

// "读取失败": the text of a text entry that the keypad refused.
const char kReadFailedText[] = "\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC";
constexpr long kErrReadFailed = -6;

// Sends one keypad command (built from `base` with its last two bytes set
// to hi and lo) to the reader itself.
unsigned int keypadCommand(long handle, const unsigned char *base, unsigned char hi, unsigned char lo,
                           unsigned char *rsp, unsigned int capacity, unsigned int *len) {
    unsigned char cmd[kCommandSize];
    memcpy(cmd, base, sizeof cmd);
    cmd[6] = hi;
    cmd[7] = lo;
    unsigned char discard[kT0ResponseArea - 2];
    unsigned int discardLen = 0;
    if (!rsp) {
        rsp = discard;
        capacity = sizeof discard;
        len = &discardLen;
    }
    return IccExchangeT0(handle, kReaderSlot, sizeof cmd, cmd, len, rsp, capacity);
}

unsigned int fixedCommand(long handle, const unsigned char *cmd) {
    return keypadCommand(handle, cmd, cmd[6], cmd[7], nullptr, 0, nullptr);
}

// The entry itself: 0 with the PIN text written, or the code of a failed
// entry.
int pinEntry(long handle, char *pin, int prompt) {
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = keypadCommand(handle, kPinEntry, static_cast<unsigned char>(prompt >> 8),
                                    static_cast<unsigned char>(prompt), rsp, sizeof rsp, &len);
    // 69 02: the holder did not finish before the keypad's own time-out;
    // any other refusal counts alike.
    if (sw != 0x9000) return static_cast<int>(kErrPinEntry);
    return keypadPinText(rsp, len, pin);
}

}  // namespace

int IputPIN(long handle, char *pin, int prompt) {
    if (!pin) return static_cast<int>(kErrArgument);
    if (fixedCommand(handle, kPrepare) != 0x9000 || fixedCommand(handle, kReset) != 0x9000) {
        getErrorInf(static_cast<int>(kErrPinEntry), pin);
        return static_cast<int>(kErrPinEntry);
    }
    int r = pinEntry(handle, pin, prompt);
    if (r == 0) return 0;
    // A failed entry may leave the keypad waiting: reset it for the next.
    fixedCommand(handle, kReset);
    getErrorInf(r, pin);
    return r;
}

extern "C" long iGetPassword(int mode, char *out) {
    unsigned char textMode;
    switch (mode) {
    case 1: textMode = 0x49; break;
    case 2:
    case 4: textMode = 0x45; break;
    case 3: textMode = 0x65; break;
    default: textMode = 0; break;
    }
    if (textMode == 0 || !out) {
        getErrorInf(static_cast<int>(kErrArgument), out);
        return kErrArgument;
    }
    long handle = ICC_Reader_Open("USB1");
    if (handle < 0) {
        getErrorInf(static_cast<int>(kErrReader), out);
        return kErrReader;
    }
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = keypadCommand(handle, kTextEntry, kTextEntry[6], textMode, rsp, sizeof rsp, &len);
    long r = 0;
    // An answer without its framing, or with more keys than the caller's
    // buffer holds, is no text the keypad read.
    if (sw != 0x9000 || keypadText(rsp, len, out, KESTREL_PASSWORD_SIZE) < 0) {
        memcpy(out, kReadFailedText, sizeof kReadFailedText);
        r = kErrReadFailed;
    }
    ICC_Reader_Close(handle);
    return r;
}
