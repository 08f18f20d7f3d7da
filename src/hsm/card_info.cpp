// SPDX-License-Identifier: MIT
// The card identity check: the host names a card by its identification
// code and card number, and an operation acts on the card in the reader
// only when both are that card's.
#include <cstring>

#include "errors/errors.h"
#include "hsm/hsm.h"
#include "kestrel.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

namespace {

const unsigned char kReadCardNumber[5] = {0x00, 0xB2, 0x07, 0x04, 0x0B};
constexpr unsigned kRecordHeader = 2;  // tag and length before the value

}  // namespace

bool acceptableCardInfo(const char *cardInfo) {
    if (!cardInfo || findcharNum(cardInfo, '|') != 2) return false;
    const char *first = strchr(cardInfo, '|');
    const char *second = strchr(first + 1, '|');
    return first - cardInfo < KESTREL_ROW_SIZE && second - first - 1 < KESTREL_ROW_SIZE;
}

long checkCardInfo(long handle, char *cardId, char *cardNo) {
    if (!cardId || !cardNo) return kErrArgument;
    unsigned int sw = selectEF05(handle);
    if (sw != 0x9000) return apduErrTanslation(sw);
    unsigned char id[kCardIdSize];
    long r = readCardId(handle, id);
    if (r != 0) return r;

    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    sw = exchange(handle, cardSlot, kReadCardNumber, sizeof kReadCardNumber, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    // A shorter record leaves zero bytes, which end the number.
    char number[kCardNumberSize + 1] = {};
    if (len > kRecordHeader) {
        unsigned n = len - kRecordHeader;
        memcpy(number, rsp + kRecordHeader, n < kCardNumberSize ? n : kCardNumberSize);
    }

    char idText[2 * kCardIdSize + 1];
    BinToCHex(idText, reinterpret_cast<const char *>(id), static_cast<int>(kCardIdSize));
    if (strcmp(idText, cardId) != 0 || strcmp(number, cardNo) != 0) return kErrCardMismatch;
    return 0;
}
