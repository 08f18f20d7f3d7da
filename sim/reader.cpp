// SPDX-License-Identifier: MIT
#include "reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vr {

static const std::vector<SlotInfo> kSlots = {
    {0x00, 0x00, false, "reader"},
    {0x01, 0x12, false, "contact card"},
    {0x02, 0x15, false, "contactless card"},
    {0x11, 0x16, true, "PSAM 1"},
    {0x12, 0x17, true, "PSAM 2"},
    {0x13, 0x18, true, "PSAM 3"},
    {0x14, 0x19, true, "PSAM 4"},
    {0x1A, 0x1A, false, "magnetic stripe"},
    {0x1B, 0x1B, false, "identity-card module"},
    {0x1C, 0x1C, false, "QR scanner"},
};

const std::vector<SlotInfo> &allSlots() { return kSlots; }

const SlotInfo *slotByNad(uint8_t nad) {
    for (const auto &s : kSlots)
        if (s.nad == nad) return &s;
    return nullptr;
}

const SlotInfo *slotByNumber(uint8_t slot) {
    for (const auto &s : kSlots)
        if (s.slot == slot) return &s;
    return nullptr;
}

Reader::Reader() { reset(); }

void Reader::reset() {
    slots_.clear();
    for (const auto &info : kSlots) {
        Slot s;
        s.emptyPowerOnStatus = info.psam ? kSwNoCard : kSwNoCardAtPowerOn;
        slots_[info.slot] = s;
    }
    nextFaults_.clear();
    emptyReports_ = 0;
    reportDelay_ = std::chrono::microseconds(0);
    inMessage_ = false;
    msg_.clear();
    clearTrace();
}

void Reader::clearTrace() {
    trace_.clear();
    outReports_.clear();
    protocolErrors_.clear();
}

Slot &Reader::slot(uint8_t slotNumber) { return slots_[slotNumber]; }

void Reader::insert(uint8_t slotNumber, std::shared_ptr<Card> card) {
    Slot &s = slots_[slotNumber];
    s.card = std::move(card);
    s.powered = false;
}

void Reader::remove(uint8_t slotNumber) { insert(slotNumber, nullptr); }

std::vector<Bytes> Reader::commandsTo(uint8_t slotNumber) const {
    std::vector<Bytes> out;
    const SlotInfo *info = slotByNumber(slotNumber);
    if (!info) return out;
    for (const auto &e : trace_)
        if (e.nad == info->nad) out.push_back(e.command);
    return out;
}

std::vector<Report> Reader::split(uint8_t nad, const Bytes &message) {
    std::vector<Report> out;
    size_t off = 0;
    int k = 0;
    do {
        Report r;
        size_t rest = message.size() - off;
        size_t take = std::min<size_t>(rest, kReportPayload);
        bool more = rest > kReportPayload;
        r.data[0] = nad;
        // The host reads only bit 0x20 of an answer's control byte, so the
        // report count keeps to the low five bits: from the 33rd report on,
        // adding it in full would carry into the more-flag and the toggle.
        r.data[1] = static_cast<uint8_t>((more ? 0x20 : 0) | ((k & 1) ? 0x40 : 0) | (k & 0x1F));
        r.data[2] = static_cast<uint8_t>(take);
        if (take) memcpy(r.data + 3, message.data() + off, take);
        off += take;
        k++;
        out.push_back(r);
    } while (off < message.size());
    return out;
}

std::vector<Report> Reader::receive(const uint8_t *data, int length, bool *vanish, bool *vanishAfter) {
    *vanish = false;
    if (vanishAfter) *vanishAfter = false;
    Report raw;
    raw.length = length;
    memcpy(raw.data, data, std::min(length, kReportSize));
    outReports_.push_back(raw);

    char why[160];
    if (length != kReportSize) {
        snprintf(why, sizeof why, "OUT report of %d bytes", length);
        protocolErrors_.push_back(why);
        inMessage_ = false;
        return {};
    }
    uint8_t nad = data[0], control = data[1], len = data[2];
    if (inMessage_ && nad != msgNad_) {
        snprintf(why, sizeof why, "report for NAD %02X inside a message for NAD %02X", nad, msgNad_);
        protocolErrors_.push_back(why);
        inMessage_ = false;
    }
    if (!inMessage_) {
        inMessage_ = true;
        msgNad_ = nad;
        msgIndex_ = 0;
        msg_.clear();
    }
    bool more = control & 0x20;
    uint8_t expected = static_cast<uint8_t>((more ? 0x20 : 0) + ((msgIndex_ & 1) ? 0x40 : 0) + msgIndex_);
    if (control != expected || len > kReportPayload || (more && len != kReportPayload)) {
        snprintf(why, sizeof why, "report %d: control %02X (expected %02X), LEN %d", msgIndex_,
                 control, expected, len);
        protocolErrors_.push_back(why);
        inMessage_ = false;
        return {};
    }
    for (int i = 3 + len; i < kReportSize; i++) {
        if (data[i]) {
            snprintf(why, sizeof why, "report %d: byte %d past LEN is %02X", msgIndex_, i, data[i]);
            protocolErrors_.push_back(why);
            break;
        }
    }
    msg_.insert(msg_.end(), data + 3, data + 3 + len);
    msgIndex_++;
    if (more) return {};
    inMessage_ = false;

    Exchange ex;
    ex.nad = msgNad_;
    ex.command = msg_;
    std::vector<Report> out;
    Pending pending{Fault::None, {}, nullptr};
    if (!nextFaults_.empty()) {
        pending = std::move(nextFaults_.front());
        nextFaults_.erase(nextFaults_.begin());
    }
    switch (pending.fault) {
    case Fault::Mute:
        break;
    case Fault::Vanish:
        *vanish = true;
        break;
    case Fault::RawReply:
        out = std::move(pending.reports);
        ex.answered = true;
        for (const auto &r : out)
            if (r.length >= 3) {
                int n = std::min<int>(r.data[2], kReportPayload);
                ex.response.insert(ex.response.end(), r.data + 3, r.data + 3 + n);
            }
        break;
    case Fault::Reshape:
        ex.response = answer(msgNad_, msg_, &ex.answered);
        if (ex.answered) out = pending.reshape(msgNad_, ex.response);
        break;
    case Fault::VanishAfter:
    case Fault::None:
        ex.response = answer(msgNad_, msg_, &ex.answered);
        if (ex.answered) out = split(msgNad_, ex.response);
        if (pending.fault == Fault::VanishAfter) {
            if (vanishAfter && !out.empty()) *vanishAfter = true;
            else *vanish = true;
        }
        break;
    }
    if (!out.empty() && emptyReports_ > 0) {
        std::vector<Report> empties(emptyReports_);
        for (auto &e : empties) e.length = 0;
        out.insert(out.begin(), empties.begin(), empties.end());
        emptyReports_ = 0;
    }
    trace_.push_back(ex);
    if (onExchange) onExchange(ex);
    return out;
}

static bool isReaderCommand(const Bytes &c, uint8_t *ins) {
    if (c.size() != 5 || c[0] != 0x00 || c[2] || c[3] || c[4]) return false;
    if (c[1] != 0x12 && c[1] != 0x13 && c[1] != 0x14 && c[1] != 0x16) return false;
    *ins = c[1];
    return true;
}

Bytes Reader::readerCommand(const SlotInfo &info, Slot &s, uint8_t ins) {
    switch (ins) {
    case 0x12:  // power on
        if (!s.card) return withStatus({}, s.emptyPowerOnStatus);
        if (s.powerOnStatus) return withStatus({}, s.powerOnStatus);
        s.powered = true;
        return withStatus(s.card->reset(), kSwOk);
    case 0x13:  // power off
        if (!s.card) return withStatus({}, kSwNoCard);
        if (s.powered) s.card->powerOff();
        s.powered = false;
        return withStatus({}, kSwOk);
    default:  // 0x14 card status, 0x16 PSAM status
        (void)info;
        if (!s.card) return withStatus({}, kSwNoCard);
        return withStatus({}, s.powered ? kSwOk : kSwNotPowered);
    }
}

Bytes Reader::answer(uint8_t nad, const Bytes &command, bool *answered) {
    *answered = true;
    const SlotInfo *info = slotByNad(nad);
    if (!info) return withStatus({}, kSwReaderError);
    Slot &s = slots_[info->slot];
    uint8_t ins;
    // The reader's own commands, on every slot but the reader itself,
    // whose model answers everything sent to it.
    if (info->slot != 0x00 && isReaderCommand(command, &ins)) return readerCommand(*info, s, ins);
    if (s.categoryProbe >= 0 && command == Bytes{0x80, 0x17, 0x00, 0x59, 0x01})
        return withStatus({static_cast<uint8_t>(s.categoryProbe)}, kSwOk);
    // The signal after an identity card has been read.
    if (info->slot == 0x00 && command == Bytes{0x80, 0xF2, 0x00, 0x01, 0x00}) return withStatus({}, kSwOk);
    if (!s.card) return withStatus({}, info->slot == 0x00 ? 0x6D00 : kSwNoCard);
    if (info->slot != 0x00 && !s.powered && info->slot != 0x1A && info->slot != 0x1C &&
        s.card->needsPower())
        return withStatus({}, kSwNotPowered);
    if (s.mute) {
        *answered = false;
        return {};
    }
    return s.card->transmit(command);
}

}  // namespace vr
