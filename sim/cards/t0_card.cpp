// SPDX-License-Identifier: MIT
#include "cards/t0_card.h"

#include <algorithm>

namespace vr {

bool parseApdu(const Bytes &c, Apdu *out) {
    if (c.size() < 4) return false;
    Apdu a;
    a.cla = c[0];
    a.ins = c[1];
    a.p1 = c[2];
    a.p2 = c[3];
    a.raw = c;
    if (c.size() == 5) {
        a.le = c[4] ? c[4] : 256;
    } else if (c.size() > 5) {
        size_t lc = c[4];
        if (lc == 0) return false;
        if (c.size() == 5 + lc) {
            a.data.assign(c.begin() + 5, c.end());
        } else if (c.size() == 6 + lc) {
            a.data.assign(c.begin() + 5, c.end() - 1);
            a.le = c.back() ? c.back() : 256;
        } else {
            return false;
        }
    }
    *out = a;
    return true;
}

Bytes T0Card::reset() {
    pending_ = false;
    pendingData_.clear();
    onReset();
    return atr_;
}

Bytes T0Card::getResponse(const Apdu &a) {
    if (!pending_) return withStatus({}, 0x6985);
    size_t have = pendingData_.size();
    size_t le = a.le < 0 ? 0 : static_cast<size_t>(a.le);
    if (le == 0 || le > have) return withStatus({}, static_cast<uint16_t>(0x6C00 | lengthByte(have)));
    Bytes out(pendingData_.begin(), pendingData_.begin() + le);
    if (le < have) {
        // The rest stays for a further GET RESPONSE.
        pendingData_.erase(pendingData_.begin(), pendingData_.begin() + le);
        return withStatus(out, static_cast<uint16_t>(0x6100 | lengthByte(pendingData_.size())));
    }
    pending_ = false;
    pendingData_.clear();
    return withStatus(out, pendingSw_);
}

bool T0Card::delivers(const Apdu &a, size_t n) const {
    bool caseTwo = !a.hasData() && a.le > 0;
    return !(caseTwo && delivery_ == Delivery::Direct && static_cast<size_t>(a.le) != std::min<size_t>(n, 256));
}

Bytes T0Card::transmit(const Bytes &command) {
    Apdu a;
    if (!parseApdu(command, &a)) {
        pending_ = false;
        return withStatus({}, 0x6700);
    }
    if (a.cla == 0x00 && a.ins == 0xC0 && a.p1 == 0 && a.p2 == 0 && !a.hasData()) return getResponse(a);
    pending_ = false;
    pendingData_.clear();

    Reply r = process(a);
    if (r.data.empty()) return withStatus({}, r.sw);
    if (r.data.size() > 256) r.data.resize(256);
    bool caseTwo = !a.hasData() && a.le > 0;
    if (caseTwo && delivery_ == Delivery::Direct) {
        if (static_cast<size_t>(a.le) != r.data.size())
            return withStatus({}, static_cast<uint16_t>(0x6C00 | lengthByte(r.data.size())));
        return withStatus(r.data, r.sw);
    }
    pending_ = true;
    pendingData_ = r.data;
    pendingSw_ = r.sw;
    return withStatus({}, static_cast<uint16_t>(0x6100 | lengthByte(r.data.size())));
}

}  // namespace vr
