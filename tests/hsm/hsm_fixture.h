/* SPDX-License-Identifier: MIT */
// Fixture of the HSM-assisted steps: the PIN fixture's virtual reader and
// profile, the software security module of the same profile answering the
// library's requests, every step's output written into a caller buffer of
// exactly its documented size, and the card's answers as the reader saw
// them.
#pragma once

#include <memory>
#include <string>

#include "guarded_buffer.h"
#include "hsm/hsm.h"
#include "pin/pin_fixture.h"
#include "soft_hsm.h"

namespace hsmtest {

using pintest::at;
using pintest::Seq;
using vr::Bytes;
using vr::hex;

constexpr const char *kCardInfo = pintest::kCardInfo;

// What a step returned and wrote.
struct Result {
    long rc;
    std::string text;
    bool operator==(const Result &o) const { return rc == o.rc && text == o.text; }
};
inline std::ostream &operator<<(std::ostream &os, const Result &r) { return os << r.rc << " \"" << r.text << "\""; }

// Four upper-case hexadecimal digits, as a key address field.
inline std::string hex4(unsigned v) {
    char s[8];
    snprintf(s, sizeof s, "%04X", v);
    return s;
}

// Bytes as hexadecimal digits without blanks, as the texts carry them.
inline std::string digits(const Bytes &b) {
    std::string h;
    for (uint8_t x : b) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", x);
        h += pair;
    }
    return h;
}

// The "|"-terminated fields of a text.
inline std::vector<std::string> fields(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        out.push_back(text.substr(start, bar - start));
    return out;
}

class HsmTest : public pintest::PinTest {
protected:
    void SetUp() override {
        PinTest::SetUp();
        if (HasFatalFailure()) return;
        use(pintest::demoWith());
    }

    // The profile in the reader and its module.
    void use(const vr::Profile &p) {
        load(p);
        hsm = std::make_unique<vr::SoftHsm>(vr::softHsmFor(p));
    }
    // The demonstration card of version 3.
    static vr::Profile version3(int algorithm = 2) {
        vr::Profile p = pintest::demoWith(algorithm);
        p.card->version = 3;
        p.card->versionText = Bytes{'3', '.', '0', '0'};
        return p;
    }

    // The demonstration card made one of another version.
    static vr::Profile ofVersion(int version) {
        if (version == 3) return version3();
        vr::Profile p = pintest::demoWith();
        p.card->version = version;
        p.card->versionText = Bytes{static_cast<uint8_t>('0' + version), '.', '0', '0'};
        return p;
    }

    // The module's answer to a request.
    std::string ask(const std::string &request) {
        std::string reply, error;
        EXPECT_TRUE(hsm->answer(request, &reply, &error)) << error << ": " << request;
        return reply;
    }

    // A step writing into a buffer of `size` bytes; text is what it wrote
    // up to its NUL.
    template <typename F>
    static Result step(size_t size, F f) {
        GuardedBuffer out(size);
        long rc = f(out.text());
        return {rc, out.str()};
    }
    static Result failure(long rc) { return {rc, errorText(static_cast<int>(rc))}; }

    static Result readStep1(int iType = 1) {
        return step(KESTREL_HSM_CARD_DATA_SIZE, [&](char *o) { return iReadCardBas_HSM_Step1(iType, o); });
    }
    static Result readStep2(std::string answer) {
        return step(KESTREL_BASEINFO_SIZE, [&](char *o) { return iReadCardBas_HSM_Step2(&answer[0], o); });
    }
    static Result pinStep1(bool unblock, std::string info = kCardInfo, int iType = 1) {
        return step(KESTREL_HSM_OUT_SIZE, [&](char *o) {
            return (unblock ? iUnblockPIN_HSM_Step1 : iReloadPIN_HSM_Step1)(iType, &info[0], o);
        });
    }
    static Result pinStep2(bool unblock, std::string answer) {
        return step(KESTREL_HSM_OUT_SIZE,
                    [&](char *o) { return (unblock ? iUnblockPIN_HSM_Step2 : iReloadPIN_HSM_Step2)(&answer[0], o); });
    }
    static Result pinStep3(bool unblock, std::string command) {
        return step(KESTREL_HSM_OUT_SIZE,
                    [&](char *o) { return (unblock ? iUnblockPIN_HSM_Step3 : iReloadPIN_HSM_Step3)(&command[0], o); });
    }

    static Result itemStep1(bool write, std::string addr, std::string info = kCardInfo, int iType = 1) {
        return step(KESTREL_HSM_OUT_SIZE, [&](char *o) {
            return (write ? iWriteCard_HSM_Step1 : iReadCard_HSM_Step1)(iType, &info[0], &addr[0], o);
        });
    }
    static Result readItemStep2(std::string answer) {
        return step(KESTREL_HSM_READ_OUT_SIZE, [&](char *o) { return iReadCard_HSM_Step2(&answer[0], o); });
    }
    static Result writeItemStep2(std::string answer, std::string data) {
        return step(KESTREL_HSM_OUT_SIZE,
                    [&](char *o) { return iWriteCard_HSM_Step2(&answer[0], &data[0], o); });
    }

    static Result debitStep1(std::string pay = "12.50|3.00|20240401103000|", std::string info = kCardInfo,
                             int iType = 1) {
        return step(KESTREL_HSM_OUT_SIZE,
                    [&](char *o) { return iDoDebit_HSM_Step1(iType, &info[0], &pay[0], o); });
    }
    static Result debitStep2(std::string answer) {
        return step(KESTREL_HSM_OUT_SIZE, [&](char *o) { return iDoDebit_HSM_Step2(&answer[0], o); });
    }

    // The data of the card's answers to commands beginning with prefix,
    // in order (status word removed).
    static std::vector<std::string> cardAnswers(const std::string &prefix) {
        std::vector<std::string> out;
        auto r = reader();
        for (const vr::Exchange &e : r->trace()) {
            const std::string c = vr::toHex(e.command);
            if (e.nad != 0x12 || c.rfind(prefix, 0) != 0 || e.response.size() < 2) continue;
            out.push_back(digits(Bytes(e.response.begin(), e.response.end() - 2)));
        }
        return out;
    }

    // A sequence is closed: no reader kept, and a later step answers -11
    // without a command.
    void expectClosed() {
        EXPECT_EQ(mHreader, -11);
        clearTrace();
        EXPECT_EQ(pinStep3(false, std::string(34, '0')), failure(-11));
        EXPECT_TRUE(seen().empty());
    }

    std::unique_ptr<vr::SoftHsm> hsm;
};

}  // namespace hsmtest
