// SPDX-License-Identifier: MIT
// The algorithm indicator parser against random and mutated file control
// information: whatever the card sends, it reads only the bytes it was
// given (an exact-size heap copy lets the sanitizers see any stray read),
// and a declared indicator is one byte of the FCI.  Through the virtual
// reader, random answers to every command of the basic information read
// never make iReadCardBas write past the host's 205 bytes or report
// success without a well-formed text.
#include <memory>
#include <random>

#include "errors/errors.h"
#include "operations/operations.h"
#include "security_fixture.h"

namespace sectest {
namespace {

using kestrel::sec::algorithmFromFci;
using kestrel::sec::FciAlgorithm;

Bytes randomBytes(std::mt19937 &rng, size_t n) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// A well-formed FCI around a random 9F0C value, then mutated: bytes
// changed, cut short or grown.
Bytes mutatedFci(std::mt19937 &rng) {
    Bytes inner = randomBytes(rng, rng() % 6);
    if (rng() % 2) inner.insert(inner.begin() + static_cast<long>(inner.empty() ? 0 : rng() % inner.size()),
                                {0x86, static_cast<uint8_t>(rng() % 3), static_cast<uint8_t>(rng() % 4)});
    Bytes fci = hex(fciWith9F0C(toHex(inner)));
    if (rng() % 8 == 0) fci.insert(fci.begin(), static_cast<size_t>(rng() % 3), rng() % 2 ? 0x00 : 0xFF);
    int edits = static_cast<int>(rng() % 4);
    for (int i = 0; i < edits && !fci.empty(); i++) {
        switch (rng() % 3) {
        case 0: fci[rng() % fci.size()] = static_cast<uint8_t>(rng()); break;
        case 1: fci.resize(rng() % fci.size()); break;
        default: fci.push_back(static_cast<uint8_t>(rng())); break;
        }
    }
    return fci;
}

TEST(AlgorithmFromFci, RandomAndMutatedInput) {
    std::mt19937 rng(5101);
    int declared = 0, kept = 0, none = 0;
    for (int round = 0; round < 200000; round++) {
        Bytes fci = round % 3 == 0 ? randomBytes(rng, rng() % 300) : mutatedFci(rng);
        if (round % 50 == 0) fci.resize(300 + rng() % 200, 0x6F);  // longer than the search takes
        std::unique_ptr<unsigned char[]> copy(new unsigned char[fci.size() + 1]);
        std::copy(fci.begin(), fci.end(), copy.get());
        int indicator = -1;
        switch (algorithmFromFci(copy.get(), static_cast<unsigned>(fci.size()), &indicator)) {
        case FciAlgorithm::Indicator:
            ASSERT_GE(indicator, 0);
            ASSERT_LE(indicator, 255);
            ASSERT_NE(std::find(fci.begin(), fci.end(), static_cast<uint8_t>(indicator)), fci.end());
            declared++;
            break;
        case FciAlgorithm::KeepCallers:
            ASSERT_EQ(indicator, -1);
            kept++;
            break;
        case FciAlgorithm::NotDeclared:
            ASSERT_EQ(indicator, -1);
            none++;
            break;
        }
    }
    // Every outcome is reached.
    EXPECT_GT(declared, 1000);
    EXPECT_GT(kept, 100);
    EXPECT_GT(none, 1000);
}

// A card that answers every command at random, with 90 00 most of the
// time so that the read gets far.
class RandomCard : public vr::Card {
public:
    explicit RandomCard(uint32_t seed) : rng_(seed) {}
    Bytes reset() override { return randomBytes(rng_, rng_() % 40); }
    Bytes transmit(const Bytes &c) override {
        Bytes a;
        if (c.size() >= 2 && c[1] == 0xA4 && c.size() > 5 && c[2] == 0x04 && rng_() % 2)
            a = mutatedFci(rng_);
        else
            a = randomBytes(rng_, rng_() % 4 == 0 ? rng_() % 300 : rng_() % 40);
        // Records that mostly carry a version the selection knows.
        if (c.size() == 5 && c[1] == 0xB2 && c[2] == 0x03 && c[4] == 0x06 && rng_() % 2)
            a = hex("03 04 " + textHex(rng_() % 2 ? "2.00" : "3.00"));
        uint16_t sw = rng_() % 10 ? 0x9000 : static_cast<uint16_t>(rng_());
        return vr::withStatus(a, sw);
    }

private:
    std::mt19937 rng_;
};

TEST_F(SecurityTest, ReadCardBasAgainstRandomAnswers) {
    std::mt19937 rng(611);
    int successes = 0;
    for (int round = 0; round < 60; round++) {
        SCOPED_TRACE(round);
        reader()->insert(0x01, std::make_shared<RandomCard>(rng()));
        reader()->insert(0x11, std::make_shared<RandomCard>(rng()));
        reader()->insert(0x00, std::make_shared<RandomCard>(rng()));
        std::unique_ptr<char[]> out(new char[kBaseInfoTextSize]);
        long rc = iReadCardBas(1, out.get());
        ASSERT_LE(rc, 0);
        if (rc == 0) {
            successes++;
            std::string text(out.get());
            ASSERT_LT(text.size(), kBaseInfoTextSize);
            ASSERT_EQ(text.back(), '|');
            ASSERT_EQ(std::string(logbuf), "iReadCardBas, out para: " + text + "\r\n");
        } else {
            ASSERT_EQ(std::string(out.get()), errorText(static_cast<int>(rc)));
        }
        ASSERT_TRUE(m_usercardVer == -1 || (m_usercardVer >= 1 && m_usercardVer <= 3));
    }
    EXPECT_GT(successes, 0);
}

}  // namespace
}  // namespace sectest
