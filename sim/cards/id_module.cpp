// SPDX-License-Identifier: MIT
#include "cards/id_module.h"

#include <algorithm>

namespace vr {

namespace {

constexpr uint8_t kPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};

enum : uint8_t {
    kDone = 0x90,
    kCardFound = 0x9F,
    kNoCard = 0x80,
    kNotSelected = 0x81,
    kNotRead = 0x41,
    kBadChecksum = 0x10,
    kBadLength = 0x11,
    kUnknownCommand = 0x21,
};

constexpr size_t kTextBlock = 256;

// Writes text into its place of the block, cut to fit; the place keeps its
// space padding.
void put(Bytes &block, size_t offset, size_t bytes, const std::string &text) {
    Bytes u = utf8ToUcs2le(text);
    size_t n = std::min(u.size(), bytes) & ~size_t(1);
    std::copy(u.begin(), u.begin() + static_cast<long>(n), block.begin() + static_cast<long>(offset));
}

}  // namespace

Bytes utf8ToUcs2le(const std::string &text) {
    Bytes out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp = '?';
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
            cp = (c & 0x1Fu) << 6 | (text[i + 1] & 0x3F);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
            cp = (c & 0x0Fu) << 12 | (text[i + 1] & 0x3Fu) << 6 | (text[i + 2] & 0x3F);
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;  // beyond the basic plane: "?"
        }
        out.push_back(static_cast<uint8_t>(cp));
        out.push_back(static_cast<uint8_t>(cp >> 8));
        i += len;
    }
    return out;
}

IdHolder demoResident() {
    IdHolder h;
    h.name = "\xE6\x9E\x97\xE6\x99\x93\xE5\xB2\x9A";  // 林晓岚
    h.sex = "2";
    h.ethnic = "01";
    h.birth = "19900307";
    // 江苏省南京市鼓楼区示范路18号
    h.address =
        "\xE6\xB1\x9F\xE8\x8B\x8F\xE7\x9C\x81\xE5\x8D\x97\xE4\xBA\xAC\xE5\xB8\x82\xE9\xBC\x93\xE6\xA5\xBC"
        "\xE5\x8C\xBA\xE7\xA4\xBA\xE8\x8C\x83\xE8\xB7\xAF" "18" "\xE5\x8F\xB7";
    h.number = "320106199003072026";
    // 南京市公安局鼓楼分局
    h.authority = "\xE5\x8D\x97\xE4\xBA\xAC\xE5\xB8\x82\xE5\x85\xAC\xE5\xAE\x89\xE5\xB1\x80\xE9\xBC\x93\xE6\xA5\xBC"
                  "\xE5\x88\x86\xE5\xB1\x80";
    h.validFrom = "20200115";
    h.validTo = "20400115";
    return h;
}

Bytes idTextBlock(const IdHolder &h) {
    Bytes block(kTextBlock, 0);
    for (size_t i = 0; i < kTextBlock; i += 2) block[i] = ' ';
    if (h.kind == "I") {
        put(block, 0, 120, h.latinName);
        put(block, 120, 2, h.sex);
        put(block, 122, 30, h.number);
        put(block, 152, 6, h.nationality);
        put(block, 158, 30, h.name);
        put(block, 220, 16, h.birth);
        put(block, 236, 4, h.version);
        put(block, 240, 8, h.authority);
    } else {
        put(block, 0, 30, h.name);
        put(block, 30, 2, h.sex);
        if (h.kind != "J") put(block, 32, 4, h.ethnic);
        put(block, 36, 16, h.birth);
        put(block, 52, 70, h.address);
        put(block, 122, 36, h.number);
        put(block, 158, 30, h.authority);
        if (h.kind == "J") {
            put(block, 220, 18, h.passNumber);
            put(block, 238, 4, h.issueCount);
        }
    }
    put(block, 188, 16, h.validFrom);
    put(block, 204, 16, h.validTo);
    put(block, 248, 2, h.kind);
    return block;
}

Bytes idPhoto(const IdHolder &h) {
    // A header of the module's compressed format, then a pattern that
    // depends on the holder's number.
    Bytes photo(h.photoLength);
    uint8_t seed = 0;
    for (char c : h.number) seed = static_cast<uint8_t>(seed * 31 + static_cast<uint8_t>(c));
    for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(seed + i * 7);
    const uint8_t header[] = {0x57, 0x4C, 0x66, 0x00, 0x7E, 0x00, 0x32, 0x00};
    std::copy(header, header + std::min(sizeof header, photo.size()), photo.begin());
    return photo;
}

Bytes idFrame(const Bytes &body) {
    Bytes f(kPreamble, kPreamble + sizeof kPreamble);
    size_t len = body.size() + 1;
    f.push_back(static_cast<uint8_t>(len >> 8));
    f.push_back(static_cast<uint8_t>(len));
    f.insert(f.end(), body.begin(), body.end());
    uint8_t sum = 0;
    for (size_t i = 5; i < f.size(); ++i) sum ^= f[i];
    f.push_back(sum);
    return f;
}

Bytes IdModule::reset() {
    found_ = selected_ = false;
    return {};
}

Bytes IdModule::answer(uint8_t result, const Bytes &data) const {
    Bytes body = {0x00, 0x00, result};
    body.insert(body.end(), data.begin(), data.end());
    Bytes f = idFrame(body);
    if (corruptChecksum_) f.back() ^= 0x5A;
    return withStatus(f, 0x9000);
}

Bytes IdModule::readTextAndPhoto() const {
    Bytes text = rawText_ ? *rawText_ : idTextBlock(*holder_);
    Bytes photo = idPhoto(*holder_);
    size_t t = announcedText_ >= 0 ? static_cast<size_t>(announcedText_) : text.size();
    size_t p = announcedPhoto_ >= 0 ? static_cast<size_t>(announcedPhoto_) : photo.size();
    Bytes data = {static_cast<uint8_t>(t >> 8), static_cast<uint8_t>(t), static_cast<uint8_t>(p >> 8),
                  static_cast<uint8_t>(p)};
    data.insert(data.end(), text.begin(), text.end());
    data.insert(data.end(), photo.begin(), photo.end());
    return answer(kDone, data);
}

Bytes IdModule::transmit(const Bytes &command) {
    // Anything that is not one of the module's frames.
    if (command.size() < 10 || !std::equal(kPreamble, kPreamble + sizeof kPreamble, command.begin()))
        return answer(kUnknownCommand);
    size_t len = static_cast<size_t>(command[5]) << 8 | command[6];
    if (len < 3 || 7 + len != command.size()) return answer(kBadLength);
    uint8_t sum = 0;
    for (size_t i = 5; i + 1 < command.size(); ++i) sum ^= command[i];
    if (sum != command.back()) return answer(kBadChecksum);

    uint8_t cmd = command[7], param = command[8];
    auto failure = exchangeFailures_.find({cmd, param});
    if (failure != exchangeFailures_.end()) return withStatus({}, failure->second);
    auto refusal = refusals_.find({cmd, param});
    if (refusal != refusals_.end()) return answer(refusal->second);

    if (cmd == 0x12 && param == 0xFF) {  // reset
        found_ = selected_ = false;
        return answer(kDone);
    }
    if (cmd == 0x61 && param == 0xFF) return answer(kDone);  // frame size
    if (cmd == 0x20 && param == 0x01) {                       // find
        found_ = holder_.has_value();
        selected_ = false;
        return answer(found_ ? kCardFound : kNoCard);
    }
    if (cmd == 0x20 && param == 0x02) {  // select
        selected_ = found_ && holder_.has_value();
        return answer(selected_ ? kDone : kNotSelected);
    }
    if (cmd == 0x30 && param == 0x01) {  // read text and photo
        if (!selected_ || !holder_) return answer(kNotRead);
        return readTextAndPhoto();
    }
    return answer(kUnknownCommand);
}

}  // namespace vr
