// SPDX-License-Identifier: MIT
// Debit on the card's debit application (DF04): the card's purse gives a
// pseudo-random number and its transaction serial, the PSAM computes MAC1
// over the transaction with a key diversified for the card, the card
// debits and answers with its TAC and MAC2, and the PSAM checks MAC2.
// Also the card's transaction records and the PIN trial.
#include "operations/debit.h"

#include <cstdio>
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "operations/pin.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

namespace {

const unsigned char kSelectDF04[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0xDF, 0x04};
const unsigned char kSelectEF08[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0xEF, 0x08};
// The PSAM's terminal file by short identifier 16, and selected by name.
const unsigned char kReadTerminalBySfi[5] = {0x00, 0xB0, 0x96, 0x00, 0x06};
const unsigned char kSelectTerminalFile[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x16};
const unsigned char kReadTerminalNumber[5] = {0x00, 0xB0, 0x00, 0x00, 0x06};
const unsigned char kSelectDF01[7] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0xDF, 0x01};

constexpr unsigned kHeader = 5;
constexpr unsigned kAmount = 4;
constexpr unsigned kDateTime = 7;
constexpr unsigned kMac = 4;
constexpr unsigned kTerminalSerial = 4;
constexpr unsigned kInitAnswer = 22;
constexpr unsigned char kTransactionType = 0x32;
// The algorithm identifier that the PSAM takes for the cards of
// algorithm 3, whatever the card answers.
constexpr unsigned char kAlgorithm3Id = 0x04;
constexpr unsigned kFirstKeyLevel = 2;
constexpr unsigned kSwKeyMissing = 0x6A88;
// MAC1 data before the diversification data.
constexpr unsigned kMac1Fixed = 28;

constexpr unsigned kMaxRecords = 30;
static_assert(kMaxRecords * kMaxDebitRecordText + 1 <= KESTREL_DEBIT_RECORDS_SIZE, "records fit their buffer");
static_assert(KESTREL_DEBIT_RECORDS_SIZE >= 100 && KESTREL_DEBIT_OUT_SIZE >= 100, "error texts fit");

long fail(long code, char *out) {
    getErrorInf(static_cast<int>(code), out);
    return code;
}

bool decimalDigits(const char *text, unsigned n) {
    for (unsigned i = 0; i < n; i++)
        if (text[i] < '0' || text[i] > '9') return false;
    return text[n] == '\0';
}

long sendTo(long handle, unsigned char slot, const unsigned char *cmd, unsigned len) {
    unsigned int sw = exchange(handle, slot, cmd, len, nullptr, 0, nullptr);
    return sw == 0x9000 ? 0 : apduErrTanslation(sw);
}

// The power-on command to the PSAM: its answer to reset is not used.
long powerPsam(long handle) {
    unsigned int sw = powerOnCommand(handle, psamSlot, nullptr, 0, nullptr);
    return sw == 0x9000 ? 0 : apduErrTanslation(sw);
}

// A 6-byte terminal number read from the PSAM; a shorter answer is not one.
long readTerminal(long handle, const unsigned char *cmd, unsigned char *terminal) {
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = exchange(handle, psamSlot, cmd, kHeader, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    if (len < kTerminalNumberSize) return malformedAnswer();
    memcpy(terminal, rsp, kTerminalNumberSize);
    return 0;
}

// What the PSAM answers to MAC1.
struct Mac1 {
    unsigned char terminalSerial[kTerminalSerial];
    unsigned char mac[kMac];
};

// MAC1 from the PSAM with the key level starting at 2: a level that the
// PSAM's region does not allow is refused (-24), and a PSAM without the
// key at level 2 (6A88) is asked once more at level 1.
long psamMac1(long handle, const DebitInputs &in, const DebitInit &init, const unsigned char *div,
              unsigned char *regionTerminal, Mac1 *mac1) {
    unsigned char algorithmId = m_usercardAlg == 3 ? kAlgorithm3Id : init.algorithmId;
    for (unsigned level = kFirstKeyLevel;; --level) {
        if (VerifyKeyLevel(static_cast<unsigned char>(level), usrCardCityCOde, regionTerminal) != 0)
            return kErrKeyLevel;
        unsigned char cmd[kHeader + kMac1Fixed + kDivDataSize] = {
            0x80, 0x70, 0x01, 0x00, static_cast<unsigned char>(kMac1Fixed + 8 * level)};
        unsigned char *p = cmd + kHeader;
        memcpy(p, init.random, 4);
        memcpy(p + 4, init.serial, 2);
        memcpy(p + 6, in.amounts, sizeof in.amounts);
        p[18] = kTransactionType;
        memcpy(p + 19, in.dateTime, kDateTime);
        p[26] = init.keyVersion;
        p[27] = algorithmId;
        memcpy(p + kMac1Fixed, div, 8 * level);

        unsigned char rsp[kT0ResponseArea - 2];
        unsigned int len = 0;
        unsigned int sw = exchange(handle, psamSlot, cmd, kHeader + kMac1Fixed + 8 * level, rsp, sizeof rsp, &len);
        if (sw == kSwKeyMissing) {
            if (level == 1) return kErrKeyLevel;
            continue;
        }
        if (sw != 0x9000) return apduErrTanslation(sw);
        if (len < sizeof *mac1) return malformedAnswer();
        memcpy(mac1->terminalSerial, rsp, kTerminalSerial);
        memcpy(mac1->mac, rsp + kTerminalSerial, kMac);
        return 0;
    }
}

// After a failure once the card may have debited: the error line of the
// code, then the transaction to look for among the card's records.
void logUnconfirmedDebit(const DebitInit &init, const Mac1 &mac1, const unsigned char *tac) {
    char serial[5], terminalSerial[9], tacText[9] = "";
    debitHex(serial, init.serial, 2);
    debitHex(terminalSerial, mac1.terminalSerial, kTerminalSerial);
    if (tac) debitHex(tacText, tac, kMac);
    ::logUnconfirmedDebit("iDoDebit", serial, terminalSerial, tacText);
}

}  // namespace

long debitInputs(const char *firstAmount, const char *secondAmount, const char *thirdAmount, const char *dateTime,
                 DebitInputs *in) {
    const char *amounts[3] = {firstAmount, secondAmount, thirdAmount};
    for (const char *a : amounts)
        if (!a || checkdouble(const_cast<char *>(a)) != 0) return kErrArgument;
    if (!dateTime || !decimalDigits(dateTime, 2 * kDateTime)) return kErrArgument;
    for (int i = 0; i < 3; i++) ascToMoneyb(reinterpret_cast<char *>(in->amounts[i]), const_cast<char *>(amounts[i]));
    CHexToBin(reinterpret_cast<char *>(in->dateTime), dateTime, 2 * kDateTime);
    return 0;
}

void logUnconfirmedDebit(const char *name, const char *serial, const char *terminalSerial, const char *tac) {
    logLine("%s%s, debit not confirmed: serial %s, terminal serial %s, TAC %s\r\n", logbuf, name, serial,
            terminalSerial, tac);
}

long readTerminalNumber(long handle, unsigned char *terminal) {
    return readTerminal(handle, kReadTerminalNumber, terminal);
}

long selectDebitApplication(long handle) { return sendTo(handle, cardSlot, kSelectDF04, sizeof kSelectDF04); }

long initializeForDebit(long handle, const DebitInputs &in, const unsigned char *terminal, DebitInit *init) {
    unsigned char cmd[kHeader + 1 + sizeof in.amounts + kTerminalNumberSize] = {0xB0, 0x28, 0x01, 0x01, 0x13, 0x01};
    memcpy(cmd + kHeader + 1, in.amounts, sizeof in.amounts);
    memcpy(cmd + kHeader + 1 + sizeof in.amounts, terminal, kTerminalNumberSize);
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    if (len < kInitAnswer) return malformedAnswer();
    memcpy(init->serial, rsp + 14, 2);
    init->keyVersion = rsp[16];
    init->algorithmId = rsp[17];
    memcpy(init->random, rsp + 18, 4);
    return 0;
}

long debitCard(long handle, const unsigned char *terminalSerial, const unsigned char *dateTime,
               const unsigned char *mac1, unsigned char *tac, unsigned char *mac2, bool *maybeDebited) {
    unsigned char cmd[kHeader + kTerminalSerial + kDateTime + kMac] = {0xB0, 0x2C, 0x01, 0x00, 0x0F};
    memcpy(cmd + kHeader, terminalSerial, kTerminalSerial);
    memcpy(cmd + kHeader + kTerminalSerial, dateTime, kDateTime);
    memcpy(cmd + kHeader + kTerminalSerial + kDateTime, mac1, kMac);
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0, commandSw = 0;
    unsigned int sw = IccExchangeT0(handle, cardSlot, sizeof cmd, cmd, &len, rsp, sizeof rsp, &commandSw);
    if (sw == kSwExchangeFailed) len = 0;
    // A card that refused the debit command kept its balance.  One that
    // accepted it (61xx: its answer waiting) has debited although the
    // fetch of the answer failed; one whose answer did not arrive whole
    // may have debited: the exchange failed, the answer still waits behind
    // a second 61xx, its GET RESPONSE drew 6Cxx, or the answer was garbled.
    const bool accepted = (commandSw >> 8) == 0x61;
    *maybeDebited = sw == 0x9000 ? len < 2 * kMac : accepted || answerNotWhole(commandSw) || answerNotWhole(sw);
    if (sw != 0x9000) return apduErrTanslation(sw);
    if (len < 2 * kMac) return malformedAnswer();
    memcpy(tac, rsp, kMac);
    memcpy(mac2, rsp + kMac, kMac);
    return 0;
}

void writeDebitResult(const DebitResult &r, char *out) {
    const char *fields[] = {r.algorithm, "00B5", r.amounts, "32", r.terminal, r.terminalSerial, r.dateTime, r.tac};
    char text[KESTREL_DEBIT_OUT_SIZE];
    int count = 0;
    for (const char *f : fields)
        packForResponse(reinterpret_cast<unsigned char *>(const_cast<char *>(f)), static_cast<int>(strlen(f)), text,
                        &count);
    text[count] = '\0';
    memcpy(out, text, static_cast<size_t>(count) + 1);
}

long DoDebit(long handle, char *firstAmount, char *secondAmount, char *thirdAmount, char *dateTime, char *out) {
    if (!out) return kErrArgument;
    DebitInputs in;
    long r = debitInputs(firstAmount, secondAmount, thirdAmount, dateTime, &in);
    if (r != 0) return fail(r, out);

    unsigned char atr[kAtrBufferSize];
    unsigned int atrLen = 0;
    unsigned char div[kDivDataSize] = {};
    unsigned char divLen = 0;
    if ((r = GetCardDivIndex(handle, atr, &atrLen, div, &divLen)) != 0) return fail(r, out);
    // The PIN check writes its own text.
    if ((r = VerifyPIN_JiaoYi(handle, out)) != 0) return r;
    if ((r = selectDebitApplication(handle)) != 0) return fail(r, out);

    // The terminal number for the card, from a freshly powered PSAM.
    unsigned char terminal[kTerminalNumberSize];
    if ((r = powerPsam(handle)) != 0) return fail(r, out);
    if ((r = readTerminal(handle, kReadTerminalBySfi, terminal)) != 0) return fail(r, out);
    DebitInit init;
    if ((r = initializeForDebit(handle, in, terminal, &init)) != 0) return fail(r, out);

    // The PSAM anew, in the application of the card's algorithm, its
    // region for the key-level check, and its key directory.
    if ((r = powerPsam(handle)) != 0) return fail(r, out);
    if ((m_usercardAlg == 2 || m_usercardAlg == 3) && selectPsamApplication(handle, m_usercardAlg) != 0x9000)
        return fail(kErrPsamApplication, out);
    unsigned char regionTerminal[kTerminalNumberSize];
    if ((r = sendTo(handle, psamSlot, kSelectTerminalFile, sizeof kSelectTerminalFile)) != 0) return fail(r, out);
    if ((r = readTerminalNumber(handle, regionTerminal)) != 0) return fail(r, out);
    if ((r = sendTo(handle, psamSlot, kSelectDF01, sizeof kSelectDF01)) != 0) return fail(r, out);
    Mac1 mac1;
    if ((r = psamMac1(handle, in, init, div, regionTerminal, &mac1)) != 0) return fail(r, out);

    // From here on the card's balance may change.
    unsigned char tac[kMac], mac2[kMac];
    bool maybeDebited = false;
    if ((r = debitCard(handle, mac1.terminalSerial, in.dateTime, mac1.mac, tac, mac2, &maybeDebited)) != 0) {
        fail(r, out);
        if (maybeDebited) logUnconfirmedDebit(init, mac1, nullptr);
        return r;
    }
    unsigned char check[kHeader + kMac] = {0x80, 0x72, 0x00, 0x00, kMac};
    memcpy(check + kHeader, mac2, kMac);
    if ((r = sendTo(handle, psamSlot, check, sizeof check)) != 0) {
        fail(r, out);
        logUnconfirmedDebit(init, mac1, tac);
        return r;
    }

    DebitResult result;
    snprintf(result.algorithm, sizeof result.algorithm, "%02x", static_cast<unsigned char>(m_usercardAlg));
    debitHex(result.amounts, in.amounts[1], 2 * kAmount);
    debitHex(result.terminal, terminal, kTerminalNumberSize);
    debitHex(result.terminalSerial, mac1.terminalSerial, kTerminalSerial);
    debitHex(result.dateTime, in.dateTime, kDateTime);
    debitHex(result.tac, tac, kMac);
    writeDebitResult(result, out);
    return 0;
}

int ReadDebit(long handle, char *out) {
    if (!out) return static_cast<int>(kErrArgument);
    unsigned char atr[kAtrBufferSize];
    unsigned int atrLen = 0;
    unsigned char div[kDivDataSize] = {};
    unsigned char divLen = 0;
    long r = GetCardDivIndex(handle, atr, &atrLen, div, &divLen);
    if (r == 0) r = selectDebitApplication(handle);
    if (r == 0) r = sendTo(handle, cardSlot, kSelectEF08, sizeof kSelectEF08);
    if (r != 0) return static_cast<int>(fail(r, out));
    int pin = VerifyPIN(handle, out);
    if (pin != 0) return pin;

    // The records go to the start of out, in place of the PIN's text.
    char text[KESTREL_DEBIT_RECORDS_SIZE];
    int count = 0;
    unsigned int firstSw = 0x9000;
    for (unsigned n = 1; n <= kMaxRecords; n++) {
        const unsigned char cmd[kHeader] = {0x00, 0xB2, static_cast<unsigned char>(n), 0x04, kDebitRecordSize};
        unsigned char rsp[kT0ResponseArea - 2];
        unsigned int len = 0;
        unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, rsp, sizeof rsp, &len);
        // The card's refusal ends the records; a lost answer says nothing
        // of the records after it.
        if (answerNotWhole(sw)) return static_cast<int>(fail(apduErrTanslation(sw), out));
        if (sw != 0x9000) {
            if (n == 1) firstSw = sw;
            break;
        }
        // Part of a record would show amounts that the card does not hold.
        if (len < kDebitRecordSize) return static_cast<int>(fail(malformedAnswer(), out));
        count += debitRecordText(rsp, text + count);
    }
    if (count == 0) return static_cast<int>(fail(apduErrTanslation(firstSw), out));
    text[count] = '\0';
    memcpy(out, text, static_cast<size_t>(count) + 1);
    return 0;
}

namespace {

// The course shared by the three exported calls: the in-para line is
// written, the arguments checked; then the reader, the card and its
// application.  Returns 0 with the opened reader in *handle, or the code
// with its text written (and the reader closed when it was opened).
long openCard(int iType, long *handle, char *out) {
    *handle = 0;
    long r = checkCardType(iType);
    if (r == 0 && !out) r = kErrArgument;
    if (r != 0) return fail(r, out);
    *handle = ICC_Reader_Open("USB1");
    if (*handle < 0) return fail(kErrReader, out);
    int alg = kDefaultAlgorithm;
    char version[5] = {};
    r = findAndOpenCard(*handle, iType);
    if (r == 0) r = selectSSSE(*handle, &alg, version, false);
    if (r != 0) {
        fail(r, out);
        closeReader(*handle);
    }
    return r;
}

}  // namespace

extern "C" {

long iDoDebit(int iType, char *pCardInfo, char *pPayInfo, char *pOutInfo) {
    static const char kName[] = "iDoDebit";
    logInPara(kName, iType, pCardInfo, pPayInfo);
    char card[2][KESTREL_ROW_SIZE];
    card[0][0] = card[1][0] = '\0';
    char pay[3][KESTREL_ROW_SIZE];
    pay[0][0] = pay[1][0] = pay[2][0] = '\0';
    if (pCardInfo) unpackFromReceive(pCardInfo, card, 2);
    if (pPayInfo) unpackFromReceive(pPayInfo, pay, 3);
    // Nothing touches the reader before the arguments are known to be good.
    long r = checkCardType(iType);
    if (r == 0 && (!pOutInfo || !acceptableCardInfo(pCardInfo))) r = kErrArgument;
    if (r == 0 && (!pPayInfo || checkPayInfo(pPayInfo) != 0)) r = kErrArgument;
    if (r != 0) return fail(r, pOutInfo);

    long handle = 0;
    if ((r = openCard(iType, &handle, pOutInfo)) != 0) return r;
    r = findAndOpenPSAM(handle, m_usercardAlg);
    if (r == 0) r = checkCardInfo(handle, card[0], card[1]);
    if (r != 0) {
        fail(r, pOutInfo);
        closeReader(handle);
        return r;
    }
    char first[] = "0.0";
    r = DoDebit(handle, first, pay[0], pay[1], pay[2], pOutInfo);
    closeReader(handle);
    if (r != 0) return r;
    logOutPara(kName, 0, pOutInfo);
    return 0;
}

long iReadDebitRecord(int iType, char *pOutInfo) {
    static const char kName[] = "iReadDebitRecord";
    logInPara(kName, iType);
    long handle = 0;
    long r = openCard(iType, &handle, pOutInfo);
    if (r != 0) return r;
    r = ReadDebit(handle, pOutInfo);
    closeReader(handle);
    if (r != 0) return r;
    logOutPara(kName, 0, pOutInfo);
    return 0;
}

long iTryPIN(int iType, char *pPIN, char *pOutInfo) {
    logInPara("iTryPIN", iType);
    long handle = 0;
    long r = openCard(iType, &handle, pOutInfo);
    if (r == 0) {
        // The first 6 characters; VerifyDefaultPIN refuses a shorter text.
        r = VerifyDefaultPIN(handle, 6, pPIN, pOutInfo);
        closeReader(handle);
    } else if (handle <= 0) {
        // The reader was never opened: the reader state is closed all the
        // same, so that a pending step sequence ends.
        closeReader(handle);
    }
    return r;
}

}  // extern "C"
