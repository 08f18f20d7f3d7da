// SPDX-License-Identifier: MIT
// Writing the social-security card's files, and the access conditions
// that guard reading and writing them.
//
// UPDATE RECORD replaces a record of a record file, found by its
// identifier (P2 00: the first record whose tag is P1) or by its number
// (P2 04: record P1); the data are the whole record, tag, length and value,
// and must be a record of the item that the file holds there.  On a cyclic
// file UPDATE RECORD 00 DC 00 03 appends a record as the newest.  UPDATE
// BINARY writes into a transparent file at the offset of P1 P2.
#include <algorithm>

#include "cards/ss_card.h"

namespace vr {

bool appendCyclicRecord(CardFile &f, const Bytes &record) {
    if (f.structure != kCyclicRecords || f.layout.empty() ||
        record.size() != static_cast<size_t>(f.layout[0].length))
        return false;
    f.records.insert(f.records.begin(), record);
    if (f.records.size() > static_cast<size_t>(f.capacity)) f.records.pop_back();
    return true;
}

bool SsCard::granted(const DirAccess &access) {
    switch (access.level) {
    case 0:
        return true;
    case 1:
        return pinVerified_;
    case 2:
        return keyAuthenticated(access.key.kid);
    case 3:
        return pinVerified_ || keyAuthenticated(access.key.kid);
    case 4:
        return pinVerified_ && keyAuthenticated(access.key.kid);
    default:
        return false;  // 5: never through these commands
    }
}

Reply SsCard::updateRecord(const Apdu &a) {
    CardFile *f = currentFile();
    if (!f) return {{}, 0x6986};
    if (f->structure == kTransparent) return {{}, 0x6981};
    if (!a.hasData()) return {{}, 0x6700};
    if (!granted(f->write)) return {{}, 0x6982};

    if (f->structure == kCyclicRecords) {
        if (a.p1 != 0x00 || a.p2 != 0x03) return {{}, 0x6A86};
        if (!appendCyclicRecord(*f, a.data)) return {{}, 0x6700};
        recordPointer_ = 0;
        return {{}, 0x9000};
    }

    // Files without a layout (the payment application's) are not written.
    if (f->layout.size() != f->records.size()) return {{}, 0x6981};
    const Bytes &d = a.data;
    if (d.size() < 2 || d[1] != d.size() - 2) return {{}, 0x6A80};
    int n = static_cast<int>(f->records.size());
    int index = -1;
    if (a.p2 == 0x00) {
        if (d[0] != a.p1) return {{}, 0x6A80};
        for (int i = 0; i < n && index < 0; i++)
            if (f->records[static_cast<size_t>(i)][0] == a.p1) index = i;
    } else if (a.p2 == 0x04) {
        if (a.p1 >= 1 && a.p1 <= n) index = a.p1 - 1;
    } else {
        return {{}, 0x6A86};
    }
    if (index < 0) return {{}, 0x6A83};
    const DirItem &item = f->layout[static_cast<size_t>(index)];
    // The record holds one item: its tag, and a value of the item's length
    // (at most that length in a TLV record file).
    if (d[0] != item.tag) return {{}, 0x6A80};
    size_t value = d.size() - 2, room = static_cast<size_t>(item.length);
    if (value > room || (f->structure == kFixedRecords && value != room)) return {{}, 0x6700};
    f->records[static_cast<size_t>(index)] = d;
    recordPointer_ = index;
    return {{}, 0x9000};
}

Reply SsCard::updateBinary(const Apdu &a) {
    if (a.p1 & 0x80) return {{}, 0x6A86};  // no short file identifiers here
    size_t offset = static_cast<size_t>(a.p1 << 8 | a.p2);
    CardFile *f = currentFile();
    if (!f) return {{}, 0x6986};
    if (f->structure != kTransparent) return {{}, 0x6981};
    if (!a.hasData()) return {{}, 0x6700};
    if (!granted(f->write)) return {{}, 0x6982};
    if (offset >= f->content.size()) return {{}, 0x6B00};
    if (a.data.size() > f->content.size() - offset) return {{}, 0x6700};
    std::copy(a.data.begin(), a.data.end(), f->content.begin() + static_cast<long>(offset));
    return {{}, 0x9000};
}

}  // namespace vr
