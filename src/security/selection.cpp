// Selection of the social-security application at the start of every card
// operation, and what it teaches about the card: the algorithm indicator
// (block size and PSAM application of the PSAM services) and the
// specification version (data item directory).
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

// A byte string as the TLV search sees it.
struct Span {
    const unsigned char *p;
    unsigned n;
};

// The first top-level element with `tag` in `in`, copied whole into `work`
// (256 bytes); returns its value, or an empty span when there is none.
// Only the first 255 bytes of `in` are searched, the most the search
// takes.
Span valueOf(Span in, const unsigned char *tag, unsigned char *work) {
    memset(work, 0, 256);
    unsigned char copied = 0;
    unsigned char len = static_cast<unsigned char>(in.n > 255 ? 255 : in.n);
    if (tag_decodetlv(len, tag, in.p, work, &copied) == 0) return {work, 0};
    // Header of the first copy: the tag, then one length byte or 81 and
    // the length byte.  The search copies only elements that lie wholly
    // inside the data, so the declared length fits; it is bounded anyway.
    unsigned pos = (tag[0] & 0x1F) == 0x1F ? 2 : 1;
    if (pos >= copied) return {work, 0};
    unsigned declared = work[pos];
    if (declared == 0x81) {
        if (pos + 1 >= copied) return {work, 0};
        declared = work[pos + 1];
        pos += 2;
    } else {
        pos += 1;
    }
    unsigned room = copied - pos;
    return {work + pos, declared < room ? declared : room};
}

enum class FromFci { Indicator, KeepCallers, NotDeclared };

// The algorithm indicator that the file control information declares:
// 6F { A5 { 9F0C { two bytes, the second the indicator } } }, or a 9F0C
// that holds tag 86, whose first value byte is the indicator (00: keep the
// caller's value).  An FCI without 6F, A5, 9F0C or 86 declares none.
FromFci indicatorFromFci(const unsigned char *fci, unsigned fciLen, int *indicator) {
    static const unsigned char kTag6F[1] = {0x6F};
    static const unsigned char kTagA5[1] = {0xA5};
    static const unsigned char kTag9F0C[2] = {0x9F, 0x0C};
    static const unsigned char kTag86[1] = {0x86};
    unsigned char w1[256], w2[256], w3[256], w4[256];

    Span t1 = valueOf({fci, fciLen}, kTag6F, w1);
    Span t2 = valueOf(t1, kTagA5, w2);
    Span t3 = valueOf(t2, kTag9F0C, w3);
    if (t3.n == 2) {
        *indicator = t3.p[1];
        return FromFci::Indicator;
    }
    Span t4 = valueOf(t3, kTag86, w4);
    if (t4.n == 0) return FromFci::NotDeclared;
    if (t4.p[0] == 0) return FromFci::KeepCallers;
    *indicator = t4.p[0];
    return FromFci::Indicator;
}

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
    if (!alg || !version) return kErrBadArgument;
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;

    unsigned int sw = powerOnCommand(handle, cardSlot, nullptr, 0, nullptr);
    if (sw != 0x9000) return apduErrTanslation(sw);
    sw = selectApplication(handle, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);

    int indicator = *alg;
    if (indicatorFromFci(rsp, len, &indicator) == FromFci::NotDeclared) {
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
    if (!alg || !regionCode) return kErrBadArgument;
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    unsigned int sw = powerOnCommand(handle, cardSlot, nullptr, 0, nullptr);
    if (sw != 0x9000) return apduErrTanslation(sw);
    sw = selectApplication(handle, rsp, sizeof rsp, &len);
    if (sw != 0x9000) return apduErrTanslation(sw);
    sw = selectEF05(handle);
    if (sw != 0x9000) return apduErrTanslation(sw);
    unsigned char id[kCardIdSize];
    long r = readCardId(handle, id);
    if (r != 0) return r;
    *alg = indicatorByRegion(id[0]);
    m_usercardAlg = *alg;
    memcpy(regionCode, id, 3);
    return 0;
}
