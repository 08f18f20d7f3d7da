// SPDX-License-Identifier: MIT
#include "cards/ss_payment.h"

#include "cards/ss_card.h"

namespace vr {

namespace {

constexpr int kMasterFile = 0;

Bytes tlv(const Bytes &tag, const Bytes &value) {
    Bytes out = tag;
    if (value.size() > 127) out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kLabel = {'K', 'E', 'S', 'T', 'R', 'E', 'L', ' ', 'P', 'A', 'Y'};
// Language preference "zh", in the environment's FCI beside tag 88.
const Bytes kLanguage = {'z', 'h'};

CardFile recordFile(int sfi, std::vector<Bytes> records) {
    CardFile f;
    f.id = static_cast<uint16_t>(0xEF00 | (sfi & 0x1F));
    f.structure = kFixedRecords;
    f.records = std::move(records);
    return f;
}

}  // namespace

Bytes paymentEnvironmentName() {
    const std::string name = "1PAY.SYS.DDF01";
    return Bytes(name.begin(), name.end());
}

Bytes defaultPaymentAid() { return hex("F0 4B 45 53 54 52 45 4C 01"); }

Bytes packedDigits(const std::string &digits) {
    Bytes out((digits.size() + 1) / 2, 0xFF);
    for (size_t i = 0; i < digits.size(); i++) {
        uint8_t d = static_cast<uint8_t>(digits[i] - '0');
        out[i / 2] = i % 2 ? static_cast<uint8_t>((out[i / 2] & 0xF0) | d) : static_cast<uint8_t>((d << 4) | 0x0F);
    }
    return out;
}

void SsCard::addPaymentApplication(const PaymentApplication &app) {
    if (app.environment) {
        CardDf pse;
        pse.name = paymentEnvironmentName();
        pse.parent = kMasterFile;
        Bytes proprietary = tlv(hex("5F 2D"), kLanguage);
        if (app.directoryFileTag)
            proprietary = join({tlv({0x88}, {static_cast<uint8_t>(app.directoryFile)}), proprietary});
        pse.fci = tlv({0x6F}, join({tlv({0x84}, pse.name), tlv({0xA5}, proprietary)}));
        Bytes entry = tlv({0x50}, kLabel);
        if (app.aidTag) entry = join({tlv({0x4F}, app.aid), entry});
        pse.files.push_back(recordFile(app.directoryFile, {tlv({0x70}, tlv({0x61}, entry))}));
        dfs_.push_back(std::move(pse));
    }

    CardDf adf;
    adf.name = app.aid;
    adf.parent = kMasterFile;
    adf.fci = tlv({0x6F}, join({tlv({0x84}, app.aid), tlv({0xA5}, tlv({0x50}, kLabel))}));
    // Records before the account number's hold other data of the
    // application (its version number).
    std::vector<Bytes> records(static_cast<size_t>(app.record > 1 ? app.record - 1 : 0), tlv({0x70}, tlv(hex("9F 08"), hex("00 30"))));
    Bytes sequenceNumber = tlv(hex("5F 34"), {0x00});
    records.push_back(tlv({0x70}, app.accountNumberTag ? join({tlv({0x5A}, app.accountNumber), sequenceNumber})
                                                        : sequenceNumber));
    adf.files.push_back(recordFile(app.file, std::move(records)));
    dfs_.push_back(std::move(adf));
}

}  // namespace vr
