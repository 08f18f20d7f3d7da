// The fault matrix: every exported operation against every way a reader,
// card, PSAM or module can fail it, through the virtual reader.  A row is
// an operation as a host calls it; a column is a fault; faults that strike
// one message are aimed at each message of the operation's clean session
// in turn.  Each cell checks what the host relies on: the documented code
// and text in bounded time, nothing written past a buffer (the buffers are
// guarded), no reader left open or claimed, and a next call that works.
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
    OwnText,    // a NUL-terminated text of its own
    None,       // no text (the reader layers)
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
};

inline bool noOptionalStep(size_t, const std::vector<Step> &) { return false; }

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
    ErrorAnswer,      // the card, PSAM, module or reader refuses the message
    NoAnswer,         // no answer at all (the time-out ends the wait)
};

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
