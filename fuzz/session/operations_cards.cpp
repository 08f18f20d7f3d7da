// SPDX-License-Identifier: MIT
// Entries of the social-security card's reads, the bank-card number, the
// card-type probe and the PSAM services.
#include <cstring>

#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::expectCardResult;
using fuzzreader::expectLogbufTerminated;
using fuzzreader::expectTextWithin;
using fuzzreader::HostBytes;
using fuzzreader::Out;

namespace {

constexpr int kCardTypeSize = 6;
constexpr int kRegionSize = 7;
constexpr int kVersionOrErrorSize = 100;
constexpr int kPsamOutSize = 256;
constexpr int kPsamMacSize = 16;
constexpr int kDivDataSize = 24;

// The host's copy of a fixed-size argument: what it gave, cut or padded
// with zeros to `size`.
HostBytes fixed(fuzzreader::HostArgs &host, size_t size, uint8_t fill) {
    HostBytes given = host.bytes(std::vector<uint8_t>(size, fill), size);
    std::vector<uint8_t> v(size, 0);
    memcpy(v.data(), given.bytes(), given.size());
    return HostBytes(v);
}

}  // namespace

KESTREL_FUZZ_OPERATION(iReadCardBas) {
    int type = host.integer(1);
    Out out(KESTREL_BASEINFO_SIZE);
    long rc = iReadCardBas(type, out.text());
    expectCardResult("iReadCardBas", rc, out);
    expectLogbufTerminated("iReadCardBas");
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iReadBankNo) {
    int type = host.integer(1);
    Out out(KESTREL_BANKNO_SIZE);
    int rc = iReadBankNo(type, out.text());
    if (rc > 0) broken("iReadBankNo", "positive result");
    expectTextWithin("iReadBankNo", out);
    expectLogbufTerminated("iReadBankNo");
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iReadCardType) {
    Out cardType(kCardTypeSize), region(kRegionSize), versionOrError(kVersionOrErrorSize);
    int rc = iReadCardType(cardType.text(), region.text(), versionOrError.text());
    if (rc < 0) expectCardResult("iReadCardType", rc, versionOrError);
    host.outcome(rc, {&cardType, &region, &versionOrError});
}

KESTREL_FUZZ_OPERATION(PSAMDes2) {
    int keyType = host.integer(0x48);
    int keyVersion = host.integer(0x01);
    HostBytes div = fixed(host, kDivDataSize, 0x11);
    HostBytes data = host.bytes(std::vector<uint8_t>(8, 0x22), 300);
    HostBytes random = host.bytes(std::vector<uint8_t>(8, 0x33), 300);
    Out out(kPsamOutSize);
    unsigned int outLen = 0;
    long reader = ICC_Reader_Open("USB1");
    long rc = PSAMDes2(reader, keyType, keyVersion, div.bytes(), kDivDataSize, data.bytes(),
                       static_cast<int>(data.size()), out.bytes(), &outLen, random.bytes(),
                       static_cast<unsigned>(random.size()));
    if (rc == 0 && outLen > kPsamOutSize) broken("PSAMDes2", "answer length past the buffer");
    ICC_Reader_Close(reader);
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(PSAMMAC2) {
    int keyType = host.integer(0x48);
    int keyVersion = host.integer(0x01);
    HostBytes div = fixed(host, kDivDataSize, 0x11);
    HostBytes iv = fixed(host, 8, 0x00);
    HostBytes data = host.bytes(std::vector<uint8_t>(9, 0x44), 300);
    HostBytes random = host.bytes(std::vector<uint8_t>(8, 0x33), 300);
    Out mac(kPsamMacSize);
    long reader = ICC_Reader_Open("USB1");
    long rc = PSAMMAC2(reader, keyType, keyVersion, div.bytes(), kDivDataSize, iv.bytes(), data.bytes(),
                       static_cast<long>(data.size()), mac.bytes(), random.bytes(),
                       static_cast<unsigned>(random.size()));
    ICC_Reader_Close(reader);
    host.outcome(rc, {&mac});
}
