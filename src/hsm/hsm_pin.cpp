// SPDX-License-Identifier: MIT
// PIN reload and unblock with the host's security module in place of the
// PSAM.  Step 1 gives the module a challenge for the terminal's
// authentication with the card's key 06; Step 2 sends the module's
// cryptogram, takes the new PIN from the keypad (reload), fetches a fresh
// challenge and gives the module what it needs to build the secured
// command; Step 3 checks the header of the module's command and sends it.
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "operations/pin.h"
#include "reader/keypad.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

namespace {

// The terminal authenticates itself with the card's key 06 (module key
// address 0090); the PIN block and MAC use the key at address 0173.  The
// PSAM key bytes are those of the PSAM variant of the same operations.
const unsigned char kAuthKeys[kHsmKeyRefSize] = {0x06, 0x48, 0x10};
const unsigned char kPinKeys[kHsmKeyRefSize] = {0x06, 0x48, 0x09};
constexpr unsigned kAuthKeyAddress = 0x0090;
constexpr unsigned kPinKeyAddress = 0x0173;

// The headers of the commands the module builds, and the length of each
// whole command in hexadecimal digits.
struct CommandForm {
    const char *header;
    unsigned digits;
};
constexpr CommandForm kReloadShort = {"842400010C", 34};  // 8 encrypted bytes, 4 MAC bytes
constexpr CommandForm kReloadLong = {"8424000114", 50};   // 16 encrypted bytes, 4 MAC bytes
constexpr CommandForm kUnblock = {"8424000004", 18};      // 4 MAC bytes
constexpr unsigned kHeaderDigits = 10;

// The PIN block (length byte, packed PIN, 80) of a PIN of more bytes than
// this does not fit one 8-byte block.
constexpr unsigned kShortBlockPinBytes = 6;

// The reload's command form for a PIN text: the long one for 16-byte
// blocks (algorithms 2 and 3) and for a PIN block longer than 8 bytes.
const CommandForm &reloadForm(const char *pin) {
    bool longBlock = blockSizeFor(m_usercardAlg) == 16 || strlen(pin) / 2 > kShortBlockPinBytes;
    return longBlock ? kReloadLong : kReloadShort;
}

long step1(int iType, char *pCardInfo, char *pOutInfo) {
    static const char kName[] = "iReloadPIN_HSM_Step1";
    logInPara(kName, iType, pCardInfo);
    long handle = 0;
    long r = hsmStep1Card(iType, pCardInfo, false, pOutInfo, &handle);
    if (r == 0) r = hsmChallengeBlock(handle, kAuthKeyAddress, pOutInfo);
    if (r != 0) return r;
    memcpy(mKeys, kAuthKeys, sizeof mKeys);
    return hsmStep1Done(kName, handle, pOutInfo);
}

// Step 2: the module's cryptogram, the new PIN (reload only), a fresh
// challenge, and the request for the secured command.
long step2(const char *name, bool reload, char *pHsmData, char *pOutInfo) {
    long handle = 0;
    logInPara(name, pHsmData);
    long r = hsmSequence(&handle, pOutInfo);
    if (r != 0) return r;
    if (!pOutInfo) return hsmFail(handle, kErrArgument, pOutInfo);
    if ((r = hsmAuthenticate(handle, pHsmData, pOutInfo)) != 0) return r;

    char pin[kPinTextSize] = "";
    if (reload && (r = newPinTwice(handle, pin, pOutInfo)) != 0) {
        closeReader(handle);
        return r;
    }
    unsigned char challenge[8];
    if ((r = getChallenge(handle, challenge)) != 0) return hsmFail(handle, r, pOutInfo);

    memcpy(mKeys, kPinKeys, sizeof mKeys);
    char text[KESTREL_HSM_OUT_SIZE];
    int count = 0;
    hsmPackAlgorithm(text, &count);
    hsmPackKeyAddress(kPinKeyAddress, text, &count);
    hsmPackHex(challenge, sizeof challenge, text, &count);
    const char *header = reload ? reloadForm(pin).header : kUnblock.header;
    packForResponse(reinterpret_cast<unsigned char *>(const_cast<char *>(header)), kHeaderDigits, text, &count);
    packForResponse(reinterpret_cast<unsigned char *>(pin), static_cast<int>(strlen(pin)), text, &count);
    text[count] = '\0';
    memcpy(pOutInfo, text, static_cast<size_t>(count) + 1);
    logOutPara(name, 0, pOutInfo);
    return 0;
}

// True when command has one of the forms: its length and, exactly (upper
// case), the header of that length.
bool commandOfForm(const char *command, const CommandForm *forms, unsigned n) {
    size_t len = strnlen(command, kReloadLong.digits + 1);
    for (unsigned i = 0; i < n; i++)
        if (len == forms[i].digits && strncmp(command, forms[i].header, kHeaderDigits) == 0) return true;
    return false;
}

// Step 3: the module's command, sent as it is.
long step3(const char *name, const CommandForm *forms, unsigned nForms, char *pHsmData, char *pOutInfo) {
    long handle = 0;
    logInPara(name, pHsmData);
    long r = hsmSequence(&handle, pOutInfo);
    if (r != 0) return r;
    if (!pOutInfo || !pHsmData || !commandOfForm(pHsmData, forms, nForms) || checkHexNumber(pHsmData) != 0)
        return hsmFail(handle, kErrArgument, pOutInfo);
    unsigned digits = static_cast<unsigned>(strlen(pHsmData));
    unsigned char command[kReloadLong.digits / 2];
    CHexToBin(reinterpret_cast<char *>(command), pHsmData, digits);
    unsigned int sw = exchange(handle, cardSlot, command, digits / 2, nullptr, 0, nullptr);
    if (sw != 0x9000) return hsmFail(handle, apduErrTanslation(sw), pOutInfo);
    pOutInfo[0] = '\0';
    closeReader(handle);
    return 0;
}

const CommandForm kReloadForms[] = {kReloadShort, kReloadLong};

}  // namespace

extern "C" {

long iReloadPIN_HSM_Step1(int iType, char *pCardInfo, char *pOutInfo) { return step1(iType, pCardInfo, pOutInfo); }

long iUnblockPIN_HSM_Step1(int iType, char *pCardInfo, char *pOutInfo) {
    return iReloadPIN_HSM_Step1(iType, pCardInfo, pOutInfo);
}

long iReloadPIN_HSM_Step2(char *pHsmData, char *pOutInfo) {
    return step2("iReloadPIN_HSM_Step2", true, pHsmData, pOutInfo);
}

long iUnblockPIN_HSM_Step2(char *pHsmData, char *pOutInfo) {
    return step2("iUnblockPIN_HSM_Step2", false, pHsmData, pOutInfo);
}

long iReloadPIN_HSM_Step3(char *pHsmData, char *pOutInfo) {
    return step3("iReloadPIN_HSM_Step3", kReloadForms, 2, pHsmData, pOutInfo);
}

long iUnblockPIN_HSM_Step3(char *pHsmData, char *pOutInfo) {
    return step3("iUnblockPIN_HSM_Step3", &kUnblock, 1, pHsmData, pOutInfo);
}

}  // extern "C"
