// SPDX-License-Identifier: MIT
// The debit with the host's security module in place of the PSAM.  Step 1
// has the holder's PIN verified, initializes the card's purse for the debit
// and gives the module the transaction (the card's pseudo-random number and
// serial, the amounts, the terminal number and the date and time); Step 2
// sends the debit with the module's terminal transaction serial, date and
// time and MAC1, and reports the card's MAC2 and TAC unchecked.  The card's
// commands are those of iDoDebit.
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "operations/debit.h"
#include "operations/pin.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

namespace {

// The module's key for MAC1: the card's purchase key.
constexpr unsigned kPurchaseKeyAddress = 0x017F;
const unsigned char kSelectTerminalFile[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x16};

constexpr unsigned kSerial = 2;
constexpr unsigned kRandom = 4;
constexpr unsigned kAmountBytes = 8;  // the second and third amount
constexpr unsigned kTerminalSerial = 4;
constexpr unsigned kDateTime = 7;
constexpr unsigned kMac = 4;

// Fields of the debit request that Step 1 writes and keeps.
enum RequestField { kAlg, kKeyAddress, kRandomField, kSerialField, kAmounts, kType, kTerminal, kDateTimeField };
constexpr int kRequestFields = 8;
// Fields of the module's answer: terminal transaction serial, date and
// time, MAC1 (any after them are not looked at).
constexpr int kAnswerFields = 3;

long fail(long code, char *out) {
    getErrorInf(static_cast<int>(code), out);
    return code;
}

// The PSAM's terminal number: zeros when no PSAM can be powered and
// prepared for the card's algorithm, or its terminal file cannot be
// selected; the failure of reading a file that was selected is the
// step's failure.
long terminalForDebit(long handle, unsigned char *terminal) {
    memset(terminal, 0, kTerminalNumberSize);
    if (findAndOpenPSAM(handle, m_usercardAlg) != 0) return 0;
    if (exchange(handle, psamSlot, kSelectTerminalFile, sizeof kSelectTerminalFile, nullptr, 0, nullptr) != 0x9000)
        return 0;
    return readTerminalNumber(handle, terminal);
}

// Copies a text into a field of `size` bytes, cut to fit.
void copyField(char *dst, size_t size, const char *src) {
    const size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace

extern "C" {

long iDoDebit_HSM_Step1(int iType, char *pCardInfo, char *pPayInfo, char *pOutInfo) {
    static const char kName[] = "iDoDebit_HSM_Step1";
    logInPara(kName, iType, pCardInfo, pPayInfo);
    HsmCardInfo card;
    long r = hsmCheckStep1(iType, pCardInfo, true, &card, pOutInfo);
    if (r != 0) return r;
    // The pay info is checked and converted before the reader is opened.
    char pay[3][KESTREL_ROW_SIZE];
    pay[0][0] = pay[1][0] = pay[2][0] = '\0';
    DebitInputs in;
    char zero[] = "0";
    if (!pPayInfo || checkPayInfo(pPayInfo) != 0 || unpackFromReceive(pPayInfo, pay, 3) != 3 ||
        debitInputs(zero, pay[0], pay[1], pay[2], &in) != 0)
        return fail(kErrArgument, pOutInfo);

    long handle = 0;
    if ((r = hsmOpenCard(iType, false, pOutInfo, &handle)) != 0) return r;
    if ((r = hsmIdentify(handle, &card, pOutInfo)) != 0) return r;
    if ((r = VerifyPIN_JiaoYi(handle, pOutInfo)) != 0) {
        closeReader(handle);  // the PIN check's own text stays
        return r;
    }
    unsigned char terminal[kTerminalNumberSize];
    DebitInit init;
    r = selectDebitApplication(handle);
    if (r == 0) r = terminalForDebit(handle, terminal);
    if (r == 0) r = initializeForDebit(handle, in, terminal, &init);
    if (r != 0) return hsmFail(handle, r, pOutInfo);

    // alg|017F|random|serial|amounts|32|terminal|date-time|
    char text[kHsmKeptRequestSize];
    int count = 0;
    hsmPackAlgorithm(text, &count);
    hsmPackKeyAddress(kPurchaseKeyAddress, text, &count);
    hsmPackHex(init.random, kRandom, text, &count);
    hsmPackHex(init.serial, kSerial, text, &count);
    hsmPackHex(in.amounts[1], kAmountBytes, text, &count);
    char type[] = "32";
    packForResponse(reinterpret_cast<unsigned char *>(type), 2, text, &count);
    hsmPackHex(terminal, kTerminalNumberSize, text, &count);
    packForResponse(reinterpret_cast<unsigned char *>(pay[2]), 2 * kDateTime, text, &count);
    text[count] = '\0';
    memcpy(inParaBuffer1, text, static_cast<size_t>(count) + 1);
    memcpy(pOutInfo, text, static_cast<size_t>(count) + 1);
    return hsmStep1Done(kName, handle, pOutInfo);
}

long iDoDebit_HSM_Step2(char *pHsmData, char *pOutInfo) {
    static const char kName[] = "iDoDebit_HSM_Step2";
    long handle = 0;
    logInPara(kName, pHsmData);
    long r = hsmSequence(&handle, pOutInfo);
    if (r != 0) return r;
    if (!pOutInfo) return hsmFail(handle, kErrArgument, pOutInfo);

    // Three fields, each of its length in hexadecimal digits, checked
    // before the card sees any of them.
    char answer[kAnswerFields][KESTREL_ROW_SIZE];
    if (!pHsmData || unpackFromReceive(pHsmData, answer, kAnswerFields) != kAnswerFields ||
        !hsmHexField(answer[0], 2 * kTerminalSerial) || !hsmHexField(answer[1], 2 * kDateTime) ||
        !hsmHexField(answer[2], 2 * kMac))
        return hsmFail(handle, kErrArgument, pOutInfo);
    unsigned char terminalSerial[kTerminalSerial], dateTime[kDateTime], mac1[kMac];
    CHexToBin(reinterpret_cast<char *>(terminalSerial), answer[0], 2 * kTerminalSerial);
    CHexToBin(reinterpret_cast<char *>(dateTime), answer[1], 2 * kDateTime);
    CHexToBin(reinterpret_cast<char *>(mac1), answer[2], 2 * kMac);

    char kept[kRequestFields][KESTREL_ROW_SIZE];
    for (auto &field : kept) field[0] = '\0';
    unpackFromReceive(inParaBuffer1, kept, kRequestFields);

    unsigned char tac[kMac], mac2[kMac];
    bool maybeDebited = false;
    if ((r = debitCard(handle, terminalSerial, dateTime, mac1, tac, mac2, &maybeDebited)) != 0) {
        getErrorInf(static_cast<int>(r), pOutInfo);
        if (maybeDebited) {
            char serial[2 * kSerial + 1];
            copyField(serial, sizeof serial, kept[kSerialField]);
            logUnconfirmedDebit(kName, serial, answer[0], "");
        }
        closeReader(handle);
        return r;
    }

    // MAC2|alg|00B5|amounts|32|terminal|terminal serial|date-time|TAC|
    DebitResult result;
    copyField(result.algorithm, sizeof result.algorithm, kept[kAlg]);
    copyField(result.amounts, sizeof result.amounts, kept[kAmounts]);
    copyField(result.terminal, sizeof result.terminal, kept[kTerminal]);
    copyField(result.terminalSerial, sizeof result.terminalSerial, answer[0]);
    copyField(result.dateTime, sizeof result.dateTime, kept[kDateTimeField]);
    debitHex(result.tac, tac, kMac);
    char text[KESTREL_HSM_OUT_SIZE];
    debitHex(text, mac2, kMac);
    text[2 * kMac] = '|';
    // MAC2 and its "|", then at most the 74 characters of the result.
    static_assert(2 * kMac + 1 + 74 < sizeof text, "the result fits");
    char rest[KESTREL_DEBIT_OUT_SIZE];
    writeDebitResult(result, rest);
    copyField(text + 2 * kMac + 1, sizeof text - 2 * kMac - 1, rest);
    memcpy(pOutInfo, text, strlen(text) + 1);
    closeReader(handle);
    logOutPara(kName, 0, pOutInfo);
    return 0;
}

}  // extern "C"
