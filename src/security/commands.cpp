// SPDX-License-Identifier: MIT
// The card and reader commands that the security layer and the operations
// share: power-on, application and EF05 selection, the card
// identification code, challenges and the reader's device number.
#include <cstring>

#include "errors/errors.h"
#include "security/security.h"
#include "session/session.h"

namespace kestrel::sec {

namespace {

const unsigned char kPowerOn[5] = {0x00, 0x12, 0x00, 0x00, 0x00};

// SELECT by DF name of "sx1.sh.社会保障" (the Chinese in GB18030).
const unsigned char kSelectApplication[20] = {
    0x00, 0xA4, 0x04, 0x00, 0x0F,
    's',  'x',  '1',  '.',  's', 'h', '.',
    0xC9, 0xE7, 0xBB, 0xE1, 0xB1, 0xA3, 0xD5, 0xCF,  // 社会保障
};

const unsigned char kSelectEF05[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0xEF, 0x05};
const unsigned char kReadCardId[5] = {0x00, 0xB2, 0x01, 0x04, 0x12};
const unsigned char kGetChallenge[5] = {0x00, 0x84, 0x00, 0x00, 0x08};
const unsigned char kDeviceNumberQuery[5] = {0x00, 0x19, 0x01, 0x01, 0x14};

constexpr unsigned char kReaderSlot = 0x00;
constexpr unsigned kRecordHeader = 2;  // tag and length before a record's value
constexpr unsigned kChallengeSize = 8;

}  // namespace

unsigned int exchange(long handle, unsigned char slot, const unsigned char *cmd, unsigned int cmdLen,
                      unsigned char *rsp, unsigned int capacity, unsigned int *rspLen) {
    // The exchange may rewrite the Le of the command it is given, so it
    // works on a copy and the constant commands stay as they are.
    unsigned char command[261];
    if (cmdLen > sizeof command) return kSwExchangeFailed;
    memcpy(command, cmd, cmdLen);
    // Answers that the caller does not keep still have to land somewhere.
    unsigned char discard[kT0ResponseArea - 2];
    if (!rsp) {
        rsp = discard;
        capacity = sizeof discard;
    }
    unsigned int len = 0;
    unsigned int sw = IccExchangeT0(handle, slot, cmdLen, command, &len, rsp, capacity);
    if (rspLen) *rspLen = sw == kSwExchangeFailed ? 0 : len;
    return sw;
}

unsigned int powerOnCommand(long handle, unsigned char slot, unsigned char *atr, unsigned int capacity,
                            unsigned int *atrLen) {
    return exchange(handle, slot, kPowerOn, sizeof kPowerOn, atr, capacity, atrLen);
}

unsigned int selectApplication(long handle, unsigned char *fci, unsigned int capacity, unsigned int *fciLen) {
    return exchange(handle, cardSlot, kSelectApplication, sizeof kSelectApplication, fci, capacity, fciLen);
}

unsigned int selectEF05(long handle) {
    return exchange(handle, cardSlot, kSelectEF05, sizeof kSelectEF05, nullptr, 0, nullptr);
}

long readCardId(long handle, unsigned char *id) {
    unsigned char rsp[kT0ResponseArea];
    unsigned int len = 0;
    unsigned int sw = exchange(handle, cardSlot, kReadCardId, sizeof kReadCardId, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    if (len < kRecordHeader + kCardIdSize) return kErrVersion;
    memcpy(id, rsp + kRecordHeader, kCardIdSize);
    return 0;
}

long getChallenge(long handle, unsigned char *r) {
    unsigned char rsp[kT0ResponseArea];
    unsigned int len = 0;
    unsigned int sw = exchange(handle, cardSlot, kGetChallenge, sizeof kGetChallenge, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    // A shorter challenge would leave part of the cryptogram's input to
    // whatever the buffer held.
    if (len < kChallengeSize) return malformedAnswer();
    memcpy(r, rsp, kChallengeSize);
    return 0;
}

void readDeviceNumber(long handle, unsigned char *number) {
    memset(number, 0, kDeviceNumberSize);
    unsigned char rsp[kT0ResponseArea];
    unsigned int len = 0;
    unsigned int sw =
        exchange(handle, kReaderSlot, kDeviceNumberQuery, sizeof kDeviceNumberQuery, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return;
    memcpy(number, rsp, len < kDeviceNumberSize ? len : kDeviceNumberSize);
}

long powerAndIdentify(long handle, unsigned char *atr, unsigned int *atrLen, unsigned char *id) {
    unsigned int sw = powerOnCommand(handle, cardSlot, atr, atr ? kAtrBufferSize : 0, atrLen);
    if (sw != 0x9000) return apduErrTanslation(sw);
    unsigned char fci[kT0ResponseArea - 2];
    unsigned int fciLen = 0;
    sw = selectApplication(handle, fci, sizeof fci, &fciLen);
    if (sw != 0x9000) return apduErrTanslation(sw);
    sw = selectEF05(handle);
    if (sw != 0x9000) return apduErrTanslation(sw);
    return readCardId(handle, id);
}

long malformedAnswer() { return apduErrTanslation(kSwExchangeFailed); }

}  // namespace kestrel::sec

unsigned blockSizeFor(int alg) { return (alg == 2 || alg == 3) ? 16 : 8; }
