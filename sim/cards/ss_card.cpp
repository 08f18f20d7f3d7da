// SPDX-License-Identifier: MIT
#include "cards/ss_card.h"

#include <algorithm>

#include "cards/psam.h"

namespace vr {

namespace {

constexpr int kMf = 0;
constexpr int kApplication = 1;

bool isDigitKind(int kind) { return kind == kItemCn || kind == kItemMoneyCn || kind == kItemMoneyB; }

Bytes tlv(const Bytes &tag, const Bytes &value) {
    Bytes out = tag;
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

// Keys that the card holds beside those of its files' access groups, by
// the DF that owns them: the PIN services of the application (external
// authentication before reloading or unblocking the PIN).
const DirKey kServiceKeys[] = {{0x06, 0x48, 0x10}};
// The PSAM key of the PIN encryption and MAC of the PIN reload and
// unblock; the PSAM must hold it.
const KeyRef kPinServiceKey{0x48, 0x09};

}  // namespace

Bytes ssApplicationName() {
    // "sx1.sh." then 社会保障 in GB18030.
    return hex("73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF");
}

Bytes ssAtr() { return hex("3B 6D 00 00 81 4B 45 53 53 43 01 23 45 67 89 AB"); }

Bytes buildFci(FciStyle style, uint8_t value, const Bytes &dfName) {
    Bytes indicator;
    switch (style) {
    case FciStyle::Indicator:
    case FciStyle::NoA5:
    case FciStyle::No6F:
        indicator = tlv(hex("9F 0C"), {0x00, value});
        break;
    case FciStyle::Tag86:
        indicator = tlv(hex("9F 0C"), tlv({0x86}, {value}));
        break;
    case FciStyle::Neither:
        // Something else in 9F0C: neither a two-byte value nor tag 86.
        indicator = tlv(hex("9F 0C"), tlv({0x87}, {0x00, value}));
        break;
    default:
        break;
    }
    Bytes proprietary = tlv({0x88}, {0x01});  // short identifier of the first EF
    proprietary.insert(proprietary.end(), indicator.begin(), indicator.end());
    Bytes inner = tlv({0x84}, dfName);
    if (style == FciStyle::NoA5) {
        inner.insert(inner.end(), proprietary.begin(), proprietary.end());
    } else {
        Bytes a5 = tlv({0xA5}, proprietary);
        inner.insert(inner.end(), a5.begin(), a5.end());
    }
    return style == FciStyle::No6F ? inner : tlv({0x6F}, inner);
}

SsCard::SsCard(int version, int algorithm, Bytes atr)
    : T0Card(std::move(atr)), version_(version == 1 || version == 3 ? version : 2), algorithm_(algorithm),
      rng_(0x6B657374726C3031ULL) {
    CardDf mf;
    mf.id = 0x3F00;
    dfs_.push_back(mf);
    CardDf app;
    app.name = ssApplicationName();
    app.parent = kMf;
    app.fci = buildFci(FciStyle::Indicator, static_cast<uint8_t>(algorithm), app.name);
    dfs_.push_back(app);

    for (const DirFile &d : cardDirectory(version_)) {
        int owner = kApplication;
        if (d.df) {
            owner = findDf(d.df);
            if (owner < 0) {
                CardDf sub;
                sub.id = d.df;
                sub.parent = kApplication;
                dfs_.push_back(sub);
                owner = static_cast<int>(dfs_.size()) - 1;
            }
        }
        CardFile f;
        f.id = d.ef;
        f.structure = d.structure;
        f.read = d.read;
        f.write = d.write;
        switch (d.structure) {
        case kTransparent:
            f.content.assign(static_cast<size_t>(d.items[0].length), 0x00);
            break;
        case kCyclicRecords:
            f.capacity = d.items[0].occurrences;
            f.layout.assign(1, d.items[0]);
            break;
        default:
            for (const DirItem &it : d.items) {
                for (int n = 0; n < it.occurrences; n++) {
                    Bytes v = defaultItemValue(version_, it);
                    f.records.push_back(tlv({it.tag}, v));
                    f.layout.push_back(it);
                }
            }
        }
        CardDf &df = dfs_[static_cast<size_t>(owner)];
        df.files.push_back(std::move(f));
        for (const DirAccess *a : {&d.read, &d.write})
            if (!a->key.none() && !df.externalKeys.count(a->key.kid))
                df.externalKeys[a->key.kid] = CardKey{{a->key.type, a->key.version}, {}, 3, 3};
    }
    for (const DirKey &k : kServiceKeys)
        dfs_[kApplication].externalKeys[k.kid] = CardKey{{k.type, k.version}, {}, 3, 3};
    dfs_[kApplication].internalKeys[0x00] = CardKey{internalRef_, {}, 0, 0};
}

void SsCard::setApplicationFci(Bytes fci) { dfs_[kApplication].fci = std::move(fci); }

int SsCard::findDf(uint16_t id) const {
    for (size_t i = 0; i < dfs_.size(); i++)
        if (i != kMf && dfs_[i].id == id) return static_cast<int>(i);
    return -1;
}

int SsCard::dfIndex(uint16_t df) const { return df == 0 ? kApplication : findDf(df); }

CardFile *SsCard::file(uint16_t df, uint16_t ef) {
    int i = dfIndex(df);
    if (i < 0) return nullptr;
    for (CardFile &f : dfs_[static_cast<size_t>(i)].files)
        if (f.id == ef) return &f;
    return nullptr;
}

bool SsCard::setRecord(uint16_t df, uint16_t ef, uint8_t tag, const Bytes &value, int occurrence) {
    CardFile *f = file(df, ef);
    if (!f || (f->structure != kTlvRecords && f->structure != kFixedRecords)) return false;
    int seen = 0;
    for (size_t i = 0; i < f->records.size(); i++) {
        const DirItem &it = f->layout[i];
        if (it.tag != tag || ++seen != occurrence) continue;
        if (value.size() > static_cast<size_t>(it.length)) return false;
        Bytes v = value;
        v.resize(static_cast<size_t>(it.length), isDigitKind(it.kind) ? 0xFF : 0x00);
        f->records[i] = tlv({tag}, v);
        return true;
    }
    return false;
}

Bytes SsCard::record(uint16_t df, uint16_t ef, uint8_t tag, int occurrence) const {
    auto *self = const_cast<SsCard *>(this);
    CardFile *f = self->file(df, ef);
    if (!f) return {};
    int seen = 0;
    for (size_t i = 0; i < f->records.size() && i < f->layout.size(); i++) {
        if (f->layout[i].tag != tag || ++seen != occurrence) continue;
        const Bytes &r = f->records[i];
        return r.size() < 2 ? Bytes{} : Bytes(r.begin() + 2, r.end());
    }
    return {};
}

bool SsCard::setContent(uint16_t df, uint16_t ef, const Bytes &content) {
    CardFile *f = file(df, ef);
    if (!f || f->structure != kTransparent || content.size() > f->content.size()) return false;
    std::copy(content.begin(), content.end(), f->content.begin());
    return true;
}

bool SsCard::addCyclicRecord(uint16_t df, uint16_t ef, const Bytes &rec) {
    CardFile *f = file(df, ef);
    return f && appendCyclicRecord(*f, rec);
}

Bytes SsCard::diversificationData() const { return vr::diversificationData(atr(), identificationCode()); }

std::vector<KeyRef> SsCard::keyReferences() const {
    std::vector<KeyRef> refs;
    auto add = [&refs](KeyRef r) {
        for (const KeyRef &k : refs)
            if (k.typeByte == r.typeByte && k.version == r.version) return;
        refs.push_back(r);
    };
    for (const CardDf &df : dfs_) {
        for (const auto &k : df.externalKeys) add(k.second.ref);
        for (const auto &k : df.internalKeys) add(k.second.ref);
    }
    add(internalRef_);
    add(kPinServiceKey);
    add({kPurchaseKeyType, purse_.keyVersion});
    add({kTacKeyType, purse_.keyVersion});
    return refs;
}

void SsCard::installKeys(const KeySet &keys, int tries) {
    Bytes div = diversificationData();
    dfs_[kApplication].internalKeys[0x00].ref = internalRef_;
    for (CardDf &df : dfs_) {
        for (auto &k : df.externalKeys) {
            k.second.value = cardKeyFor(keys, cipher(), k.second.ref, div);
            k.second.tries = k.second.maxTries = tries;
        }
        for (auto &k : df.internalKeys) k.second.value = cardKeyFor(keys, cipher(), k.second.ref, div);
    }
    pinServiceKey_ = cardKeyFor(keys, cipher(), kPinServiceKey, div);
    purse_.purchaseKey = cardKeyFor(keys, cipher(), {kPurchaseKeyType, purse_.keyVersion}, div);
    purse_.tacKey = cardKeyFor(keys, cipher(), {kTacKeyType, purse_.keyVersion}, div);
}

CardKey *SsCard::externalKey(uint16_t df, uint8_t kid) {
    int i = dfIndex(df);
    if (i < 0) return nullptr;
    auto &keys = dfs_[static_cast<size_t>(i)].externalKeys;
    auto it = keys.find(kid);
    return it == keys.end() ? nullptr : &it->second;
}

void SsCard::onReset() {
    currentDf_ = kMf;
    currentEf_ = -1;
    recordPointer_ = -1;
    challenge_.clear();
    authenticated_.clear();
    pinVerified_ = false;
    purse_.pending = false;
}

void SsCard::enterDf(int index) {
    if (index != currentDf_) authenticated_.clear();
    currentDf_ = index;
    currentEf_ = -1;
    recordPointer_ = -1;
}

CardFile *SsCard::currentFile() {
    if (currentEf_ < 0) return nullptr;
    return &dfs_[static_cast<size_t>(currentDf_)].files[static_cast<size_t>(currentEf_)];
}

const CardKey *SsCard::findKey(bool external, uint8_t id, int *owner) {
    for (int d = currentDf_; d >= 0; d = dfs_[static_cast<size_t>(d)].parent) {
        auto &keys = external ? dfs_[static_cast<size_t>(d)].externalKeys : dfs_[static_cast<size_t>(d)].internalKeys;
        auto it = keys.find(id);
        if (it != keys.end()) {
            if (owner) *owner = d;
            return &it->second;
        }
    }
    return nullptr;
}

bool SsCard::keyAuthenticated(uint8_t kid) {
    int owner = -1;
    if (!findKey(true, kid, &owner)) return false;
    return authenticated_.count({owner, kid}) > 0;
}

bool SsCard::mayRead(const CardFile &f) { return granted(f.read); }

Bytes SsCard::random(size_t n) {
    Bytes out(n);
    for (auto &b : out) {
        // xorshift64*
        rng_ ^= rng_ >> 12;
        rng_ ^= rng_ << 25;
        rng_ ^= rng_ >> 27;
        b = static_cast<uint8_t>((rng_ * 0x2545F4914F6CDD1DULL) >> 56);
    }
    return out;
}

Reply SsCard::select(const Apdu &a) {
    if (a.p1 == 0x04) {
        for (size_t i = 0; i < dfs_.size(); i++) {
            if (dfs_[i].name.empty() || dfs_[i].name != a.data) continue;
            enterDf(static_cast<int>(i));
            return {dfs_[i].fci, 0x9000};
        }
        return {{}, 0x6A82};
    }
    if (a.p1 != 0x00) return {{}, 0x6A86};
    if (a.data.size() != 2) return {{}, 0x6700};
    uint16_t id = static_cast<uint16_t>(a.data[0] << 8 | a.data[1]);
    if (id == 0x3F00) {
        enterDf(kMf);
        return {{}, 0x9000};
    }
    // An elementary file of the current DF.
    auto &files = dfs_[static_cast<size_t>(currentDf_)].files;
    for (size_t i = 0; i < files.size(); i++) {
        if (files[i].id != id) continue;
        currentEf_ = static_cast<int>(i);
        recordPointer_ = -1;
        return {{}, 0x9000};
    }
    // A DF below the current one, or beside it (below the same parent).
    int parent = dfs_[static_cast<size_t>(currentDf_)].parent;
    for (size_t i = 0; i < dfs_.size(); i++) {
        const CardDf &d = dfs_[i];
        if (d.id != id || static_cast<int>(i) == kMf || !d.name.empty()) continue;
        if (d.parent == currentDf_ || (parent >= 0 && d.parent == parent)) {
            enterDf(static_cast<int>(i));
            return {{}, 0x9000};
        }
    }
    return {{}, 0x6A82};
}

Reply SsCard::readRecord(const Apdu &a) {
    uint8_t sfi = a.p2 >> 3;
    if (sfi) {
        auto &files = dfs_[static_cast<size_t>(currentDf_)].files;
        int found = -1;
        for (size_t i = 0; i < files.size(); i++)
            if ((files[i].id & 0xFF00) == 0xEF00 && (files[i].id & 0x1F) == sfi) found = static_cast<int>(i);
        if (found < 0) return {{}, 0x6A82};
        if (found != currentEf_) recordPointer_ = -1;
        currentEf_ = found;
    }
    CardFile *f = currentFile();
    if (!f) return {{}, 0x6986};
    if (f->structure == kTransparent) return {{}, 0x6981};
    if (!mayRead(*f)) return {{}, 0x6982};
    int n = static_cast<int>(f->records.size());
    int index = -1;
    switch (a.p2 & 0x07) {
    case 0x04:  // record number P1
        if (a.p1 >= 1 && a.p1 <= n) index = a.p1 - 1;
        break;
    case 0x00:  // first, last, next, previous occurrence of identifier P1
    case 0x01:
    case 0x02:
    case 0x03: {
        // Records carry their identifier in the files of the directory,
        // fixed-length or not.
        bool tagged = f->structure == kTlvRecords || (f->structure == kFixedRecords && !f->layout.empty());
        if (!tagged) return {{}, 0x6981};
        auto matches = [&](int i) { return f->records[static_cast<size_t>(i)][0] == a.p1; };
        int mode = a.p2 & 0x07;
        if (mode == 0x00 || (mode == 0x02 && recordPointer_ < 0)) {
            for (int i = 0; i < n && index < 0; i++)
                if (matches(i)) index = i;
        } else if (mode == 0x01 || (mode == 0x03 && recordPointer_ < 0)) {
            for (int i = n - 1; i >= 0 && index < 0; i--)
                if (matches(i)) index = i;
        } else if (mode == 0x02) {
            for (int i = recordPointer_ + 1; i < n && index < 0; i++)
                if (matches(i)) index = i;
        } else {
            for (int i = recordPointer_ - 1; i >= 0 && index < 0; i--)
                if (matches(i)) index = i;
        }
        break;
    }
    default:
        return {{}, 0x6A86};
    }
    if (index < 0) return {{}, 0x6A83};
    const Bytes &r = f->records[static_cast<size_t>(index)];
    // A read refused for its Le (6C La) leaves the pointer where it was,
    // so that the repeated command finds the same record.
    if (delivers(a, r.size())) recordPointer_ = index;
    return {r, 0x9000};
}

Reply SsCard::readBinary(const Apdu &a) {
    size_t offset;
    if (a.p1 & 0x80) {
        uint8_t sfi = a.p1 & 0x1F;
        auto &files = dfs_[static_cast<size_t>(currentDf_)].files;
        int found = -1;
        for (size_t i = 0; i < files.size(); i++)
            if ((files[i].id & 0xFF00) == 0xEF00 && (files[i].id & 0x1F) == sfi) found = static_cast<int>(i);
        if (found < 0) return {{}, 0x6A82};
        currentEf_ = found;
        offset = a.p2;
    } else {
        offset = static_cast<size_t>(a.p1 << 8 | a.p2);
    }
    CardFile *f = currentFile();
    if (!f) return {{}, 0x6986};
    if (f->structure != kTransparent) return {{}, 0x6981};
    if (!mayRead(*f)) return {{}, 0x6982};
    if (a.le < 0) return {{}, 0x6700};
    if (offset >= f->content.size()) return {{}, 0x6B00};
    size_t n = std::min(static_cast<size_t>(a.le), f->content.size() - offset);
    auto begin = f->content.begin() + static_cast<long>(offset);
    return {Bytes(begin, begin + static_cast<long>(n)), 0x9000};
}

Reply SsCard::getChallenge(const Apdu &a) {
    if (a.p1 || a.p2) return {{}, 0x6A86};
    if (a.le != 4 && a.le != 8 && a.le != 16) return {{}, 0x6700};
    challenge_ = random(static_cast<size_t>(a.le));
    return {challenge_, 0x9000};
}

Reply SsCard::externalAuthenticate(const Apdu &a) {
    if (a.p1 != 0x00) return {{}, 0x6A86};
    if (a.data.size() != 16) return {{}, 0x6700};
    int owner = -1;
    auto *key = const_cast<CardKey *>(findKey(true, a.p2, &owner));
    if (!key || key->value.empty()) return {{}, 0x6A88};
    if (key->tries <= 0) return {{}, 0x6983};
    if (challenge_.empty()) return {{}, 0x6984};
    Bytes challenge = challenge_;
    challenge_.clear();  // a challenge serves one authentication
    Bytes cryptogram(a.data.begin(), a.data.begin() + 8), data(a.data.begin() + 8, a.data.end());
    if (authCryptogram(cipher(), key->value, padTo(challenge, 8), data) != cryptogram) {
        key->tries--;
        return {{}, static_cast<uint16_t>(0x63C0 | key->tries)};
    }
    key->tries = key->maxTries;
    authenticated_.insert({owner, a.p2});
    return {{}, 0x9000};
}

Reply SsCard::internalAuthenticate(const Apdu &a) {
    if (a.p1 != 0x00) return {{}, 0x6A86};
    if (a.data.size() != 16) return {{}, 0x6700};
    const CardKey *key = findKey(false, a.p2, nullptr);
    if (!key || key->value.empty()) return {{}, 0x6A88};
    Bytes random(a.data.begin(), a.data.begin() + 8), data(a.data.begin() + 8, a.data.end());
    return {authCryptogram(cipher(), key->value, random, data), 0x9000};
}

Reply SsCard::process(const Apdu &a) {
    if (a.cla == 0xB0) return purse(a);
    if (a.cla != 0x00 && a.cla != 0x80 && a.cla != 0x84) return {{}, 0x6E00};
    switch (a.ins) {
    case 0xA4:
        return select(a);
    case 0xB2:
        return readRecord(a);
    case 0xB0:
        return readBinary(a);
    case 0xDC:
        return updateRecord(a);
    case 0xD6:
        return updateBinary(a);
    case 0x84:
        return getChallenge(a);
    case 0x82:
        return externalAuthenticate(a);
    case 0x88:
        return internalAuthenticate(a);
    case 0x20:
        return verify(a);
    case 0x5E:
        return changePin(a);
    case 0x24:
        return pinService(a);
    default:
        return {{}, 0x6D00};
    }
}

void pairWithPsam(SsCard &card, Psam &psam, const KeySet &keys, int tries) {
    psam.setKeys(keys);
    card.installKeys(keys, tries);
}

KeySet keysFromSeed(const std::string &seed, const SsCard &card) {
    KeySet keys;
    for (const KeyRef &r : card.keyReferences()) keys.addFromSeed(seed, r);
    return keys;
}

}  // namespace vr
