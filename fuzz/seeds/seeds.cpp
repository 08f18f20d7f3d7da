// Writes the seed corpora of the operation targets from real sessions:
// every operation runs against the virtual reader in a few set-ups, and
// what the reader answered to each message, in order, becomes the answers
// of a seed (playback.h), with the host's default arguments.  Beside the
// seeds, outcomes.txt holds each session's result code and the hash of its
// outputs, which the fuzz build's replay of the seed must reproduce.
//
// Usage: fuzz_seeds CORPUS-DIR   (scripts/fuzz-seeds runs it into fuzz/corpus)
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "operations.h"
#include "playback.h"
#include "preload.h"
#include "cards/reader_device.h"
#include "profile.h"
#include "virtual_reader.h"

using namespace fuzzreader;

namespace {

class RecordingHost : public HostArgs {
public:
    int integer(int fallback) override {
        for (int i = 0; i < 4; i++) bytes_.push_back(static_cast<uint8_t>(static_cast<uint32_t>(fallback) >> (8 * i)));
        return fallback;
    }
    HostBytes bytes(const std::vector<uint8_t> &fallback, size_t max) override {
        std::vector<uint8_t> v(fallback.begin(), fallback.begin() + std::min(max, fallback.size()));
        put16(bytes_, v.size());
        bytes_.insert(bytes_.end(), v.begin(), v.end());
        return HostBytes(v);
    }
    void outcome(long code, std::initializer_list<const Out *> outs) override {
        code_ = code;
        hash_ = fnv1a(nullptr, 0);
        for (const Out *o : outs) hash_ = fnv1a(o->bytes(), o->size(), hash_);
    }
    std::vector<uint8_t> bytes_;
    long code_ = 0;
    uint64_t hash_ = 0;
};

struct SetUp {
    const char *name;
    std::function<void(vr::Reader &)> fill;
    // The operations it is for (all when null).
    bool (*appliesTo)(const std::string &operation) = nullptr;
};

bool readsIdentityCards(const std::string &op) {
    return op == "iReadIdentityCard" || op == "iReadSFZ" || op == "IDC_ReadIDCard";
}

// The demonstration profile with another kind of card in the identity-card
// module's field: "I" (permanent residence) or "J" (residence permit).
std::function<void(vr::Reader &)> idCardOfKind(const char *kind) {
    return [kind](vr::Reader &r) {
        vr::Profile p = vr::demoProfile();
        if (p.idCard) p.idCard->holder.kind = kind;
        vr::insertProfile(r, p);
    };
}

// Operations that ask the holder for the PIN on the keypad on their way.
bool asksForThePin(const std::string &op) { return op == "iDoDebit_HSM"; }

// The demonstration profile with the holder typing its PIN.
void pinTyped(vr::Reader &r) {
    vr::insertProfile(r, vr::demoProfile());
    if (auto device = std::dynamic_pointer_cast<vr::ReaderDevice>(r.slot(0x00).card)) device->keypad().type("123456");
}

vr::Profile profileFile(const char *file) {
    vr::Profile p;
    std::string error;
    if (!vr::loadProfile(std::string(KESTREL_PROFILE_DIR) + "/" + file, &p, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        exit(1);
    }
    return p;
}

bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    vr::ensurePreloaded(argv);
    if (argc != 2) {
        fprintf(stderr, "usage: %s CORPUS-DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const std::vector<SetUp> setUps = {
        {"demo", [](vr::Reader &r) { vr::insertProfile(r, vr::demoProfile()); }},
        {"empty", [](vr::Reader &) {}},
        {"v1", [](vr::Reader &r) { vr::insertProfile(r, profileFile("v1.profile")); }},
        {"v3", [](vr::Reader &r) { vr::insertProfile(r, profileFile("v3.profile")); }},
        {"no-psam",
         [](vr::Reader &r) {
             vr::Profile p = vr::demoProfile();
             p.psams.clear();
             vr::insertProfile(r, p);
         }},
        {"permanent-residence", idCardOfKind("I"), readsIdentityCards},
        {"residence-permit", idCardOfKind("J"), readsIdentityCards},
        {"pin-typed", pinTyped, asksForThePin},
    };
    auto &bus = vr::VirtualReader::instance();
    std::string outcomes;
    for (const Operation &op : operations()) {
        const std::string target = std::string("fuzz_") + op.name;
        mkdir((dir + "/" + target).c_str(), 0755);
        for (const SetUp &setUp : setUps) {
            if (setUp.appliesTo && !setUp.appliesTo(op.name)) continue;
            bus.plug(vr::UsbVariant::Reader);
            setUp.fill(*bus.reader());
            resetLibraryState();
            RecordingHost host;
            op.run(host);
            std::vector<uint8_t> seed = makeInput(0, host.bytes_);
            for (const vr::Exchange &e : bus.reader()->trace())
                putAnswer(seed, e.answered ? kReports : kSilent, e.answered ? e.response : vr::Bytes{});
            if (!writeFile(dir + "/" + target + "/" + setUp.name, seed)) {
                fprintf(stderr, "cannot write %s/%s/%s\n", dir.c_str(), target.c_str(), setUp.name);
                return 1;
            }
            char line[160];
            snprintf(line, sizeof line, "%s/%s %ld %016llx\n", target.c_str(), setUp.name, host.code_,
                     static_cast<unsigned long long>(host.hash_));
            outcomes += line;
        }
    }
    std::vector<uint8_t> text(outcomes.begin(), outcomes.end());
    if (!writeFile(dir + "/outcomes.txt", text)) return 1;
    return 0;
}
