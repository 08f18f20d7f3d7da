// SPDX-License-Identifier: MIT
// libFuzzer entry of the operation targets: the target's name (the program
// is installed as fuzz_<operation>) picks the operation; each input is one
// whole call of it, the host's arguments and the reader's answers taken
// from the input (playback.h), through the library's real code down to its
// USB link, which runs on the libusb stand-in.
//
// KESTREL_FUZZ_OUTCOME=1 prints "<code> <hash of the outputs>" of each run
// on standard error (the seeds' expected outcomes are checked with it).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_usb.h"
#include "operations.h"

using namespace fuzzreader;

namespace {

constexpr size_t kHsmFallbackDigits = 32;

const Operation *theOperation = nullptr;
bool printOutcome = false;

class FuzzHost : public HostArgs {
public:
    explicit FuzzHost(Cursor c) : c_(c) {}
    int integer(int fallback) override {
        const uint8_t *p;
        size_t got;
        if (!c_.take(4, &p, &got)) return fallback;
        uint32_t v = 0;
        for (size_t i = 0; i < got; i++) v |= static_cast<uint32_t>(p[i]) << (8 * i);
        return static_cast<int>(v);
    }
    HostBytes bytes(const std::vector<uint8_t> &fallback, size_t max) override {
        size_t n;
        const uint8_t *p;
        if (!c_.u16(&n)) return HostBytes(fallback);
        if (n > max) n = max;
        if (n == 0 || !c_.take(n, &p, &n)) return HostBytes({});
        return HostBytes(std::vector<uint8_t>(p, p + n));
    }
    // The module's answer is host bytes like any other argument.
    HostBytes hsmAnswer(const char *, size_t max) override {
        return bytes(std::vector<uint8_t>(kHsmFallbackDigits, '0'), max);
    }
    void outcome(long code, std::initializer_list<const Out *> outs) override {
        if (!printOutcome) return;
        uint64_t h = fnv1a(nullptr, 0);
        for (const Out *o : outs) h = fnv1a(o->bytes(), o->size(), h);
        fprintf(stderr, "outcome %ld %016llx\n", code, static_cast<unsigned long long>(h));
    }

private:
    Cursor c_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv) {
    const char *self = strrchr((*argv)[0], '/');
    self = self ? self + 1 : (*argv)[0];
    std::string name = strncmp(self, "fuzz_", 5) == 0 ? self + 5 : self;
    theOperation = findOperation(name);
    if (!theOperation) {
        fprintf(stderr, "%s: no operation \"%s\"; the operations are:\n", self, name.c_str());
        for (const Operation &op : operations()) fprintf(stderr, "  fuzz_%s\n", op.name);
        exit(2);
    }
    const char *e = getenv("KESTREL_FUZZ_OUTCOME");
    printOutcome = e && *e == '1';
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Cursor in(data, size);
    uint8_t bus = 0;
    size_t hostLen = 0;
    const uint8_t *host = nullptr;
    in.u8(&bus);
    in.u16(&hostLen);
    if (!in.take(hostLen, &host, &hostLen)) hostLen = 0;

    resetLibraryState();
    fakeusb::begin(bus, in);
    FuzzHost args(Cursor(host, hostLen));
    theOperation->run(args);
    std::string left = fakeusb::end();
    if (!left.empty()) broken(theOperation->name, ("left behind:" + left).c_str());
    return 0;
}
