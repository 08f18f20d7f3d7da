// SPDX-License-Identifier: MIT
// The basic-information read checked by the host's security module: Step 1
// collects the card's internal-authentication answer and what the module
// needs to judge it; Step 2 compares the module's expected answer, has the
// card of version 3 accept the module's external authentication, and
// reads the basic information.
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "operations/operations.h"
#include "security/security.h"
#include "session/session.h"

namespace {

// The external authentication before reading: the application's key 0A.
constexpr unsigned char kBasicInfoKid = 0x0A;
constexpr unsigned kCompared = 2 * kHsmCardAnswerSize;  // digits of the expected answer

}  // namespace

extern "C" long iReadCardBas_HSM_Step1(int iType, char *pOutInfo) {
    static const char kName[] = "iReadCardBas_HSM_Step1";
    logInPara(kName, iType);
    HsmCardInfo unused;
    long handle = 0;
    long r = hsmCheckStep1(iType, nullptr, false, &unused, pOutInfo);
    if (r == 0) r = hsmOpenCard(iType, true, pOutInfo, &handle);
    if (r != 0) return r;
    r = readDataForInternalVerify(handle, pOutInfo, des, mATR, &mATRLen);
    if (r != 0) return hsmFail(handle, r, pOutInfo);
    return hsmStep1Done(kName, handle, pOutInfo);
}

extern "C" long iReadCardBas_HSM_Step2(char *pHsmData, char *pOutInfo) {
    static const char kName[] = "iReadCardBas_HSM_Step2";
    long handle = 0;
    logInPara(kName, pHsmData);
    long r = hsmSequence(&handle, pOutInfo);
    if (r != 0) return r;

    // Two "|"-terminated fields: the expected answer of 32 digits, of which
    // the first 16 count, and an empty field or the cryptogram.
    char fields[2][KESTREL_ROW_SIZE];
    if (!pOutInfo || !pHsmData || findcharNum(pHsmData, '|') != 2) return hsmFail(handle, kErrArgument, pOutInfo);
    unpackFromReceive(pHsmData, fields, 2);
    if (!hsmHexField(fields[0], kHsmCryptogramDigits)) return hsmFail(handle, kErrArgument, pOutInfo);

    unsigned char expected[kHsmCardAnswerSize];
    CHexToBin(reinterpret_cast<char *>(expected), fields[0], kCompared);
    logDes(des, expected);
    if (memcmp(expected, des, sizeof expected) != 0) return hsmFail(handle, kErrInternalAuth, pOutInfo);

    if (fields[1][0] != '\0') {
        if ((r = hsmCheckCryptogram(fields[1])) != 0) return hsmFail(handle, r, pOutInfo);
        unsigned char cryptogram[kHsmCryptogramDigits / 2];
        CHexToBin(reinterpret_cast<char *>(cryptogram), fields[1], kHsmCryptogramDigits);
        r = HsmExterAuthStep2(handle, kBasicInfoKid, cryptogram, cryptogram + 8, pOutInfo);
        if (r != 0) return hsmFail(handle, r, pOutInfo);
    }

    unsigned atrLen = mATRLen < 0 ? 0 : static_cast<unsigned>(mATRLen);
    r = ReadBaseinf(handle, pOutInfo, mATR, atrLen < kHsmAtrSize ? atrLen : kHsmAtrSize);
    if (r != 0) return hsmFail(handle, r, pOutInfo);
    closeReader(handle);
    logOutPara(kName, pOutInfo);
    return 0;
}
