// SPDX-License-Identifier: MIT
// Powering the PSAM and selecting its application for the card's
// algorithm.
#include <cstring>

#include "reader/reader.h"
#include "session/session.h"

namespace {

constexpr unsigned char kFirstPsamSlot = 0x11;

// SELECT by DF name of "sx2.sh.社会保障"; the digit after "sx" is set to the
// algorithm.  The Chinese is GB18030.
const unsigned char kSelectPsamApplication[20] = {
    0x00, 0xA4, 0x04, 0x00, 0x0F,
    's', 'x', '2', '.', 's', 'h', '.',
    0xC9, 0xE7, 0xBB, 0xE1, 0xB1, 0xA3, 0xD5, 0xCF,  // 社会保障
};
constexpr int kAlgorithmDigit = 7;

}  // namespace

unsigned int selectPsamApplication(long reader, int alg) {
    unsigned char select[sizeof kSelectPsamApplication];
    memcpy(select, kSelectPsamApplication, sizeof select);
    select[kAlgorithmDigit] = static_cast<unsigned char>('0' + alg);
    unsigned char rsp[kT0ResponseArea];
    unsigned int len = 0;
    return IccExchangeT0(reader, psamSlot, sizeof select, select, &len, rsp, sizeof rsp);
}

long findAndOpenPSAM(long reader, int alg) {
    char answer[64];
    memset(answer, 0, sizeof answer);
    if (ICC_Reader_PowerOn(reader, psamSlot, answer) < 0) {
        psamSlot = kFirstPsamSlot;
        if (ICC_Reader_PowerOn(reader, psamSlot, answer) < 0) return kErrNoPsam;
    }
    if (alg != 2 && alg != 3) return 0;
    return selectPsamApplication(reader, alg) == 0x9000 ? 0 : kErrPsamApplication;
}
