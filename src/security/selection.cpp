// SPDX-License-Identifier: MIT
// Selection of the social-security application at the start of every card
// operation, and what it teaches about the card: the algorithm indicator
// (block size and PSAM application of the PSAM services) and the
// card version (which data item directory applies).
#include <cstring>

#include "errors/errors.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;

int m_usercardAlg = 1;
int m_usercardVer = -1;

namespace {

const unsigned char kReadVersion[5] = {0x00, 0xB2, 0x03, 0x04, 0x06};
constexpr unsigned kRecordHeader = 2;
constexpr unsigned kVersionSize = 4;

// Region bytes (first byte of the card identification code) with rules of
// their own.
constexpr unsigned char kRegionAlgorithm2 = 0x11;
constexpr unsigned char kRegion33 = 0x33;

// The indicator of a card that declares none: 2 for the region 0x11,
// 1 for any other.
int indicatorByRegion(unsigned char regionByte) { return regionByte == kRegionAlgorithm2 ? 2 : 1; }

// The version that the version text and the region byte stand for, the
// text corrected where needed; -1 when not recognised (text "0.00").
int classifyVersion(char *text, unsigned char region) {
    if ((region == 0x14 || region == 0x15 || region == 0x35) && text[0] == '2') {
        memcpy(text, "1.00", kVersionSize);
        return 1;
    }
    if (region == kRegion33 && text[0] == '1') {
        memcpy(text, "1.00", kVersionSize);
        return 1;
    }
    if (memcmp(text, "1.0", 3) == 0) return 1;
    if (memcmp(text, "2.0", 3) == 0) return 2;
    if (memcmp(text, "3.0", 3) == 0) return 3;
    memcpy(text, "0.00", kVersionSize);
    return -1;
}

}  // namespace

long selectSSSE(long handle, int *alg, char *version, bool versionRequired) {
    if (!alg || !version) return kErrArgument;
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;

    unsigned int sw = powerOnCommand(handle, cardSlot, nullptr, 0, nullptr);
    if (sw != 0x9000) return apduErrTanslation(sw);
    sw = selectApplication(handle, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);

    int indicator = *alg;
    if (algorithmFromFci(rsp, len, &indicator) == FciAlgorithm::NotDeclared) {
        sw = selectEF05(handle);
        if (sw != 0x9000) return apduErrTanslation(sw);
        unsigned char id[kCardIdSize];
        long r = readCardId(handle, id);
        if (r != 0) return r;
        indicator = indicatorByRegion(id[0]);
    }
    *alg = indicator;
    m_usercardAlg = indicator;

    sw = selectEF05(handle);
    if (sw != 0x9000) return apduErrTanslation(sw);
    sw = exchange(handle, cardSlot, kReadVersion, sizeof kReadVersion, rsp, sizeof rsp, &len);
    // The version record unreadable, or too short to hold the version.
    if (sw != 0x9000 || len < kRecordHeader + kVersionSize) return kErrVersion;
    char text[kVersionSize];
    memcpy(text, rsp + kRecordHeader, kVersionSize);
    memcpy(version, text, kVersionSize);

    int ver;
    static const char kEmpty[kVersionSize] = {0, 0, 0, 0};
    if (memcmp(text, kEmpty, kVersionSize) == 0) {
        // Cards that leave the record empty are of the first version.
        memcpy(text, "1.00", kVersionSize);
        ver = 1;
    } else {
        unsigned char id[kCardIdSize];
        long r = readCardId(handle, id);
        if (r != 0) return r;
        ver = classifyVersion(text, id[0]);
    }
    memcpy(version, text, kVersionSize);
    m_usercardVer = ver;
    if (ver == -1 && versionRequired) return kErrVersion;
    return 0;
}

long selectFKJG(long handle, int *alg, char *version, unsigned char *regionCode) {
    (void)version;
    if (!alg || !regionCode) return kErrArgument;
    unsigned char id[kCardIdSize];
    long r = powerAndIdentify(handle, nullptr, nullptr, id);
    if (r != 0) return r;
    *alg = indicatorByRegion(id[0]);
    m_usercardAlg = *alg;
    memcpy(regionCode, id, 3);
    return 0;
}
