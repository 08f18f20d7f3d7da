// SPDX-License-Identifier: MIT
// Whatever bytes arrive, the models answer with a status word and the
// profile parser with a profile or a line-numbered refusal (run under the
// sanitizers, these find reads past the end of a command or a line).
#include <random>

#include "profile.h"
#include "reader.h"
#include "sim_test_util.h"

using namespace vr;

namespace simtest {
namespace {

TEST(Robustness, RandomCommandsGetAStatusWord) {
    std::mt19937 rng(7);
    auto card = std::make_shared<SsCard>(2, 2);
    auto psam = Psam::withApplications({2, 3});
    pairWithPsam(*card, *psam, keysFromSeed("r", *card));
    // Commands built around the instructions the models know, so that the
    // random part reaches their checks.
    const uint8_t ins[] = {0xA4, 0xB2, 0xB0, 0x84, 0x82, 0x88, 0xDE, 0xFA, 0xC0, 0x19};
    const uint8_t cla[] = {0x00, 0x80, 0x84, 0xBF};
    for (Card *model : {static_cast<Card *>(card.get()), static_cast<Card *>(psam.get())}) {
        model->reset();
        for (int i = 0; i < 20000; i++) {
            if (i % 500 == 0) model->reset();
            Bytes c(rng() % 40);
            for (auto &b : c) b = static_cast<uint8_t>(rng());
            if (c.size() >= 2) {
                c[0] = cla[rng() % 4];
                c[1] = ins[rng() % 10];
            }
            if (c.size() > 5 && rng() % 2) c[4] = static_cast<uint8_t>(c.size() - 5);
            if (i % 7 == 0) c = selectByName(ssApplicationName());
            if (i % 11 == 0) c = hex("00 A4 00 00 02 DF 01");
            Bytes r = model->transmit(c);
            ASSERT_GE(r.size(), 2u) << toHex(c);
            ASSERT_LE(r.size(), 258u) << toHex(c);
        }
    }
}

TEST(Robustness, MutatedProfilesParseOrNameTheirLine) {
    std::mt19937 rng(11);
    const std::string base = demoProfileText();
    const char alphabet[] = "[]=#:.\n 0123456789ABCDEFxyz\xff\xe5";
    for (int i = 0; i < 3000; i++) {
        std::string t = base;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < edits; k++) {
            size_t at = rng() % t.size();
            switch (rng() % 3) {
            case 0: t[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
            case 1: t.erase(at, 1 + rng() % 8); break;
            default: t.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
            }
        }
        Profile p;
        std::string error;
        if (parseProfile(t, "m", &p, &error)) {
            // Whatever was accepted builds.
            Reader reader;
            insertProfile(reader, p);
        } else {
            ASSERT_EQ(error.compare(0, 2, "m:"), 0) << error;
        }
    }
}

}  // namespace
}  // namespace simtest
