// SPDX-License-Identifier: MIT
// The cells of the fault matrix (fault_matrix.h).
#include "fault_matrix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "errors/errors.h"
#include "profile.h"
#include "reader/reader.h"
#include "security/security.h"
#include "session/session.h"
#include "virtual_reader.h"

namespace faults {

const std::vector<Fault> &allFaults() {
    static const std::vector<Fault> all = {
        Fault::UnpluggedBefore, Fault::UnpluggedDuring, Fault::UnpluggedAfter, Fault::StaleReport,
        Fault::ShortReport,     Fault::EmptyReports,    Fault::OversizedReport, Fault::LenAbove61,
        Fault::LongAnswer,      Fault::ErrorAnswer,     Fault::NoAnswer,
    };
    return all;
}

std::string faultName(Fault f) {
    switch (f) {
    case Fault::UnpluggedBefore: return "UnpluggedBefore";
    case Fault::UnpluggedDuring: return "UnpluggedDuring";
    case Fault::UnpluggedAfter: return "UnpluggedAfter";
    case Fault::StaleReport: return "StaleReport";
    case Fault::ShortReport: return "ShortReport";
    case Fault::EmptyReports: return "EmptyReports";
    case Fault::OversizedReport: return "OversizedReport";
    case Fault::LenAbove61: return "LenAbove61";
    case Fault::LongAnswer: return "LongAnswer";
    case Fault::ErrorAnswer: return "ErrorAnswer";
    case Fault::NoAnswer: return "NoAnswer";
    }
    return "?";
}

void freshCards(const std::vector<std::string> &typed) {
    static const vr::Profile demo = vr::demoProfile();
    vr::Profile p = demo;
    for (const std::string &keys : typed) p.keypad.push_back(vr::typedEntry(keys));
    vr::insertProfile(*vr::VirtualReader::instance().reader(), p);
}

bool firstPsamPowerOn(size_t k, const std::vector<Step> &steps) {
    for (size_t i = 0; i < steps.size(); i++)
        if (steps[i].slot == 0x11 && steps[i].command == vr::hex("00 12 00 00 00")) return i == k;
    return false;
}

std::string cellName(const ::testing::TestParamInfo<Cell> &info) {
    return std::string(std::get<0>(info.param).name) + "_" + faultName(std::get<1>(info.param));
}

namespace {

// A slow run: under instruction-set emulation, or under valgrind, which
// sets KESTREL_FAULT_STRIDE (scripts/valgrind).  Every message costs many
// times as much there, so a fault strikes every fourth message (or every
// KESTREL_FAULT_STRIDE-th), each fault a different share of them, and an
// answer may take longer to come.
size_t faultStride() {
    if (const char *s = getenv("KESTREL_FAULT_STRIDE")) return std::max(1L, strtol(s, nullptr, 10));
    return getenv("VREADER_EMULATOR") ? 4 : 1;
}

// Waits of the matrix: a message without an answer ends after this.
const unsigned kTimeoutMs = faultStride() > 1 ? 600 : 150;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStrikesPerCell = 4;
#else
constexpr size_t kStrikesPerCell = 8;
#endif

// The stride of a cell over a session of `steps` messages.  Each strike
// costs the faulty call and the next one, and sessions run from a few
// messages to over a hundred (a write of five groups), so a fault strikes
// at most kStrikesPerCell messages of a session (4 under the sanitizers,
// 2 in a slow run), spread over it at an even stride; each fault starts
// at another message, so that together they strike the messages between.
// KESTREL_FAULT_STRIKES=n sets that number (0: every message).
size_t cellStride(size_t steps) {
    size_t strikes = faultStride() > 1 ? 2 : kStrikesPerCell;
    if (const char *s = getenv("KESTREL_FAULT_STRIKES")) strikes = static_cast<size_t>(std::max(0L, strtol(s, nullptr, 10)));
    const size_t spread = strikes == 0 ? 1 : (steps + strikes - 1) / strikes;
    return std::max({faultStride(), spread, size_t{1}});
}
// The longest answer the link takes: data and status word in 4096 bytes.
constexpr size_t kLongestAnswer = KESTREL_MAX_RESPONSE;

vr::VirtualReader &bus() { return vr::VirtualReader::instance(); }

// A reader with everything in its slots: the demonstration profile's
// card, PSAM, identity-card module, scanner, stripe and device number.
void plugFullReader() {
    bus().plug(vr::UsbVariant::Reader);
    vr::insertProfile(*bus().reader(), vr::demoProfile());
}

// After an unplugging: the reader plugged in again, with the card the
// faulty call left behind, for the record of the card's state.
void plugKeepingTheCard() {
    std::shared_ptr<vr::Card> card = bus().reader()->slot(0x01).card;
    plugFullReader();
    bus().reader()->insert(0x01, card);
}

std::vector<Step> sessionSteps() {
    std::vector<Step> steps;
    auto r = bus().reader();
    for (const auto &e : r->trace()) {
        const vr::SlotInfo *info = vr::slotByNad(e.nad);
        steps.push_back({info ? info->slot : static_cast<uint8_t>(0xEE), e.command});
    }
    return steps;
}

// The reader's own commands (power on and off, slot status) to a slot.
bool isReaderCommand(const Step &s) {
    const vr::Bytes &c = s.command;
    return s.slot != 0x00 && c.size() == 5 && c[0] == 0x00 && c[2] == 0 && c[3] == 0 && c[4] == 0 &&
           (c[1] == 0x12 || c[1] == 0x13 || c[1] == 0x14 || c[1] == 0x16);
}

// A refusal of the message: the reader's "reader error" to its own
// commands, "file not found" from a card, PSAM or module.
vr::Bytes refusalOf(const Step &s) { return isReaderCommand(s) ? vr::hex("FF FF") : vr::hex("6A 82"); }

// Arms the fault for message k of the session.
void arm(Fault f, size_t k, const Step &step) {
    if (f == Fault::StaleReport && k == 0) {
        bus().injectStaleReport(vr::hex("90 00"));
        return;
    }
    auto r = bus().reader();
    const size_t before = f == Fault::StaleReport ? k - 1 : k;
    for (size_t i = 0; i < before; i++) r->passNext();
    switch (f) {
    case Fault::UnpluggedBefore:
        break;
    case Fault::UnpluggedDuring:
        r->vanishOnNext();
        break;
    case Fault::UnpluggedAfter:
        r->vanishAfterNext();
        break;
    case Fault::StaleReport:
        r->reshapeNext([](uint8_t nad, const vr::Bytes &answer) {
            auto reports = vr::Reader::split(nad, answer);
            reports.push_back(vr::Reader::split(nad, vr::hex("90 00"))[0]);
            return reports;
        });
        break;
    case Fault::ShortReport:
        r->reshapeNext([](uint8_t nad, const vr::Bytes &answer) {
            auto reports = vr::Reader::split(nad, answer);
            reports.back().length = 40;
            return reports;
        });
        break;
    case Fault::EmptyReports:
        r->reshapeNext([](uint8_t nad, const vr::Bytes &answer) {
            auto reports = vr::Reader::split(nad, answer);
            std::vector<vr::Report> empties(3);
            for (auto &e : empties) e.length = 0;
            reports.insert(reports.begin(), empties.begin(), empties.end());
            return reports;
        });
        break;
    case Fault::OversizedReport:
        r->reshapeNext([](uint8_t nad, const vr::Bytes &answer) {
            auto reports = vr::Reader::split(nad, answer);
            reports.front().status = -EOVERFLOW;
            return reports;
        });
        break;
    case Fault::LenAbove61:
        r->reshapeNext([](uint8_t nad, const vr::Bytes &answer) {
            auto reports = vr::Reader::split(nad, answer);
            reports.front().data[2] = 0xFF;
            return reports;
        });
        break;
    case Fault::LongAnswer:
        r->reshapeNext([](uint8_t nad, const vr::Bytes &answer) {
            vr::Bytes longer(answer.begin(), answer.end() - std::min<size_t>(2, answer.size()));
            longer.resize(kLongestAnswer - 2, 0x5A);
            longer.insert(longer.end(), answer.end() - std::min<size_t>(2, answer.size()), answer.end());
            return vr::Reader::split(nad, longer);
        });
        break;
    case Fault::ErrorAnswer: {
        // The refusal in place of the answer, the command kept from the
        // card: a card that refuses a command does not carry it out.
        vr::Bytes refusal = refusalOf(step);
        if (const vr::SlotInfo *info = vr::slotByNumber(step.slot)) {
            r->replyNextWith(vr::Reader::split(info->nad, refusal));
            break;
        }
        r->reshapeNext([refusal](uint8_t nad, const vr::Bytes &) { return vr::Reader::split(nad, refusal); });
        break;
    }
    case Fault::NoAnswer:
        r->muteNext();
        break;
    }
}

// Faults that leave the answer as it was: the call must not notice them.
bool unnoticeable(Fault f) {
    return f == Fault::StaleReport || f == Fault::EmptyReports || f == Fault::OversizedReport;
}

// Faults that make the message they strike fail.
bool failsTheStep(Fault f) {
    return f == Fault::UnpluggedDuring || f == Fault::UnpluggedAfter || f == Fault::ErrorAnswer ||
           f == Fault::NoAnswer;
}

bool unplugs(Fault f) {
    return f == Fault::UnpluggedBefore || f == Fault::UnpluggedDuring || f == Fault::UnpluggedAfter;
}

std::string textIn(const std::string &buffer) { return buffer.substr(0, buffer.find('\0')); }

class Cells {
public:
    explicit Cells(const Row &row) : row_(row) {}

    void runClean() {
        plugFullReader();
        if (row_.card) {
            row_.card.restore();
            cardBefore_ = row_.card.onCard();
            readBefore_ = row_.card.readBack();
        }
        clean_ = call();
        session_ = sessionSteps();
        ASSERT_GE(clean_.code, 0) << "the operation fails without a fault";
        ASSERT_FALSE(session_.empty());
        if (!row_.card) return;
        cardAfter_ = row_.card.onCard();
        readAfter_ = row_.card.readBack();
        ASSERT_EQ(cardAfter_.size(), cardBefore_.size());
        ASSERT_EQ(readBefore_.size(), cardBefore_.size());
        ASSERT_EQ(readAfter_.size(), cardBefore_.size());
        for (size_t i = 0; i < cardBefore_.size(); i++) {
            ASSERT_NE(cardAfter_[i], cardBefore_[i]) << "the operation leaves part " << i << " as it was";
            ASSERT_NE(readAfter_[i], readBefore_[i]) << "a host does not see part " << i << " change";
        }
    }

    Outcome call() {
        if (row_.card) row_.card.restore();
        bus().reader()->clearTrace();
        return row_.call();
    }

    // The card after a faulty call: each part as before or as the clean
    // call left it; all of them changed after a success; and after a
    // failure that changed any, what a host reads back shows each part as
    // the card holds it.
    void checkCardState(const Outcome &got, const std::vector<std::string> &now, bool reported) {
        ASSERT_EQ(now.size(), cardBefore_.size());
        std::vector<bool> changed(now.size());
        bool any = false;
        for (size_t i = 0; i < now.size(); i++) {
            changed[i] = now[i] == cardAfter_[i];
            any = any || changed[i];
            EXPECT_TRUE(changed[i] || now[i] == cardBefore_[i]) << "part " << i << " left in a state of its own";
        }
        if (got.code == 0) {
            for (size_t i = 0; i < now.size(); i++) EXPECT_TRUE(changed[i]) << "success without the change of part " << i;
            return;
        }
        if (!any) return;  // the card as before, and the host told of a failure
        if (row_.card.reported) {
            EXPECT_TRUE(reported) << "a failure that changed the card without saying so";
        }
        std::vector<std::string> seen = row_.card.readBack();
        ASSERT_EQ(seen.size(), now.size());
        for (size_t i = 0; i < now.size(); i++)
            EXPECT_EQ(seen[i], changed[i] ? readAfter_[i] : readBefore_[i])
                << "part " << i << (changed[i] ? " changed" : " unchanged") << " after a failure, a host reads otherwise";
    }

    // The checks of one faulty call, then the next call on the reader as
    // the fault left it (plugged in again after an unplugging).
    void check(Fault f, size_t k) {
        SCOPED_TRACE(faultName(f) + (f == Fault::UnpluggedBefore ? std::string()
                                                                  : " at message " + std::to_string(k) + ": " +
                                                                        vr::toHex(session_[k].command)));
        const auto start = std::chrono::steady_clock::now();
        Outcome got = call();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        // Every message may wait out the time-out once, and its follow-up
        // status command once more.
        const auto bound = std::chrono::milliseconds(2 * kTimeoutMs * (session_.size() + 4) + 3000);
        EXPECT_LT(elapsed, bound);
        std::vector<std::string> onCard;
        if (row_.card) onCard = row_.card.onCard();
        const bool reported = row_.card.reported && row_.card.reported();

        EXPECT_EQ(bus().openDescriptorsSettled(0), 0) << "the reader was left open";
        for (int i = 0; i < kReaderTableSize; i++) EXPECT_LE(OpenedRHandle[i], 0) << "reader left at index " << i;

        const size_t struck = f == Fault::UnpluggedAfter ? k + 1 : k;
        if (f == Fault::UnpluggedBefore) {
            EXPECT_EQ(got.code, kErrReader);
        } else if (unnoticeable(f) || struck == session_.size()) {
            EXPECT_EQ(got.code, clean_.code);
            EXPECT_EQ(got.outputs, clean_.outputs);
        } else if (failsTheStep(f) && !row_.optional(struck, session_) &&
                   !(f == Fault::ErrorAnswer && row_.passesStatusWords)) {
            EXPECT_LT(got.code, 0) << "a failed step reported as success";
        }
        if (got.code < 0) checkText(got);

        if (unplugs(f)) row_.card ? plugKeepingTheCard() : plugFullReader();
        if (row_.card) checkCardState(got, onCard, reported);
        Outcome next = call();
        EXPECT_EQ(next.code, clean_.code) << "the next call";
        EXPECT_EQ(next.outputs, clean_.outputs) << "the next call";
    }

    void checkText(const Outcome &got) {
        if (row_.text == TextRule::None) return;
        ASSERT_LT(row_.textBuffer, got.outputs.size());
        const std::string &buffer = got.outputs[row_.textBuffer];
        switch (row_.text) {
        case TextRule::PinTable:
            if (got.code == kErrWrongPin) {
                EXPECT_FALSE(textIn(buffer).empty()) << "no retry text";
                break;
            }
            [[fallthrough]];
        case TextRule::CardTable:
            EXPECT_EQ(textIn(buffer), errorText(static_cast<int>(got.code))) << "code " << got.code;
            break;
        case TextRule::OwnText:
            EXPECT_NE(buffer.find('\0'), std::string::npos) << "a text without its NUL";
            EXPECT_FALSE(textIn(buffer).empty()) << "no text for code " << got.code;
            break;
        case TextRule::None:
            break;
        }
    }

    size_t steps() const { return session_.size(); }
    const Step &step(size_t k) const { return session_[k]; }

private:
    const Row &row_;
    Outcome clean_;
    std::vector<Step> session_;
    // The card's parts before and after the clean call, on the card and as
    // a host reads them.
    std::vector<std::string> cardBefore_, cardAfter_, readBefore_, readAfter_;
};

// The matrix's waits: the response time-out lowered, and the drain read
// before each message shortened (the virtual reader delivers a stale
// report at once), which makes a session several times faster.
class Timeouts {
public:
    Timeouts() : response_(kestrel::responseTimeoutMs), drain_(kestrel::drainTimeoutMs) {
        kestrel::responseTimeoutMs = kTimeoutMs;
        kestrel::drainTimeoutMs = 1;
    }
    ~Timeouts() {
        kestrel::responseTimeoutMs = response_;
        kestrel::drainTimeoutMs = drain_;
    }

private:
    unsigned response_, drain_;
};

}  // namespace

TEST_P(FaultMatrix, HoldsItsPromises) {
    const Row &row = std::get<0>(GetParam());
    const Fault fault = std::get<1>(GetParam());
    Timeouts timeouts;
    cardSlot = 0x01;
    psamSlot = 0x11;
    Cells cells(row);
    cells.runClean();
    if (HasFatalFailure()) return;

    if (fault == Fault::UnpluggedBefore) {
        bus().plug(vr::UsbVariant::NoReader);
        cells.check(fault, 0);
        return;
    }
    // The reader stays plugged in from one message to the next (the call
    // after an unplugging plugs it in again): each call powers its cards
    // anew.  A long session or a slow run takes every stride-th message.
    const size_t stride = cellStride(cells.steps());
    const size_t first = static_cast<size_t>(fault) * stride / allFaults().size();
    for (size_t k = first; k < cells.steps() && !HasFailure(); k += stride) {
        arm(fault, k, cells.step(k));
        cells.check(fault, k);
    }
}

}  // namespace faults
