/* SPDX-License-Identifier: MIT */
// Helpers of the simulator's tests: commands to a card model with the T=0
// follow-ups a terminal makes, and the PSAM work of a terminal that
// authenticates itself to a card.
#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "bytes.h"
#include "cards/psam.h"
#include "cards/ss_card.h"

namespace simtest {

using vr::Bytes;

// One command with the T=0 follow-ups: GET RESPONSE after 61xx, the
// command again with the right Le after 6Cxx.  Returns data + SW1 SW2.
inline Bytes transact(vr::Card &card, Bytes command) {
    Bytes r = card.transmit(command);
    int sw = vr::statusWord(r);
    if ((sw >> 8) == 0x61) r = card.transmit({0x00, 0xC0, 0x00, 0x00, static_cast<uint8_t>(sw)});
    sw = vr::statusWord(r);
    if ((sw >> 8) == 0x6C && command.size() == 5) {
        command[4] = static_cast<uint8_t>(sw);
        r = card.transmit(command);
    }
    return r;
}
inline Bytes transact(vr::Card &card, const std::string &command) { return transact(card, vr::hex(command)); }

inline int swOf(const Bytes &r) { return vr::statusWord(r); }
inline Bytes dataOf(const Bytes &r) { return Bytes(r.begin(), r.end() - 2); }

inline Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes selectByName(const Bytes &name) {
    Bytes c = vr::hex("00 A4 04 00");
    c.push_back(static_cast<uint8_t>(name.size()));
    return concat(c, name);
}

// A terminal's use of the PSAM: power-on, the application of the card's
// algorithm, DF01, key initialisation at the level of the type byte.
struct PsamSession {
    vr::Psam &psam;
    int algorithm;

    size_t block() const { return algorithm == 2 || algorithm == 3 ? 16 : 8; }

    // Returns the status word of the key initialisation (or of the first
    // step that failed).
    int initialise(vr::KeyRef ref, const Bytes &divData, const Bytes &random) {
        psam.reset();
        if (algorithm == 2 || algorithm == 3) {
            Bytes r = transact(psam, selectByName(vr::psamApplicationName(algorithm)));
            if (swOf(r) != 0x9000) return swOf(r);
        }
        int sw = swOf(transact(psam, "00 A4 00 00 02 DF 01"));
        if (sw != 0x9000) return sw;
        size_t n = static_cast<size_t>(ref.level()) * 8;
        Bytes data(divData.begin(), divData.begin() + static_cast<long>(std::min(n, divData.size())));
        data = concat(data, random);
        Bytes c = {0xBF, 0xDE, ref.typeByte, ref.version, static_cast<uint8_t>(data.size())};
        return swOf(transact(psam, concat(c, data)));
    }

    Bytes encrypt(const Bytes &data) {
        Bytes c = {0x80, 0xFA, 0x00, 0x00, static_cast<uint8_t>(data.size())};
        return transact(psam, concat(c, data));
    }
    Bytes mac(const Bytes &iv, const Bytes &padded) {
        Bytes d = concat(iv, padded);
        Bytes c = {0x80, 0xFA, 0x05, 0x00, static_cast<uint8_t>(d.size())};
        return transact(psam, concat(c, d));
    }

    // The external-authentication cryptogram for challenges r1, r2 as a
    // terminal computes it: the PSAM encrypts R1 under the working key of
    // R2; 16-byte results are folded.  Empty when the PSAM refused.
    Bytes cryptogram(vr::KeyRef ref, const Bytes &divData, const Bytes &r1, const Bytes &r2) {
        if (initialise(ref, divData, vr::padTo(r2, block())) != 0x9000) return {};
        Bytes e = encrypt(vr::padTo(r1, block()));
        if (swOf(e) != 0x9000) return {};
        return vr::fold(dataOf(e));
    }
};

// EXTERNAL AUTHENTICATE with key kid: cryptogram, then R1.
inline Bytes externalAuthenticate(uint8_t kid, const Bytes &cryptogram, const Bytes &r1) {
    Bytes c = {0x00, 0x82, 0x00, kid, 0x10};
    return concat(concat(c, cryptogram), r1);
}

}  // namespace simtest
