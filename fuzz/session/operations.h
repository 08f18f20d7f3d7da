/* SPDX-License-Identifier: MIT */
// The operations the fuzzing reader drives, one table entry each.  An
// entry takes its arguments from the host (HostArgs), calls the library's
// exported function(s) with output buffers of exactly the documented size,
// checks what a host may rely on, and reports the outcome.
//
// The same entries run in the fuzz targets (arguments and answers from the
// fuzzer's input, the library on the libusb stand-in) and in the seed
// writer (default arguments, the virtual reader behind the real libusb).
//
// Adding an operation is one entry in one of the operations_*.cpp files:
//
//   KESTREL_FUZZ_OPERATION(iReadCardBas) {
//       int type = host.integer(1);
//       Out out(KESTREL_BASEINFO_SIZE);
//       long rc = iReadCardBas(type, out.text());
//       expectCardResult(rc, out);
//       host.outcome(rc, {&out});
//   }
//
// The build makes a target fuzz_<name> of every entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace fuzzreader {

// An output buffer of exactly `size` bytes on the heap, cleared as callers
// clear theirs: AddressSanitizer catches a write one byte past it.
class Out {
public:
    explicit Out(size_t size);
    ~Out();
    Out(const Out &) = delete;
    Out &operator=(const Out &) = delete;
    char *text() { return reinterpret_cast<char *>(data_); }
    unsigned char *bytes() { return data_; }
    const unsigned char *bytes() const { return data_; }
    size_t size() const { return size_; }

private:
    unsigned char *data_;
    size_t size_;
};

// A text or byte string from the host, in a heap block of exactly its
// length and a NUL, so that reading past the NUL is caught too.
class HostBytes {
public:
    explicit HostBytes(const std::vector<uint8_t> &bytes);
    ~HostBytes();
    HostBytes(HostBytes &&other) noexcept;
    HostBytes(const HostBytes &) = delete;
    HostBytes &operator=(const HostBytes &) = delete;
    char *text() { return reinterpret_cast<char *>(data_); }
    unsigned char *bytes() { return data_; }
    size_t size() const { return size_; }

private:
    unsigned char *data_;
    size_t size_;
};

// Where an operation's arguments come from, and where its outcome goes.
class HostArgs {
public:
    virtual ~HostArgs() = default;
    virtual int integer(int fallback) = 0;
    // At most `max` bytes.
    virtual HostBytes bytes(const std::vector<uint8_t> &fallback, size_t max) = 0;
    HostBytes text(const std::string &fallback, size_t max) {
        return bytes(std::vector<uint8_t>(fallback.begin(), fallback.end()), max);
    }
    // The answer of the host's security module to the text a step wrote
    // for it (at most `max` bytes), for the next step.
    virtual HostBytes hsmAnswer(const char *request, size_t max) = 0;
    // The result code and the output buffers of one call.
    virtual void outcome(long code, std::initializer_list<const Out *> outs) = 0;
};

// A broken promise of the library to its host: prints what and aborts, so
// that the fuzzer keeps the input.
[[noreturn]] void broken(const char *operation, const char *what);

// Checks shared by the entries.  `op` names the operation in reports.
void expectTextWithin(const char *op, const Out &out);
// An exported card function: 0, or a negative code whose table text (or
// "unknown error" text) getErrorInf wrote into out.
void expectCardResult(const char *op, long code, const Out &out);
// As expectCardResult, except that -51 (a PIN refused) may carry the
// retry text of a verification or a change with the tries left.
void expectPinResult(const char *op, long code, const Out &out);
// logbuf holds one NUL-terminated line.
void expectLogbufTerminated(const char *op);
// No reader is left open in the reader-handle table.
void expectNoReaderOpen(const char *op);

struct Operation {
    const char *name;
    void (*run)(HostArgs &host);
};

// Every entry, in no particular order; the one named `name` or null.
const std::vector<Operation> &operations();
const Operation *findOperation(const std::string &name);

struct Registration {
    Registration(const char *name, void (*run)(HostArgs &));
};

// Puts the library's process-wide state back to its load-time values, so
// that each run starts like the first call of a host.
void resetLibraryState();

}  // namespace fuzzreader

#define KESTREL_FUZZ_OPERATION(name)                                                   \
    static void fuzzRun_##name(fuzzreader::HostArgs &host);                            \
    static const fuzzreader::Registration fuzzRegistration_##name(#name, fuzzRun_##name); \
    static void fuzzRun_##name(fuzzreader::HostArgs &host)
