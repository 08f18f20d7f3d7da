/* SPDX-License-Identifier: MIT */
// The reader behind the USB interface: reassembles the HID reports it
// receives into messages, answers its own commands, passes everything else
// to the model in the addressed slot, and cuts the answer into reports.
//
// Not thread-safe by itself: the virtual reader calls it with its lock held.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "card.h"

namespace vr {

constexpr int kReportSize = 64;
constexpr int kReportPayload = 61;

// One report as it travels on the interrupt endpoint.  A zero length
// stands for a transfer that completed without data.  A status of
// -EOVERFLOW completes the transfer as the host sees a device that sent
// more than the 64 bytes asked for: the bytes that fit, and the error.
struct Report {
    uint8_t data[kReportSize] = {};
    int length = kReportSize;
    int status = 0;
};

// One message received, with what the reader answered to it.
struct Exchange {
    uint8_t nad = 0;
    Bytes command;
    Bytes response;     // data + SW1 SW2 as sent; empty when nothing was sent
    bool answered = false;
};

// The reader's own status words.
enum : uint16_t {
    kSwOk = 0x9000,
    kSwNoCardAtPowerOn = 0x6200,
    kSwNoCard = 0xFF05,
    kSwNotPowered = 0xFF10,
    kSwWrongCardType = 0xFF12,
    kSwReaderError = 0xFFFF,
};

// Slot numbers of the reader and the node addresses they answer on.
struct SlotInfo {
    uint8_t slot;
    uint8_t nad;
    bool psam;
    const char *name;
};
const SlotInfo *slotByNad(uint8_t nad);
const SlotInfo *slotByNumber(uint8_t slot);
const std::vector<SlotInfo> &allSlots();

// Per-slot state and settings.
struct Slot {
    std::shared_ptr<Card> card;       // null: empty slot
    bool powered = false;
    // Status word the reader answers to power-on instead of the answer to
    // reset (for example 0xFF12 for a card of the wrong type); 0 = none.
    uint16_t powerOnStatus = 0;
    // Status word of a power-on of the empty slot: 0x6200 or 0xFF05.
    uint16_t emptyPowerOnStatus = 0;
    // When set, commands to the card are never answered (the reader's own
    // commands still are).
    bool mute = false;
    // Category byte with which the reader itself answers the card category
    // probe 80 17 00 59 01 on this slot (the byte, then 90 00), whether or
    // not a card is there; -1: the probe goes to the card like any command.
    int categoryProbe = -1;
};

// What the reader does with the next complete message it receives.
enum class Fault {
    None,
    Mute,          // no answer at all
    Vanish,        // the reader disappears from the bus
    RawReply,      // answer with the given reports instead
    Reshape,       // answer with reports made of the slot's answer
    VanishAfter,   // answer, then disappear once the answer has been read
};

// Makes the reports of an answer (data and SW1 SW2, as the slot gave it)
// for the node address nad.
using Reshaper = std::function<std::vector<Report>(uint8_t nad, const Bytes &answer)>;

class Reader {
public:
    Reader();

    // Back to a reader with empty slots, no faults and an empty trace.
    void reset();

    Slot &slot(uint8_t slotNumber);
    void insert(uint8_t slotNumber, std::shared_ptr<Card> card);
    void remove(uint8_t slotNumber);

    // --- faults, each for the next message received ---
    void muteNext() { nextFaults_.push_back({Fault::Mute, {}, nullptr}); }
    void vanishOnNext() { nextFaults_.push_back({Fault::Vanish, {}, nullptr}); }
    void replyNextWith(std::vector<Report> reports) {
        nextFaults_.push_back({Fault::RawReply, std::move(reports), nullptr});
    }
    // The next message is answered as usual: queued before a fault, it
    // aims the fault at a later message.
    void passNext() { nextFaults_.push_back({Fault::None, {}, nullptr}); }
    void reshapeNext(Reshaper reshape) { nextFaults_.push_back({Fault::Reshape, {}, std::move(reshape)}); }
    void vanishAfterNext() { nextFaults_.push_back({Fault::VanishAfter, {}, nullptr}); }
    // Zero-length IN transfers delivered before the next answer.
    void emptyReportsBeforeNext(int count) { emptyReports_ = count; }
    // Time the reader takes per answer report (0 by default).
    void setReportDelay(std::chrono::microseconds d) { reportDelay_ = d; }
    std::chrono::microseconds reportDelay() const { return reportDelay_; }

    // --- what the reader saw ---
    const std::vector<Exchange> &trace() const { return trace_; }
    std::vector<Bytes> commandsTo(uint8_t slotNumber) const;
    const std::vector<Report> &outReports() const { return outReports_; }
    const std::vector<std::string> &protocolErrors() const { return protocolErrors_; }
    void clearTrace();
    // Called with every completed exchange (for live tracing).
    std::function<void(const Exchange &)> onExchange;

    // --- the USB side ---
    // Takes one OUT report; when it completes a message, returns the reports
    // of the answer (possibly none) and sets *vanish when the reader is to
    // disappear now, *vanishAfter when it is to disappear once these
    // reports have been read.
    std::vector<Report> receive(const uint8_t *report, int length, bool *vanish, bool *vanishAfter = nullptr);

    // Cuts a message into answer reports addressed with nad.
    static std::vector<Report> split(uint8_t nad, const Bytes &message);

private:
    Bytes answer(uint8_t nad, const Bytes &command, bool *answered);
    Bytes readerCommand(const SlotInfo &info, Slot &s, uint8_t ins);

    std::map<uint8_t, Slot> slots_;
    struct Pending {
        Fault fault;
        std::vector<Report> reports;
        Reshaper reshape;
    };
    std::vector<Pending> nextFaults_;
    int emptyReports_ = 0;
    std::chrono::microseconds reportDelay_{0};

    // reassembly
    bool inMessage_ = false;
    uint8_t msgNad_ = 0;
    int msgIndex_ = 0;
    Bytes msg_;

    std::vector<Exchange> trace_;
    std::vector<Report> outReports_;
    std::vector<std::string> protocolErrors_;
};

}  // namespace vr
