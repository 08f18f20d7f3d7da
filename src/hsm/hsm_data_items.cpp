// SPDX-License-Identifier: MIT
// Data items of files that the terminal's authentication opens, with the
// host's security module in place of the PSAM.  Step 1 selects the file of
// the request's first group and gives the module a challenge and the
// file's key address; Step 2 sends the module's cryptogram and reads or
// writes the group's items with the helpers of iReadCard and iWriteCard.
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "operations/pin.h"
#include "operations/read_write.h"
#include "security/security.h"
#include "session/session.h"

namespace {

constexpr int kMaxFields = 5;  // the file address and four items or values
// Status 6A80 (wrong data field) negated: a file that this interface does
// not write with the module's authentication.
constexpr long kErrNotWritableHsm = -27264;
// A file that iReadCard reads without the terminal's authentication.
constexpr long kErrNoHsmNeeded = -2204;

// Access levels of the directory.
constexpr int kLevelPin = 1;
constexpr int kLevelKey = 2;
constexpr int kLevelKeyAndPin = 4;

// The first group of a file-address list with its "$" (the groups after
// it are not served), into group (kHsmKeptRequestSize bytes).  -14 when
// the list has no "$" or the group does not fit.
long firstGroup(const char *fileAddr, char *group) {
    if (!fileAddr) return kErrArgument;
    const size_t n = strnlen(fileAddr, kHsmKeptRequestSize - 1);
    const char *dollar = static_cast<const char *>(memchr(fileAddr, '$', n));
    if (!dollar) return kErrArgument;
    const size_t len = static_cast<size_t>(dollar - fileAddr) + 1;
    memcpy(group, fileAddr, len);
    group[len] = '\0';
    return 0;
}

// The fields of a kept group (its "$" left out): rows after the last
// field are empty.  Returns the number of fields.
int groupFields(const char *group, char rows[][KESTREL_ROW_SIZE]) {
    char text[kHsmKeptRequestSize];
    size_t n = strnlen(group, sizeof text - 1);
    const char *dollar = static_cast<const char *>(memchr(group, '$', n));
    if (dollar) n = static_cast<size_t>(dollar - group);
    memcpy(text, group, n);
    text[n] = '\0';
    int fields = unpackFromReceive(text, rows, kMaxFields);
    for (int i = fields; i < kMaxFields; ++i) rows[i][0] = '\0';
    return fields;
}

// What a data-item Step 1 has found when it writes its challenge block.
struct Pending {
    char group[kHsmKeptRequestSize];
    unsigned char keys[kHsmKeyRefSize];
    int level;
    unsigned keyAddress;
    unsigned char random[kHsmChallengeSize];
};

// The common part of both Step 1s: the arguments, the reader, the card
// of a known version, the request's first group, the card's identity,
// and the file selected.  Fails as the step helpers do (text written,
// reader closed).
long openGroupFile(int iType, char *pCardInfo, char *pFileAddr, char *pOutInfo, Pending *p, long *handle) {
    HsmCardInfo card;
    long r = firstGroup(pFileAddr, p->group);
    if (r != 0) {
        getErrorInf(static_cast<int>(r), pOutInfo);
        return r;
    }
    if ((r = hsmCheckStep1(iType, pCardInfo, true, &card, pOutInfo)) != 0) return r;
    if ((r = hsmOpenCard(iType, true, pOutInfo, handle)) != 0) return r;
    char text[KESTREL_ROW_SIZE];
    char rows[kMaxFields][KESTREL_ROW_SIZE];
    r = checkfileaddr(p->group, m_usercardVer);
    if (r == 0) r = checkRecordNumbers(p->group, m_usercardVer, text, rows);
    if (r != 0) return hsmFail(*handle, r, pOutInfo);
    if ((r = hsmIdentify(*handle, &card, pOutInfo)) != 0) return r;
    if ((r = selectFileOf(*handle, p->group)) != 0) return hsmFail(*handle, r, pOutInfo);
    return 0;
}

// Ends a Step 1: the challenge block, and what Step 2 needs kept.
long keepPending(const char *name, long handle, const Pending &p, char *pOutInfo) {
    hsmChallengeText(p.random, p.keyAddress, pOutInfo);
    memcpy(inParaBuffer1, p.group, strlen(p.group) + 1);
    memcpy(mKeys, p.keys, sizeof mKeys);
    return hsmStep1Done(name, handle, pOutInfo);
}

}  // namespace

extern "C" {

long iReadCard_HSM_Step1(int iType, char *pCardInfo, char *pFileAddr, char *pOutInfo) {
    static const char kName[] = "iReadCard_HSM_Step1";
    logInPara(kName, iType, pCardInfo, pFileAddr);
    Pending p;
    long handle = 0;
    long r = openGroupFile(iType, pCardInfo, pFileAddr, pOutInfo, &p, &handle);
    if (r != 0) return r;
    if ((r = findReadKey(p.group, p.keys, &p.level, m_usercardVer)) != 0) return hsmFail(handle, r, pOutInfo);
    if (p.level <= kLevelPin) return hsmFail(handle, kErrNoHsmNeeded, pOutInfo);
    if (p.level == kLevelKeyAndPin && (r = VerifyPIN(handle, pOutInfo)) != 0) {
        closeReader(handle);  // the PIN check's own text stays
        return r;
    }
    r = HsmExterAuthStep1(handle, reinterpret_cast<char *>(p.random));
    if (r == 0) r = findReadKeyAddr(p.group, &p.keyAddress, m_usercardVer);
    if (r != 0) return hsmFail(handle, r, pOutInfo);
    mAuthType = p.level;
    return keepPending(kName, handle, p, pOutInfo);
}

long iReadCard_HSM_Step2(char *hsmAnswer, char *pOutInfo) {
    static const char kName[] = "iReadCard_HSM_Step2";
    long handle = 0;
    logInPara(kName, hsmAnswer);
    long r = hsmSequence(&handle, pOutInfo);
    if (r != 0) return r;
    if (!pOutInfo) return hsmFail(handle, kErrArgument, pOutInfo);
    char rows[kMaxFields][KESTREL_ROW_SIZE];
    const int fields = groupFields(inParaBuffer1, rows);
    if ((r = hsmAuthenticate(handle, hsmAnswer, pOutInfo)) != 0) return r;
    r = readGroupItems(handle, rows, fields > 0 ? fields - 1 : 0, pOutInfo, KESTREL_HSM_READ_OUT_SIZE,
                       m_usercardVer);
    if (r != 0) return hsmFail(handle, r, pOutInfo);
    closeReader(handle);
    logOutPara(kName, 0, pOutInfo);
    return 0;
}

long iWriteCard_HSM_Step1(int iType, char *pCardInfo, char *pFileAddr, char *pOutInfo) {
    static const char kName[] = "iWriteCard_HSM_Step1";
    logInPara(kName, iType, pCardInfo, pFileAddr);
    Pending p;
    long handle = 0;
    long r = openGroupFile(iType, pCardInfo, pFileAddr, pOutInfo, &p, &handle);
    if (r != 0) return r;
    // The challenge comes before the write condition is looked at.
    r = HsmExterAuthStep1(handle, reinterpret_cast<char *>(p.random));
    if (r == 0) r = findWriteKey(p.group, p.keys, m_usercardVer, &p.level);
    if (r == 0 && p.level != kLevelKey) r = kErrNotWritableHsm;
    if (r == 0) r = findWriteKeyAddr(p.group, &p.keyAddress, m_usercardVer);
    if (r != 0) return hsmFail(handle, r, pOutInfo);
    return keepPending(kName, handle, p, pOutInfo);
}

long iWriteCard_HSM_Step2(char *hsmAnswer, char *pWriteData, char *pOutInfo) {
    static const char kName[] = "iWriteCard_HSM_Step2";
    long handle = 0;
    logInPara(kName, hsmAnswer, pWriteData);
    long r = hsmSequence(&handle, pOutInfo);
    if (r != 0) return r;
    if (!pOutInfo || !pWriteData) return hsmFail(handle, kErrArgument, pOutInfo);
    if ((r = hsmCheckCryptogram(hsmAnswer)) != 0) return hsmFail(handle, r, pOutInfo);

    // One group of values for the kept file, every value checked before
    // the card sees the cryptogram: a value it cannot take writes nothing.
    char addrRows[kMaxFields][KESTREL_ROW_SIZE];
    char dataRows[kMaxFields][KESTREL_ROW_SIZE];
    groupFields(inParaBuffer1, addrRows);
    if (findDollar(pWriteData) < 0) return hsmFail(handle, kErrArgument, pOutInfo);
    if ((r = checkWriteData(inParaBuffer1, pWriteData)) != 0) return hsmFail(handle, r, pOutInfo);
    TextSpan group = {"", 0};
    if (dollarGroups(pWriteData, &group, 1) != 1) return hsmFail(handle, kErrArgument, pOutInfo);
    char text[KESTREL_ROW_SIZE];
    memcpy(text, group.p, group.n);  // checkWriteData bounds a group by a row
    text[group.n] = '\0';
    const int values = unpackFromReceive(text, dataRows, kMaxFields) - 1;
    for (int i = values + 1; i < kMaxFields; ++i) dataRows[i][0] = '\0';
    r = checkWriteGroup(dataRows, addrRows, values, m_usercardVer, CyclicValues::FirstValueOnly);
    if (r != 0) return hsmFail(handle, r, pOutInfo);

    if ((r = hsmAuthenticate(handle, hsmAnswer, pOutInfo)) != 0) return r;
    r = writeGroupItems(handle, dataRows, addrRows, values, m_usercardVer, CyclicValues::FirstValueOnly);
    if (r != 0) return hsmFail(handle, r, pOutInfo);
    pOutInfo[0] = '\0';
    closeReader(handle);
    logOutPara(kName, 0, pOutInfo);
    return 0;
}

}  // extern "C"
