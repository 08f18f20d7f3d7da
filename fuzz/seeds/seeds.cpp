// SPDX-License-Identifier: MIT
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
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "operations.h"
#include "playback.h"
#include "preload.h"
#include "profile.h"
#include "soft_hsm.h"
#include "virtual_reader.h"

using namespace fuzzreader;

namespace {

// What the host passes: the entry's defaults, except where the set-up
// gives its own card's texts (a default text replaced by another), and the
// security module's answers from the software module of the set-up's
// profile.
class RecordingHost : public HostArgs {
public:
    RecordingHost(const vr::SoftHsm *hsm, const std::map<std::string, std::string> &texts)
        : hsm_(hsm), texts_(texts) {}
    int integer(int fallback) override {
        for (int i = 0; i < 4; i++) bytes_.push_back(static_cast<uint8_t>(static_cast<uint32_t>(fallback) >> (8 * i)));
        return fallback;
    }
    HostBytes bytes(const std::vector<uint8_t> &fallback, size_t max) override {
        auto given = texts_.find(std::string(fallback.begin(), fallback.end()));
        std::vector<uint8_t> v = given == texts_.end() ? fallback
                                                       : std::vector<uint8_t>(given->second.begin(), given->second.end());
        v.resize(std::min(max, v.size()));
        put16(bytes_, v.size());
        bytes_.insert(bytes_.end(), v.begin(), v.end());
        return HostBytes(v);
    }
    HostBytes hsmAnswer(const char *request, size_t max) override {
        std::string reply, error;
        if (!hsm_ || !hsm_->answer(request, &reply, &error)) {
            // A step that failed wrote no request: any answer will do.
            if (hsm_ && strchr(request, '|')) fprintf(stderr, "the module cannot answer \"%s\": %s\n", request, error.c_str());
            reply = std::string(32, '0');
        }
        return bytes(std::vector<uint8_t>(reply.begin(), reply.end()), max);
    }
    void outcome(long code, std::initializer_list<const Out *> outs) override {
        code_ = code;
        hash_ = fnv1a(nullptr, 0);
        for (const Out *o : outs) hash_ = fnv1a(o->bytes(), o->size(), hash_);
    }
    std::vector<uint8_t> bytes_;
    long code_ = 0;
    uint64_t hash_ = 0;

private:
    const vr::SoftHsm *hsm_;
    const std::map<std::string, std::string> &texts_;
};

struct SetUp {
    const char *name;
    std::optional<vr::Profile> profile;  // none: an empty reader
    // The operations it is for (all when null).
    bool (*appliesTo)(const std::string &operation) = nullptr;
    // Texts of the host that differ from the entries' defaults (which are
    // the demonstration card's): the default and what replaces it.
    std::map<std::string, std::string> texts = {};
    // The PIN the holder types (none: the card's own).
    const char *typedPin = nullptr;
};

bool readsIdentityCards(const std::string &op) {
    return op == "iReadIdentityCard" || op == "iReadSFZ" || op == "IDC_ReadIDCard";
}

// Operations that verify, change, reload or unblock the holder's PIN.
bool usesThePin(const std::string &op) {
    return op == "iVerifyPIN" || op == "iChangePIN" || op == "iReloadPIN" || op == "iUnblockPIN" ||
           op == "iReadCard" || op == "iReloadPIN_HSM" || op == "iUnblockPIN_HSM" || op == "iDoDebit" ||
           op == "iReadDebitRecord" || op == "iTryPIN" || op == "iDoDebit_HSM";
}

// What the holder types on the keypad during an operation: "PIN" stands
// for the card's PIN (the same PIN is typed as the new one of a change
// or reload).
std::vector<std::string> typedFor(const std::string &op) {
    if (op == "iVerifyPIN" || op == "iReadCard" || op == "iDoDebit" || op == "iReadDebitRecord" ||
        op == "iDoDebit_HSM")
        return {"PIN"};
    if (op == "iChangePIN") return {"PIN", "PIN", "PIN"};
    if (op == "iReloadPIN" || op == "iReloadPIN_HSM") return {"PIN", "PIN"};
    if (op == "iGetPassword") return {"abc123"};
    return {};
}

vr::Profile withPin(vr::Profile p, const std::string &pin, int triesLeft) {
    p.card->pin = pin;
    p.card->pinTriesLeft = triesLeft;
    return p;
}

// The demonstration profile with another kind of card in the identity-card
// module's field: "I" (permanent residence) or "J" (residence permit).
vr::Profile idCardOfKind(const char *kind) {
    vr::Profile p = vr::demoProfile();
    if (p.idCard) p.idCard->holder.kind = kind;
    return p;
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

// The card-info text of a profile's card: identification code and card
// number.
std::string cardInfoOf(const vr::Profile &p) {
    std::shared_ptr<vr::SsCard> card = vr::buildCard(p);
    std::string id;
    for (uint8_t b : card->identificationCode()) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", b);
        id += pair;
    }
    return id + "|" + std::string(p.card->cardNumber.begin(), p.card->cardNumber.end()) + "|";
}

// The defaults of the entries that name the demonstration card.
const char kDemoCardInfo[] = "430105D1560000050000000000000042|K43000042|";
const char kDemoRead[] = "SSSEEF05|07|$DF01EF07|29|$DF02EF05|43:1|$DF04EF08|$DF01EF16|$";
const char kDemoWriteAddresses[] = "SSSEEF05|02|05|$DF01EF07|29|$DF02EF05|43:2|$DF02EF07|$DF01EF16|$";
const char kDemoWriteData[] =
    "SSSEEF05|XYZ|2024030112|$DF01EF07|Y|$DF02EF05|ABC^1^XYZ^2024^Q^|$DF02EF07|ABC^20240101^20251231^XYZ^|$"
    "DF01EF16|A1B2|$";

// A set-up of a profile file: its card named, and the data-item requests
// made for its version's files.
SetUp versionSetUp(const char *name, const char *file) {
    vr::Profile p = profileFile(file);
    const bool v1 = p.card->version == 1;
    std::map<std::string, std::string> texts = {
        {kDemoCardInfo, cardInfoOf(p)},
        {kDemoRead, v1 ? "SSSEEF05|07|$DF01EF07|2A|$DF02EF05|43:1|$DF02EF07|$SSSEEF07|$"
                       : "SSSEEF05|07|$DF01EF07|29|$DF02EF05|43:1|$DF04EF08|$SSSEEF07|$"},
        {kDemoWriteAddresses, v1 ? "SSSEEF05|02|05|$DF01EF0A|37|$DF02EF05|43:1|$DF02EF07|$SSSEEF07|$"
                                 : "SSSEEF05|02|05|$DF01EF07|29|$DF02EF05|43:2|$DF02EF07|$SSSEEF07|$"},
        {kDemoWriteData,
         v1 ? "SSSEEF05|XYZ|2024030112|$DF01EF0A|12.34|$DF02EF05|ABC^1^XYZ^2024^|$DF02EF07|ABC^20240101^20251231^XYZ^|$"
              "SSSEEF07|A1B2|$"
            : "SSSEEF05|XYZ|2024030112|$DF01EF07|Y|$DF02EF05|ABC^1^XYZ^2024^Q^|$DF02EF07|ABC^20240101^20251231^XYZ^|$"
              "SSSEEF07|A1B2|$"},
    };
    return {name, p, nullptr, texts};
}

bool readsBasicInfoWithTheModule(const std::string &op) { return op == "iReadCardBas_HSM"; }

// The version-3 card in a reader whose device number fills its 20 bytes:
// the version-3 profile's number ends in zero bytes, which end the text of
// the module's request early, so that the module cannot answer it.
SetUp version3WithDeviceNumber() {
    SetUp s = versionSetUp("v3-numbered-reader", "v3.profile");
    const std::string number = "KVR1-V3-000000000003";
    s.profile->deviceNumber = vr::Bytes(number.begin(), number.end());
    s.appliesTo = readsBasicInfoWithTheModule;
    return s;
}

bool usesThePinTyped(const std::string &op) { return op == "iDoDebit" || op == "iTryPIN" || op == "iDoDebit_HSM"; }

// A version's card whose holder has set a PIN of their own (the profiles'
// cards keep the initial PIN, which a debit refuses), and 500.00 in the
// purse.
SetUp withOwnPin(const char *name, const char *file) {
    SetUp s = versionSetUp(name, file);
    s.profile->card->pin = "123456";
    s.profile->card->purse.balance = 50000;
    s.appliesTo = usesThePinTyped;
    return s;
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
    vr::Profile noPsam = vr::demoProfile();
    noPsam.psams.clear();
    const std::vector<SetUp> setUps = {
        {"demo", vr::demoProfile()},
        {"empty", std::nullopt},
        versionSetUp("v1", "v1.profile"),
        versionSetUp("v3", "v3.profile"),
        {"no-psam", noPsam},
        version3WithDeviceNumber(),
        withOwnPin("v1-own-pin", "v1.profile"),
        withOwnPin("v3-own-pin", "v3.profile"),
        {"permanent-residence", idCardOfKind("I"), readsIdentityCards},
        {"residence-permit", idCardOfKind("J"), readsIdentityCards},
        // The card's PIN is not the one typed; the PIN is blocked.
        {"wrong-pin", withPin(vr::demoProfile(), "654321", 3), usesThePin, {}, "123456"},
        {"blocked-pin", withPin(vr::demoProfile(), "123456", 0), usesThePin},
    };
    auto &bus = vr::VirtualReader::instance();
    std::string outcomes;
    for (const Operation &op : operations()) {
        const std::string target = std::string("fuzz_") + op.name;
        mkdir((dir + "/" + target).c_str(), 0755);
        for (const SetUp &setUp : setUps) {
            if (setUp.appliesTo && !setUp.appliesTo(op.name)) continue;
            bus.plug(vr::UsbVariant::Reader);
            std::unique_ptr<vr::SoftHsm> hsm;
            if (setUp.profile) {
                vr::Profile p = *setUp.profile;
                const std::string pin = setUp.typedPin ? setUp.typedPin : p.card ? p.card->pin : "";
                for (const std::string &keys : typedFor(op.name))
                    p.keypad.push_back(vr::typedEntry(keys == "PIN" ? pin : keys));
                vr::insertProfile(*bus.reader(), p);
                if (p.card) hsm = std::make_unique<vr::SoftHsm>(vr::softHsmFor(p));
            }
            resetLibraryState();
            RecordingHost host(hsm.get(), setUp.texts);
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
