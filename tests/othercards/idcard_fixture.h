/* SPDX-License-Identifier: MIT */
// Fixture of the identity-card tests: the virtual reader with the
// identity-card module in slot 0x1B, a card in its field, and helpers to
// state expected texts.
#pragma once

#include <iconv.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cards/id_module.h"
#include "fixture.h"
#include "kestrel.h"
#include "othercards/othercards.h"
#include "reader/reader.h"
#include "session/session.h"

namespace idtest {

// Texts of the tests are written in UTF-8 (as escapes); the library
// answers in GB18030.
inline std::string gb(const std::string &utf8) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    std::vector<char> out(utf8.size() * 2 + 4);
    char *in = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *dst = out.data();
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    EXPECT_NE(r, static_cast<size_t>(-1)) << "not convertible: " << utf8;
    return std::string(out.data(), static_cast<size_t>(dst - out.data()));
}

// Some texts, in UTF-8.
inline const std::string kMaleU = "\xE7\x94\xB7";                     // 男
inline const std::string kFemaleU = "\xE5\xA5\xB3";                   // 女
inline const std::string kHanU = "\xE6\xB1\x89\xE6\x97\x8F";          // 汉族
inline const std::string kLongTermU = "\xE9\x95\xBF\xE6\x9C\x9F";     // 长期
inline const std::string kNoCardU = "\xE6\x97\xA0\xE5\x8D\xA1";       // 无卡
inline const std::string kReadFailedU =                              // 读身份证失败
    "\xE8\xAF\xBB\xE8\xBA\xAB\xE4\xBB\xBD\xE8\xAF\x81\xE5\xA4\xB1\xE8\xB4\xA5";
inline const std::string kResetFailedU = "\xE5\xA4\x8D\xE4\xBD\x8D\xE5\xA4\xB1\xE8\xB4\xA5";  // 复位失败
inline const std::string kReaderErrorU =                             // 读卡器连接错
    "\xE8\xAF\xBB\xE5\x8D\xA1\xE5\x99\xA8\xE8\xBF\x9E\xE6\x8E\xA5\xE9\x94\x99";

// The module's frames as the library sends them.
constexpr const char *kPowerOn = "1B: 00 12 00 00 00";
constexpr const char *kCardStatus = "1B: 00 14 00 00 00";
constexpr const char *kResetFrame = "1B: AA AA AA 96 69 00 03 12 FF EE";
constexpr const char *kSizeFrame = "1B: AA AA AA 96 69 00 04 61 FF 78 E2";
constexpr const char *kFindFrame = "1B: AA AA AA 96 69 00 03 20 01 22";
constexpr const char *kSelectFrame = "1B: AA AA AA 96 69 00 03 20 02 21";
constexpr const char *kReadFrame = "1B: AA AA AA 96 69 00 03 30 01 32";
constexpr const char *kReadDone = "00: 80 F2 00 01 00";

// A resident identity card with plain texts, so that expected outputs are
// easy to state.
inline vr::IdHolder plainResident() {
    vr::IdHolder h;
    h.name = "\xE6\x9E\x97\xE6\x99\x93\xE5\xB2\x9A";  // 林晓岚
    h.sex = "1";
    h.ethnic = "01";
    h.birth = "19900307";
    h.address = "ADDRESS LINE 18";
    h.number = "320106199003072026";
    h.authority = "AUTH OFFICE";
    h.validFrom = "20200115";
    h.validTo = "20400115";
    h.photoLength = 1024;
    return h;
}

class IdCardTest : public vr::VirtualReaderTest {
protected:
    void SetUp() override {
        VirtualReaderTest::SetUp();
        module = std::make_shared<vr::IdModule>(plainResident());
        reader()->insert(0x1B, module);
        std::memset(out, 0xA5, sizeof out);
        std::memset(photo, 0xA5, sizeof photo);
    }
    void TearDown() override { EXPECT_TRUE(reader()->protocolErrors().empty()); }

    void holder(const vr::IdHolder &h) { module->setCard(h); }

    // Every message the reader received, as "<slot>: <bytes>".
    static std::vector<std::string> seen() {
        std::vector<std::string> s;
        auto r = reader();
        for (const auto &e : r->trace()) {
            const vr::SlotInfo *info = vr::slotByNad(e.nad);
            char slot[8];
            snprintf(slot, sizeof slot, "%02X: ", info ? info->slot : 0xEE);
            s.push_back(slot + vr::toHex(e.command));
        }
        return s;
    }

    // The reader was closed: a new open of USB1 gets the first index again,
    // and the reader table holds nothing open.
    static bool readerClosed() {
        for (int i = 0; i < 10; ++i)
            if (OpenedRHandle[i] > 0) return false;
        return true;
    }

    std::string text() const { return std::string(out); }

    std::shared_ptr<vr::IdModule> module;
    char out[4096 + 64];
    char photo[KESTREL_ID_PHOTO_HEX_SIZE + 64];
};

}  // namespace idtest
