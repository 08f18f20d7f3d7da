// SPDX-License-Identifier: MIT
// Rows of the step sequences of the basic information, the PIN reload and
// the PIN unblock with the host's security module: each row is
// a whole sequence as a host runs it, the software module of the
// demonstration profile answering each step's text, stopping at the first
// step that fails.  The outcome's first buffer is the text of the step the
// sequence ended with (its failure text), then every step's output.
#include <memory>

#include "fault_matrix.h"
#include "kestrel.h"
#include "profile.h"
#include "soft_hsm.h"

namespace faults {
namespace {

const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";

// The module's answer to a step's text; a text it cannot answer (after a
// fault reshaped what the step wrote) gets 32 zero digits, which the card
// refuses.
std::string moduleAnswer(const std::string &request) {
    static const vr::SoftHsm hsm = vr::softHsmFor(vr::demoProfile());
    std::string reply, error;
    return hsm.answer(request, &reply, &error) ? reply : std::string(32, '0');
}

// The outcome of a sequence whose steps wrote `outs`, the last of them the
// step it ended with.
Outcome sequenceOutcome(long rc, const std::vector<GuardedBuffer *> &outs) {
    Outcome o{rc, {bytesOf(*outs.back())}};
    for (GuardedBuffer *b : outs) o.outputs.push_back(bytesOf(*b));
    return o;
}

Outcome basicInfo() {
    freshCards();
    GuardedBuffer data(KESTREL_HSM_CARD_DATA_SIZE, 0), info(KESTREL_BASEINFO_SIZE, 0);
    long rc = iReadCardBas_HSM_Step1(1, data.text());
    if (rc != 0) return sequenceOutcome(rc, {&data});
    std::string answer = moduleAnswer(data.str());
    rc = iReadCardBas_HSM_Step2(&answer[0], info.text());
    return sequenceOutcome(rc, {&data, &info});
}

Outcome pinSequence(bool unblock) {
    freshCards(unblock ? std::vector<std::string>{} : std::vector<std::string>{"123456", "123456"});
    std::string info = kCardInfo;
    GuardedBuffer challenge(KESTREL_HSM_OUT_SIZE, 0), request(KESTREL_HSM_OUT_SIZE, 0), done(KESTREL_HSM_OUT_SIZE, 0);
    long rc = (unblock ? iUnblockPIN_HSM_Step1 : iReloadPIN_HSM_Step1)(1, &info[0], challenge.text());
    if (rc != 0) return sequenceOutcome(rc, {&challenge});
    std::string cryptogram = moduleAnswer(challenge.str());
    rc = (unblock ? iUnblockPIN_HSM_Step2 : iReloadPIN_HSM_Step2)(&cryptogram[0], request.text());
    if (rc != 0) return sequenceOutcome(rc, {&challenge, &request});
    std::string command = moduleAnswer(request.str());
    rc = (unblock ? iUnblockPIN_HSM_Step3 : iReloadPIN_HSM_Step3)(&command[0], done.text());
    return sequenceOutcome(rc, {&challenge, &request, &done});
}

// The basic information shows the PSAM's terminal number as zeros without
// a PSAM and the device number as an empty field without one.
bool psamOrDevice(size_t k, const std::vector<Step> &s) {
    return (s[k].slot >= 0x11 && s[k].slot <= 0x14) || s[k].slot == 0x00;
}

const Row kRows[] = {
    {"iReadCardBas_HSM", basicInfo, TextRule::CardTable, psamOrDevice},
    {"iReloadPIN_HSM", [] { return pinSequence(false); }, TextRule::CardTable, noOptionalStep},
    {"iUnblockPIN_HSM", [] { return pinSequence(true); }, TextRule::CardTable, noOptionalStep},
};

}  // namespace

FAULT_MATRIX_ROWS(HsmPin, kRows);

}  // namespace faults
