/* SPDX-License-Identifier: MIT */
// Fixture of the debit tests: the PIN tests' reader with the demonstration
// profile (a card of algorithm 2 with 500.00 in its purse, transaction
// serial 3 and two records, its PIN 123456, a PSAM of the card's region),
// a way to tamper with the answers of a card, and the debit's commands by
// name.
#pragma once

#include <functional>
#include <string>

#include "cards/psam.h"
#include "operations/debit.h"
#include "pin/pin_fixture.h"

namespace debittest {

using pintest::gb;
using sectest::at;
using sectest::Seq;
using vr::Bytes;
using vr::hex;
using vr::toHex;

constexpr const char *kPayInfo = "12.50|3.00|20240401103000|";
constexpr uint32_t kBalance = 50000;  // the demonstration purse, in fen
constexpr const char *kSelectDF04 = "00 A4 00 00 02 DF 04";
constexpr const char *kSelectEF08 = "00 A4 00 00 02 EF 08";

// A card in front of another: every command goes on to the inner card, and
// `change` may replace the answer (data and status word) of a command,
// given the command before it (for a GET RESPONSE).
class Tamper : public vr::Card {
public:
    using Change = std::function<Bytes(const Bytes &previous, const Bytes &command, Bytes answer)>;
    Tamper(std::shared_ptr<vr::Card> inner, Change change) : inner_(std::move(inner)), change_(std::move(change)) {}
    Bytes reset() override { return inner_->reset(); }
    void powerOff() override { inner_->powerOff(); }
    Bytes transmit(const Bytes &command) override {
        Bytes answer = change_(previous_, command, inner_->transmit(command));
        previous_ = command;
        return answer;
    }

private:
    std::shared_ptr<vr::Card> inner_;
    Change change_;
    Bytes previous_;
};

inline bool startsWith(const Bytes &b, const std::string &prefix) {
    Bytes p = hex(prefix);
    return b.size() >= p.size() && std::equal(p.begin(), p.end(), b.begin());
}

class DebitTest : public pintest::PinTest {
protected:
    void SetUp() override {
        PinTest::SetUp();
        if (HasFatalFailure()) return;
        findPsam();
    }

    void load(const vr::Profile &p, const vr::KeySet *psamKeys = nullptr) {
        PinTest::load(p, psamKeys);
        findPsam();
    }

    // Puts a Tamper in front of the card in the contact slot.
    void tamperWithCard(Tamper::Change change) {
        reader()->insert(0x01, std::make_shared<Tamper>(card, std::move(change)));
    }

    long debit(const char *payInfo = kPayInfo, const char *cardInfo = pintest::kCardInfo, int iType = 1) {
        std::string info = cardInfo ? cardInfo : "", pay = payInfo ? payInfo : "";
        return iDoDebit(iType, cardInfo ? &info[0] : nullptr, payInfo ? &pay[0] : nullptr, out);
    }

    // The answer that came back to a command on a slot: to the first one
    // that begins with prefix, or to the command after it (its GET
    // RESPONSE); without its status word.
    static Bytes answerTo(uint8_t slot, const std::string &prefix, bool following = false) {
        auto r = reader();
        const auto &t = r->trace();
        for (size_t i = 0; i < t.size(); i++) {
            const vr::SlotInfo *info = vr::slotByNad(t[i].nad);
            if (!info || info->slot != slot || !startsWith(t[i].command, prefix)) continue;
            size_t k = following ? i + 1 : i;
            if (k >= t.size() || t[k].response.size() < 2) return {};
            return Bytes(t[k].response.begin(), t[k].response.end() - 2);
        }
        return {};
    }

    // The commands from the first that begins with `from` on.
    static Seq seenFrom(const std::string &from) {
        Seq all = seen(), out;
        bool on = false;
        for (const std::string &c : all) {
            on = on || c == from;
            if (on) out.push_back(c);
        }
        return out;
    }

    // The READ RECORDs of transaction records sent.
    static size_t recordReads() {
        size_t n = 0;
        for (const std::string &c : seenOf({"01: 00 B2"})) n += c.size() > 6 && c.compare(c.size() - 5, 5, "04 1C") == 0;
        return n;
    }

    std::shared_ptr<vr::Psam> psam;

private:
    void findPsam() { psam = std::dynamic_pointer_cast<vr::Psam>(reader()->slot(0x11).card); }
};

// Hex of a part of a byte string.
inline std::string part(const Bytes &b, size_t from, size_t n) {
    if (from + n > b.size()) return "?";
    return toHex(Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n)));
}
// The same without blanks, as the result texts write it.
inline std::string hexText(const Bytes &b, size_t from, size_t n) {
    std::string h = part(b, from, n), out;
    for (char c : h)
        if (c != ' ') out += c;
    return out;
}

}  // namespace debittest
