// SPDX-License-Identifier: MIT
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

void expectPinResult(const char *op, long code, const Out &out) {
    expectTextWithin(op, out);
    const char *text = reinterpret_cast<const char *>(out.bytes());
    if (code == kErrWrongPin) {
        // "PIN校验失败，剩余次数%d次" and "PIN修改失败，剩余次数%d次", tries 0 to 15.
        static const char *const kRetry[] = {
            "PIN\xD0\xA3\xD1\xE9\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xA3\xD3\xE0\xB4\xCE\xCA\xFD%d\xB4\xCE",
            "PIN\xD0\xDE\xB8\xC4\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xA3\xD3\xE0\xB4\xCE\xCA\xFD%d\xB4\xCE"};
        for (const char *format : kRetry)
            for (int tries = 0; tries < 16; tries++) {
                char retry[64];
                snprintf(retry, sizeof retry, format, tries);
                if (strcmp(text, retry) == 0) return;
            }
    }
    // Any other code, and -51 from a status word of another command than
    // the PIN's, has its table text.
    expectCardResult(op, code, out);
}

void expectNoReaderOpen(const char *op) {
    for (int i = 0; i < kReaderTableSize; i++)
        if (OpenedRHandle[i] > 0) broken(op, "a reader left open");
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
