// What the operation entries share: buffers, checks, the table, and the
// reset of the library's process-wide state between runs.
#include "operations.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/errors.h"
#include "hsm/hsm.h"
#include "reader/reader.h"
#include "security/security.h"
#include "session/session.h"

namespace fuzzreader {

Out::Out(size_t size) : data_(static_cast<unsigned char *>(malloc(size ? size : 1))), size_(size) {
    if (!data_) abort();
    memset(data_, 0, size);
}

Out::~Out() { free(data_); }

HostBytes::HostBytes(const std::vector<uint8_t> &bytes)
    : data_(static_cast<unsigned char *>(malloc(bytes.size() + 1))), size_(bytes.size()) {
    if (!data_) abort();
    if (size_) memcpy(data_, bytes.data(), size_);
    data_[size_] = 0;
}

HostBytes::HostBytes(HostBytes &&other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

HostBytes::~HostBytes() { free(data_); }

void broken(const char *operation, const char *what) {
    fprintf(stderr, "%s: %s\n", operation, what);
    abort();
}

void expectTextWithin(const char *op, const Out &out) {
    if (!memchr(out.bytes(), 0, out.size())) broken(op, "output text without a NUL inside its buffer");
}

void expectCardResult(const char *op, long code, const Out &out) {
    if (code > 0) broken(op, "positive result");
    expectTextWithin(op, out);
    if (code == 0) return;
    const char *text = errorText(static_cast<int>(code));
    if (strcmp(reinterpret_cast<const char *>(out.bytes()), text) != 0)
        broken(op, "failure without its code's text in the output");
}

void expectLogbufTerminated(const char *op) {
    if (!memchr(logbuf, 0, sizeof logbuf)) broken(op, "logbuf without a NUL");
}

namespace {
std::vector<Operation> &table() {
    static std::vector<Operation> t;
    return t;
}
}  // namespace

Registration::Registration(const char *name, void (*run)(HostArgs &)) { table().push_back({name, run}); }

const std::vector<Operation> &operations() { return table(); }

const Operation *findOperation(const std::string &name) {
    for (const Operation &op : table())
        if (name == op.name) return &op;
    return nullptr;
}

void resetLibraryState() {
    for (int i = 0; i < kReaderTableSize; i++) {
        OpenedRHandle[i] = kClosedEntry;
        ConvHandle[i] = kClosedEntry;
    }
    kk = 1;
    cardSlot = 0x01;
    psamSlot = 0x11;
    mHreader = 0;
    m_pin_verified = 0;
    m_usercardAlg = 1;
    m_usercardVer = -1;
    memset(usrCardCityCOde, 0, sizeof usrCardCityCOde);
    memset(mKeys, 0, sizeof mKeys);
    mAuthType = 0;
    memset(inParaBuffer1, 0, sizeof inParaBuffer1);
    memset(des, 0, sizeof des);
    memset(mATR, 0, sizeof mATR);
    mATRLen = 0;
    memset(logbuf, 0, sizeof logbuf);
}

}  // namespace fuzzreader
