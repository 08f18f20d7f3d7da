// SPDX-License-Identifier: MIT
// The basic information read: the holder's card items, the PSAM's terminal
// number and the reader's device number as one line of "|"-terminated
// fields.
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "operations/operations.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

namespace {

const unsigned char kSelectEF05[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0xEF, 0x05};
const unsigned char kSelectEF06[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0xEF, 0x06};
const unsigned char kSelectTerminalFile[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x16};
const unsigned char kReadTerminalNumber[5] = {0x00, 0xB0, 0x00, 0x00, 0x06};

// A record of the current file, read with READ RECORD (P2 04); its value
// follows the record's tag and length byte.
struct RecordRead {
    unsigned char number;
    unsigned char le;
    unsigned keep;  // value bytes kept
};
const RecordRead kVersionRecord = {0x03, 0x06, 4};
const RecordRead kIssueDateRecord = {0x05, 0x06, 4};
const RecordRead kExpiryDateRecord = {0x06, 0x06, 4};
const RecordRead kCardNumberRecord = {0x07, 0x0B, 9};
const RecordRead kSocialSecurityNumberRecord = {0x01, 0x14, 18};
const RecordRead kNameRecord = {0x02, 0x20, 30};
const RecordRead kNameExtensionRecord = {0x03, 0x20, 20};

constexpr unsigned kRecordHeader = 2;
constexpr unsigned kAtrShown = 13;
constexpr unsigned kNameSize = 50;  // name and its extension

// Reads a record and keeps up to r.keep value bytes in value, which is
// zeroed first; a shorter record leaves zeros after its value.
long readRecord(long handle, const RecordRead &r, unsigned char *value) {
    unsigned char cmd[5] = {0x00, 0xB2, r.number, 0x04, r.le};
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    memset(value, 0, r.keep);
    unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    if (len > kRecordHeader) {
        unsigned n = len - kRecordHeader;
        memcpy(value, rsp + kRecordHeader, n < r.keep ? n : r.keep);
    }
    return 0;
}

long selectFile(long handle, const unsigned char *cmd) {
    unsigned int sw = exchange(handle, cardSlot, cmd, 7, nullptr, 0, nullptr);
    return sw == 0x9000 ? 0 : apduErrTanslation(sw);
}

// The PSAM's terminal number without selecting its application: zeros
// when there is no PSAM or no terminal file.  Returns 0 or the failure of
// reading a file that could be selected.
long terminalNumber(long handle, unsigned char *number) {
    memset(number, 0, kTerminalNumberSize);
    if (powerOnCommand(handle, psamSlot, nullptr, 0, nullptr) != 0x9000) return 0;
    if (exchange(handle, psamSlot, kSelectTerminalFile, sizeof kSelectTerminalFile, nullptr, 0, nullptr) != 0x9000)
        return 0;
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = exchange(handle, psamSlot, kReadTerminalNumber, sizeof kReadTerminalNumber, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    memcpy(number, rsp, len < kTerminalNumberSize ? len : kTerminalNumberSize);
    return 0;
}

// Appends the bytes of a value up to its first NUL as one field.
void packText(const unsigned char *value, unsigned size, char *out, int *count) {
    unsigned n = static_cast<unsigned>(strnlen(reinterpret_cast<const char *>(value), size));
    packForResponse(const_cast<unsigned char *>(value), static_cast<int>(n), out, count);
}

void packHex(const unsigned char *value, unsigned size, char *out, int *count) {
    char hex[2 * kCardIdSize + 1];
    BinToCHex(hex, reinterpret_cast<const char *>(value), static_cast<int>(size));
    packForResponse(reinterpret_cast<unsigned char *>(hex), static_cast<int>(2 * size), out, count);
}

// Packed decimal digits without their trailing F nibbles.
void packCn(const unsigned char *value, unsigned size, char *out, int *count) {
    char digits[2 * 4 + 1];
    int n = cnToAsc(digits, reinterpret_cast<const char *>(value), static_cast<int>(size));
    packForResponse(reinterpret_cast<unsigned char *>(digits), n, out, count);
}

}  // namespace

long ReadBaseinf(long handle, char *out, unsigned char *atr, unsigned int atrLen) {
    if (!out || (!atr && atrLen)) return kErrArgument;
    if (atrLen > kAtrBufferSize) atrLen = kAtrBufferSize;

    unsigned char id[kCardIdSize];
    unsigned char version[4], issued[4], expires[4], cardNumber[9];
    unsigned char ssn[18], name[kNameSize];
    long r;
    if ((r = selectFile(handle, kSelectEF05)) != 0) return r;
    if ((r = readCardId(handle, id)) != 0) return r;
    if ((r = readRecord(handle, kVersionRecord, version)) != 0) return r;
    if ((r = readRecord(handle, kIssueDateRecord, issued)) != 0) return r;
    if ((r = readRecord(handle, kExpiryDateRecord, expires)) != 0) return r;
    if ((r = readRecord(handle, kCardNumberRecord, cardNumber)) != 0) return r;
    if ((r = selectFile(handle, kSelectEF06)) != 0) return r;
    if ((r = readRecord(handle, kSocialSecurityNumberRecord, ssn)) != 0) return r;
    memset(name, 0, sizeof name);
    if ((r = readRecord(handle, kNameRecord, name)) != 0) return r;
    // Cards of versions 2 and 3 continue a long name in a record of its
    // own, directly after the 30 bytes of the first.
    if (m_usercardVer == 2 || m_usercardVer == 3) {
        if ((r = readRecord(handle, kNameExtensionRecord, name + kNameRecord.keep)) != 0) return r;
    }

    unsigned char terminal[kTerminalNumberSize];
    if ((r = terminalNumber(handle, terminal)) != 0) return r;
    unsigned char device[kDeviceNumberSize];
    readDeviceNumber(handle, device);

    char text[256];
    int count = 0;
    packCn(id, 3, text, &count);
    packText(ssn, sizeof ssn, text, &count);
    packText(cardNumber, sizeof cardNumber, text, &count);
    packHex(id, kCardIdSize, text, &count);
    packText(name, sizeof name, text, &count);
    packHex(atr + (atrLen > kAtrShown ? atrLen - kAtrShown : 0), atrLen < kAtrShown ? atrLen : kAtrShown, text,
            &count);
    packText(version, sizeof version, text, &count);
    packCn(issued, sizeof issued, text, &count);
    packCn(expires, sizeof expires, text, &count);
    packHex(terminal, sizeof terminal, text, &count);
    // The device number up to its first NUL byte.  A reader that gives
    // none (the number begins with NUL) leaves the 20 bytes as they are:
    // read as a NUL-terminated string, the text then ends after the
    // terminal number's "|".
    if (device[0] == 0) packForResponse(device, sizeof device, text, &count);
    else packText(device, sizeof device, text, &count);
    text[count] = '\0';
    memcpy(out, text, static_cast<size_t>(count) + 1);
    return 0;
}

extern "C" long iReadCardBas(int iType, char *out) {
    static const char kName[] = "iReadCardBas";
    logInPara(kName, iType);
    long r = checkCardType(iType);
    if (r == 0 && !out) r = kErrArgument;
    if (r != 0) {
        getErrorInf(static_cast<int>(r), out);
        return r;
    }
    long handle = ICC_Reader_Open("USB1");
    if (handle < 0) {
        getErrorInf(-11, out);
        return -11;
    }

    int alg = kDefaultAlgorithm;
    char version[5] = {0};
    unsigned char atr[kAtrBufferSize] = {0};
    unsigned int atrLen = 0;
    unsigned char divData[kAtrBufferSize] = {0};
    unsigned char divLen = 0;
    r = findAndOpenCard(handle, iType);
    if (r == 0) r = selectSSSE(handle, &alg, version, true);
    if (r == 0) r = GetCardDivIndex(handle, atr, &atrLen, divData, &divLen);
    if (r == 0) r = ReadBaseinf(handle, out, atr, atrLen);
    if (r != 0) {
        getErrorInf(static_cast<int>(r), out);
        closeReader(handle);
        return r;
    }
    closeReader(handle);
    logOutPara(kName, out);
    return 0;
}
