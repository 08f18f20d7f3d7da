// SPDX-License-Identifier: MIT
// The bank-card number of the card's payment application, and the
// card-type probe that tells a social-security card from other cards.
#include <cstring>

#include "errors/errors.h"
#include "othercards/bank_card.h"
#include "reader/reader.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::bank;
using kestrel::sec::exchange;
using kestrel::sec::powerOnCommand;

namespace {

constexpr unsigned char kContactSlot = 0x01;
constexpr unsigned char kContactlessSlot = 0x02;
// A handle that names no reader: closing it closes nothing.

// SELECT by name of the payment system environment "1PAY.SYS.DDF01".
const unsigned char kSelectPse[19] = {
    0x00, 0xA4, 0x04, 0x00, 0x0E,
    '1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1',
};

// Texts of the payment steps, GB18030 written as escapes.
const char kSelectPseFailed[] = "\xD1\xA1\xD4\xF1PSE\xCA\xA7\xB0\xDC";  // 选择PSE失败
const char kNoDirectoryFile[] =
    "\xB2\xE9\xD5\xD2" "88" "\xB6\xCC\xCE\xC4\xBC\xFE\xB1\xEA\xCA\xBE\xCA\xA7\xB0\xDC";  // 查找88短文件标示失败
const char kReadRecordFailed[] = "\xB6\xC1\xBC\xC7\xC2\xBC\xCA\xA7\xB0\xDC";  // 读记录失败
const char kNoAid[] = "\xB2\xE9\xD5\xD2" "4F AID\xB1\xEA\xCA\xB6\xCA\xA7\xB0\xDC";  // 查找4F AID标识失败
const char kSelectApplicationFailed[] = "\xD1\xA1\xD4\xF1\xD3\xA6\xD3\xC3\xCA\xA7\xB0\xDC";  // 选择应用失败

// The records searched for the account number: record numbers 1 to 255,
// and for each the current file (0) and short file identifiers 1 to 11.
constexpr unsigned kLastRecord = 255;
constexpr unsigned kLastSearchedFile = 11;
// A reader that has stopped answering fails each of the 3060 reads only
// after the link's whole response wait.  The search gives up once this
// many exchanges have failed in all, whatever the card answers in between:
// a card that answers most reads with a time-out and now and then with a
// status word cannot hold the caller for more than this many response
// waits.  A card answers a missing record or file with a status word of
// its own, which never counts (only a card answering 6F 00, the failed
// exchange's word, would be taken for one that does not answer).
constexpr unsigned kMaxFailedReads = kLastSearchedFile + 1;

// A card's status word negated as the result of a payment step.  A card
// that answers 00 00 must not read as success: that is a failed exchange.
int stepFailure(char *out, const char *text, unsigned int sw) {
    if (sw == 0) sw = kSwExchangeFailed;
    std::memcpy(out, text, std::strlen(text) + 1);
    return -static_cast<int>(sw);
}

int missingTag(char *out, const char *text) {
    std::memcpy(out, text, std::strlen(text) + 1);
    return kErrMissingTag;
}

// The payment steps on a powered card: environment, directory,
// application, then the record search.  Returns 0 or a failure whose text
// is in out.
int readBankNumber(long handle, char *out) {
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;

    if (powerOnCommand(handle, cardSlot, nullptr, 0, nullptr) != 0x9000) {
        getErrorInf(static_cast<int>(kErrNoCard), out);
        return static_cast<int>(kErrNoCard);
    }

    unsigned int sw = exchange(handle, cardSlot, kSelectPse, sizeof kSelectPse, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return stepFailure(out, kSelectPseFailed, sw);
    const unsigned char sfi = directoryFileId(rsp, len);
    if (sfi == 0) return missingTag(out, kNoDirectoryFile);

    // The directory's first record, in the file that tag 88 names.
    const unsigned char readDirectory[5] = {0x00, 0xB2, 0x01, static_cast<unsigned char>(sfi << 3 | 0x04), 0x00};
    sw = exchange(handle, cardSlot, readDirectory, sizeof readDirectory, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return stepFailure(out, kReadRecordFailed, sw);
    TlvValue aid;
    if (!applicationId(rsp, len, &aid)) return missingTag(out, kNoAid);

    // A value found in a record of at most 4094 bytes with a one-byte or
    // 81 length: at most 255 bytes, so the command fits in 260.
    unsigned char selectApplication[5 + 255] = {0x00, 0xA4, 0x04, 0x00, static_cast<unsigned char>(aid.len)};
    std::memcpy(selectApplication + 5, aid.data, aid.len);
    sw = exchange(handle, cardSlot, selectApplication, 5 + aid.len, nullptr, 0, nullptr);
    if (sw != 0x9000) return stepFailure(out, kSelectApplicationFailed, sw);

    unsigned failed = 0;
    for (unsigned r = 1; r <= kLastRecord; ++r) {
        for (unsigned f = 0; f <= kLastSearchedFile; ++f) {
            const unsigned char readRecord[5] = {0x00, 0xB2, static_cast<unsigned char>(r),
                                                 static_cast<unsigned char>(f << 3 | 0x04), 0x00};
            sw = exchange(handle, cardSlot, readRecord, sizeof readRecord, rsp, sizeof rsp, &len);
            if (sw == kSwExchangeFailed && ++failed == kMaxFailedReads)
                return stepFailure(out, kReadRecordFailed, sw);
            if (sw != 0x9000) continue;
            char number[kAccountTextSize];
            const int n = accountNumber(rsp, len, number);
            if (n < 0) continue;
            std::memcpy(out, number, static_cast<size_t>(n) + 1);
            return 0;
        }
    }
    // No record holds a number: success, and out stays as it was.
    return 0;
}

}  // namespace

extern "C" int iReadBankNo(int iType, char *out) {
    logInPara("iReadBankNo", iType);
    long r = checkCardType(iType);
    if (r == 0 && !out) r = kErrArgument;
    if (r != 0) {
        getErrorInf(static_cast<int>(r), out);
        closeReader(kErrReader);
        return static_cast<int>(r);
    }
    const long handle = ICC_Reader_Open("USB1");
    if (handle < 0) {
        getErrorInf(static_cast<int>(kErrReader), out);
        return static_cast<int>(kErrReader);
    }
    r = findAndOpenCard(handle, iType);
    if (r != 0) {
        getErrorInf(static_cast<int>(r), out);
        closeReader(handle);
        return static_cast<int>(r);
    }
    const int rc = readBankNumber(handle, out);
    closeReader(handle);
    return rc;
}

extern "C" int iReadCardType(char *cardType, char *region, char *versionOrError) {
    if (!cardType || !region || !versionOrError) {
        getErrorInf(static_cast<int>(kErrArgument), versionOrError);
        return static_cast<int>(kErrArgument);
    }
    const long handle = ICC_Reader_Open("USB1");
    if (handle < 0) {
        getErrorInf(static_cast<int>(kErrReader), versionOrError);
        return static_cast<int>(kErrReader);
    }
    auto fail = [&](long code) {
        getErrorInf(static_cast<int>(code), versionOrError);
        closeReader(handle);
        return static_cast<int>(code);
    };

    // The reader probes a card in the contact slot; one in the
    // contactless field is not probed and keeps category 0.
    unsigned char category[50] = {0};
    long probe;
    if (findAndOpenCard(handle, 1) == 0) {
        probe = ReadCardType(handle, kContactSlot, category);
        if (probe < 0) return fail(probe);
    } else {
        const long r = findAndOpenCard(handle, 2);
        if (r != 0) return fail(r);
        probe = ReadCardType(handle, kContactlessSlot, category);
    }
    cardType[0] = 0x00;
    cardType[1] = static_cast<char>(category[0]);
    if (category[0] != 3 && category[0] != 4) {
        closeReader(handle);
        return static_cast<int>(probe);
    }

    int alg = kDefaultAlgorithm;
    char version[5] = {0};
    unsigned char regionCode[3] = {0};
    long r = selectSSSE(handle, &alg, version, true);
    if (r == 0) r = selectFKJG(handle, &alg, version, regionCode);
    if (r != 0) return fail(r);
    closeReader(handle);

    const unsigned char typeAndRegion[5] = {0x00, category[0], regionCode[0], regionCode[1], regionCode[2]};
    char text[2 * sizeof typeAndRegion + 1];
    BinToCHex(text, reinterpret_cast<const char *>(typeAndRegion), sizeof typeAndRegion);
    std::memcpy(cardType, text, 4);
    cardType[4] = '\0';
    cardType[5] = '\0';
    std::memcpy(region, text + 4, 6);
    std::memcpy(versionOrError, version, 4);
    return 0;
}
