/* SPDX-License-Identifier: MIT */
// The fault matrix: every exported operation against every way a reader,
// card, PSAM or module can fail it, through the virtual reader.  A row is
// an operation as a host calls it; a column is a fault; faults that strike
// one message are aimed at each message of the operation's clean session
// in turn (at most 8 messages spread over a long session, 4 under the
// sanitizers; KESTREL_FAULT_STRIKES=0 strikes every message).  Each cell checks what the host relies on: the documented code
// and text in bounded time, nothing written past a buffer (the buffers are
// guarded), no reader left open or claimed, and a next call that works.
//
// For an operation that changes the card, the row also records the card's
// state around every call (CardState): after a fault, either the card is
// as before and the host was told of a failure, or the card changed and a
// host reading it back sees the new state; never a silent change, and no
// success without the change.
//
// A later operation adds its rows in a file of its own:
//
//   const faults::Row kPinRows[] = {
//       {"iVerifyPIN", [] { ... return faults::Outcome{rc, {out.bytes()}}; },
//        faults::TextRule::CardTable, faults::noOptionalStep},
//   };
//   FAULT_MATRIX_ROWS(Pin, kPinRows);   // inside namespace faults
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bytes.h"
#include "guarded_buffer.h"

namespace faults {

// What the host sees of one call: the result and every output buffer,
// byte for byte.
struct Outcome {
    long code = 0;
    std::vector<std::string> outputs;
};

// The bytes of a guarded buffer, for an Outcome.
inline std::string bytesOf(const GuardedBuffer &b) {
    return std::string(reinterpret_cast<const char *>(const_cast<GuardedBuffer &>(b).bytes()), b.size());
}

// One message of a session: the slot it went to and its bytes.
struct Step {
    uint8_t slot;
    vr::Bytes command;
};

// What a failing call leaves in its first output buffer.
enum class TextRule {
    CardTable,  // the text of the code from the error table (getErrorInf)
    PinTable,   // the same, except a text of its own for -51 (the tries left)
    OwnText,    // a NUL-terminated text of its own
    None,       // no text (the reader layers)
};

// The parts of the card that an operation changes (an item's value, the
// balance, the newest record), each compared as a whole.
struct CardState {
    // Puts the card as it is before the operation (called before each call).
    std::function<void()> restore;
    // Each part as the card model holds it, read without the reader.
    std::function<std::vector<std::string>()> onCard;
    // Each part as a host reads it back through the library (a call of its
    // own, on a reader that works).
    std::function<std::vector<std::string>()> readBack;
    // Whether the faulty call's own report owned up to a change it could
    // not confirm (its log line); empty when reading back is the only way.
    // A failure that changed the card must have said so.
    std::function<bool()> reported = {};
    explicit operator bool() const { return static_cast<bool>(onCard); }
};

struct Row {
    const char *name;
    std::function<Outcome()> call;
    TextRule text;
    // True for a step whose failure the operation documents as harmless
    // (an empty field, a skipped record, an answer it does not use): a
    // fault there may still end in success.  Gets the step's index in the
    // clean session.
    std::function<bool(size_t index, const std::vector<Step> &session)> optional;
    // The output buffer that receives the failure text.
    size_t textBuffer = 0;
    // The call hands a card's status word back to its caller (the exchange
    // of the reader layer): a refusal is its result, not its failure.
    bool passesStatusWords = false;
    // What the operation changes on the card; empty for an operation that
    // changes nothing a host reads back.
    CardState card = {};
};

inline bool noOptionalStep(size_t, const std::vector<Step> &) { return false; }
// The first power-on of the PSAM: findAndOpenPSAM tries the first PSAM
// slot (the matrix's PSAM slot) once more after it fails.
bool firstPsamPowerOn(size_t k, const std::vector<Step> &steps);

enum class Fault {
    UnpluggedBefore,  // no reader on the bus
    UnpluggedDuring,  // the reader goes away with a message unanswered
    UnpluggedAfter,   // the reader goes away right after answering a message
    StaleReport,      // a report left over from before the message
    ShortReport,      // the answer's last report cut to 40 bytes
    EmptyReports,     // zero-length transfers before the answer
    OversizedReport,  // a report that overflowed the 64-byte transfer
    LenAbove61,       // the answer's first report claims 255 payload bytes
    LongAnswer,       // the answer padded to the longest the link takes
    ErrorAnswer,      // the card, PSAM, module or reader refuses the message (not carried out)
    NoAnswer,         // no answer at all (the time-out ends the wait)
};

// Puts fresh models of the demonstration profile's cards into the reader's
// slots, as the matrix's reader has them before its first call, with these
// entries waiting on the keypad.  A row whose operation changes the card
// (its PIN, a key's tries, its items, its challenges) calls it first, so
// that every call finds the card as the clean one did.
void freshCards(const std::vector<std::string> &typed = {});

const std::vector<Fault> &allFaults();
std::string faultName(Fault f);

using Cell = std::tuple<Row, Fault>;

// Names the cell "<row>_<fault>" and prints it without dumping bytes.
std::string cellName(const ::testing::TestParamInfo<Cell> &info);

class FaultMatrix : public ::testing::TestWithParam<Cell> {};

}  // namespace faults

namespace faults {
inline void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
inline void PrintTo(Fault f, std::ostream *os) { *os << faultName(f); }
}  // namespace faults

#define FAULT_MATRIX_ROWS(group, rows)                                                                   \
    INSTANTIATE_TEST_SUITE_P(group, FaultMatrix,                                                \
                             ::testing::Combine(::testing::ValuesIn(rows),                              \
                                                ::testing::ValuesIn(faults::allFaults())),              \
                             faults::cellName)
