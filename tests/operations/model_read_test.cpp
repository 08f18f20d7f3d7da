// SPDX-License-Identifier: MIT
// iReadCardBas end to end against the modelled social-security cards and
// PSAMs of the committed card profiles: the demonstration card byte for
// byte with every APDU, and the version 1, 2 and 3 profiles.
#include <fstream>
#include <sstream>

#include "profile.h"
#include "errors/errors.h"
#include "security/security_fixture.h"

namespace sectest {
namespace {

vr::Profile profileFile(const char *name) {
    // The committed profiles beside the simulator's sources.
    std::string path = __FILE__;
    path = path.substr(0, path.rfind("/tests/")) + "/sim/profiles/" + name;
    vr::Profile p;
    std::string error;
    EXPECT_TRUE(vr::loadProfile(path, &p, &error)) << error;
    return p;
}

std::string asText(const Bytes &b) {
    std::string s(b.begin(), b.end());
    return s.substr(0, s.find('\0'));
}

class ModelRead : public SecurityTest {
protected:
    long run(const vr::Profile &p) {
        {
            auto r = reader();
            vr::insertProfile(*r, p);
            r->clearTrace();
        }
        std::memset(out, 0x7E, sizeof out);
        return iReadCardBas(1, out);
    }
    char out[KESTREL_BASEINFO_SIZE];
};

TEST_F(ModelRead, DemonstrationCard) {
    ASSERT_EQ(run(vr::demoProfile()), 0);
    const std::string expected =
        "430105|430105198001010042|K43000042|430105D1560000050000000000000042|"
        "\xD5\xC5\xC8\xFD"  // 张三
        "|00814B45535343000000000042|2.00|20240301|20340301|430105000007|KVR1-000000000000042|";
    EXPECT_EQ(std::string(out), expected);
    EXPECT_EQ(std::string(logbuf), "iReadCardBas, out para: " + expected + "\r\n");
    EXPECT_EQ(m_usercardVer, 2);
    EXPECT_EQ(m_usercardAlg, 2);
    // The model holds the FCI back for GET RESPONSE, and answers the name
    // extension's Le of 20 with 6C 16.
    const Seq selection{at(1, kPowerOn), at(1, kSelectApp), at(1, "00 C0 00 00 1D"), at(1, kSelectEF05)};
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn)} + selection + Seq{at(1, kReadVersion), at(1, kReadCardId)} + selection +
                          Seq{at(1, kReadCardId), at(1, kSelectEF05), at(1, kReadCardId), at(1, kReadVersion),
                              at(1, kReadIssue), at(1, kReadExpiry), at(1, kReadCardNo), at(1, kSelectEF06),
                              at(1, kReadSsn), at(1, kReadName), at(1, kReadNameExt), at(1, "00 B2 03 04 16"),
                              at(0x11, kPowerOn), at(0x11, kSelectTerminal), at(0x11, kReadTerminal),
                              at(0, kDeviceQuery)}));
    EXPECT_EQ(mHreader, -11);
}

TEST_F(ModelRead, Version1CardOfRegion33) {
    vr::Profile p = profileFile("v1.profile");
    ASSERT_EQ(run(p), 0);
    // No algorithm in the FCI: the region (33) makes it 1; the name fills
    // all 30 bytes and no extension is read.
    EXPECT_EQ(std::string(out), "330102|33010219700101001X|A33000101|330102D1560000050000000000000001|" +
                                    asText(p.card->name) +
                                    "|00814B45535343000000000101|1.00|20150601|20250601|330102000011|"
                                    "KVR1-V1-000000000001|");
    EXPECT_EQ(p.card->name.size(), 30u);
    EXPECT_EQ(m_usercardAlg, 1);
    EXPECT_EQ(m_usercardVer, 1);
    Seq s = seen();
    EXPECT_EQ(std::count(s.begin(), s.end(), at(1, kReadNameExt)), 0);
    EXPECT_EQ(std::count(s.begin(), s.end(), at(1, kReadCardId)), 4);  // fallback, version, div data, read
}

TEST_F(ModelRead, Version2CardWithoutPsamTerminalFileOrDeviceNumber) {
    vr::Profile p = profileFile("v2.profile");
    ASSERT_EQ(run(p), 0);
    // The name of 30 bytes continues in its extension; the PSAM sits in
    // slot 12 (none in 11) and the reader tells no device number.
    EXPECT_EQ(std::string(out), "370102|370102199912310022|B37000202|370102D1560000050000000000000001|" +
                                    asText(p.card->name) + asText(p.card->nameExtension) +
                                    "|00814B45535343000000000202|2.00|20200101|20300101|000000000000|");
    EXPECT_EQ(asText(p.card->name).size(), 30u);
    EXPECT_FALSE(asText(p.card->nameExtension).empty());
    EXPECT_EQ(m_usercardAlg, 3);
    Seq s = seen();
    EXPECT_EQ(Seq(s.end() - 2, s.end()), (Seq{at(0x11, kPowerOn), at(0, kDeviceQuery)}));
}

TEST_F(ModelRead, Version3CardProtectsTheHolderFile) {
    vr::Profile p = profileFile("v3.profile");
    // Without external authentication the card refuses the holder's file.
    long rc = run(p);
    EXPECT_EQ(rc, -27010);
    EXPECT_EQ(std::string(out), errorText(-27010));
    EXPECT_EQ(std::string(logbuf),
              std::string("getErrorInf, code:-27010, error info ") + errorText(-27010) + "\r\n");
    EXPECT_EQ(seen().back(), at(1, kReadSsn));
    EXPECT_EQ(m_usercardVer, 3);
    EXPECT_EQ(m_usercardAlg, 2);  // from tag 86
}

TEST_F(ModelRead, Version3CardWithAFreeHolderFile) {
    vr::Profile p = profileFile("v3.profile");
    auto card = vr::buildCard(p);
    card->file(0, 0xEF06)->read = vr::DirAccess{};
    vr::KeySet keys = vr::buildKeys(p, card.get());
    {
        auto r = reader();
        vr::insertProfile(*r, p);
        r->insert(0x01, card);
        r->clearTrace();
    }
    ASSERT_EQ(iReadCardBas(1, out), 0);
    EXPECT_EQ(std::string(out), "110105|110105200001010033|C11000303|110105D1560000050000000000000001|"
                                "\xC0\xEE\xCB\xC4"  // 李四
                                "|00814B45535343000000000303|3.00|20250101|20350101|110105000033|"
                                "KVR1-V3|");
    Seq s = seen();
    EXPECT_EQ(std::count(s.begin(), s.end(), at(1, kReadNameExt)), 1);
}

}  // namespace
}  // namespace sectest
