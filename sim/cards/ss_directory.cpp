// SPDX-License-Identifier: MIT
#include "cards/ss_directory.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vr {

namespace {

// One file per row, written as the card's layout documents are: DF and
// EF, structure, read group and write group ("-" for no key, else the
// security module's key address, KID, type byte and version byte; then
// the level), and the items as tag/length/kind with "xN" for N records of
// the same tag.
struct Row {
    const char *file;
    int structure;
    const char *read;
    const char *write;
    const char *items;
};

const Row kVersion1[] = {
    {"SSSE EF05", 2, "- 0", "0094 04 48 12 2", "01/16/255 02/1/1 03/4/1 04/12/15 05/4/15 06/4/15 07/9/1"},
    {"SSSE EF06", 2, "- 0", "0094 04 48 12 2", "08/18/1 09/30/1 0A/1/1 0B/1/15 0C/3/15 0D/4/15"},
    {"SSSE EF07", 0, "- 0", "0094 04 48 12 2", "00/768/255"},
    {"DF01 EF05", 2, "- 1", "0097 83 48 42 2", "20/1/1 21/62/1 22/18/1"},
    {"DF01 EF06", 2, "- 1", "0179 86 47 25 2", "25/62/1 26/18/1 27/3/15 28/15/1"},
    {"DF01 EF07", 1, "009A 84 48 43 3", "009A 84 48 43 2", "29/1/1 2A/1/15"},
    {"DF01 EF08", 2, "- 1", "0176 85 47 24 2", "2B/1/1"},
    {"DF01 EF09", 2, "009A 84 48 43 3", "009A 84 48 43 2", "2E/62/1 2F/8/1 30/9/1 31/1/1 32/3/1"},
    {"DF01 EF0A", 1, "- 1", "009D 87 48 44 2", "37/4/16 38/4/16 39/4/15"},
    {"DF02 EF05", 2, "- 1", "0187 83 47 26 2", "40/52/2 41/52/2 42/3/1 43/29/2 44/29/2"},
    {"DF02 EF06", 1, "00A0 84 48 45 3", "00A0 84 48 45 2", "4B/4/15 4C/4/15 60/4/15 4D/4/15 4F/4/15 50/4/15 3A/7/1"},
    {"DF02 EF07", 3, "00A3 85 48 46 3", "00A3 85 48 46 2", "00/85/0x4"},
    {"DF02 EF08", 2, "018A 86 47 27 3", "018A 86 47 27 2", "52/10/15 53/62/1 94/8/1 54/4/15"},
    {"DF02 EF09", 2, "018D 87 47 28 3", "018D 87 47 28 2", "55/10/15 56/62/1 95/8/1 96/4/15 97/4/15"},
    {"DF03 EF05", 2, "0196 85 67 2C 4", "00A6 86 48 47 2",
     "60/4/15 98/4/15 61/4/16 62/4/15 63/3/1 64/3/1 65/3/1 66/3/1"},
    {"DF03 EF06", 2, "- 1", "0190 87 47 29 2", "67/4/15 68/62/1 69/62/1 6A/16/1 6B/60/1"},
    {"DF03 EF07", 2, "0193 84 67 2B 4", "00A9 88 48 48 2",
     "6C/4/15 6D/4/16 6E/4/15 6F/4/15 70/3/1 71/4/16 72/4/16 73/4/15"},
    {"DF04 EF05", 2, "- 1", "00AC 85 48 49 2",
     "80/4/15 81/62/1 82/8/1 83/9/1 84/62/1 85/8/1 86/9/1 87/62/1 88/8/1 89/9/1 8A/15/1 8B/10/1 8C/1/15 8F/1/1"},
    {"DF04 EF06", 1, "0182 84 67 2D 4", "017C 86 47 2A 2", "90/4/16 92/4/16 93/4/16"},
    {"DF04 EF08", 3, "- 1", "- 5", "00/28/0x10"},
};

const Row kVersion2[] = {
    {"SSSE EF05", 2, "- 0", "0094 04 48 12 2", "01/16/255 02/1/1 03/4/1 04/12/15 05/4/15 06/4/15 07/9/1"},
    {"SSSE EF06", 2, "- 0", "0094 04 48 12 2", "08/18/1 09/30/1 4E/20/1 0A/1/1 0B/1/15 0C/3/15 0D/4/15"},
    {"SSSE EF07", 0, "004C 0A 67 0A 2", "0094 04 48 12 2", "00/1024/255"},
    {"SSSE EF08", 0, "004C 0A 67 0A 2", "0094 04 48 12 2", "00/4096/255"},
    {"DF01 EF05", 2, "004F 88 67 2E 3", "0097 83 48 42 2", "20/2/1 21/80/1 0E/3/15"},
    {"DF01 EF06", 2, "004F 88 67 2E 3", "0179 86 47 25 2", "23/80/1 24/3/15 28/15/1 2C/50/1 2D/15/1"},
    {"DF01 EF07", 1, "004F 88 67 2E 3", "009A 84 48 43 2", "29/1/1"},
    {"DF01 EF08", 1, "004F 88 67 2E 3", "0176 85 47 24 2", "2B/1/1"},
    {"DF01 EF09", 2, "004F 88 67 2E 3", "009A 84 48 43 2", "2E/70/1 30/9/1 32/2/1"},
    {"DF01 EF0A", 2, "004F 88 67 2E 3", "009D 87 48 44 2", "37/3/1 38/2/1 39/4/15"},
    {"DF01 EF15", 2, "004F 88 67 2E 3", "0052 89 47 2F 2", "2A/1/15 40/52/2x3"},
    {"DF01 EF16", 0, "- 0", "0055 8A 47 30 2", "00/296/255"},
    {"DF01 EF17", 0, "- 0", "0058 8B 47 31 2", "00/296/255"},
    {"DF01 EF18", 0, "- 0", "005B 8C 47 32 2", "00/296/255"},
    {"DF01 EF19", 0, "- 0", "005E 8D 47 33 2", "00/296/255"},
    {"DF01 EF1A", 0, "- 0", "0061 8E 47 34 2", "00/296/255"},
    {"DF02 EF05", 2, "0064 88 67 35 3", "0187 83 47 26 2", "42/3/1 41/3/1 43/108/2x2 44/101/2x2"},
    {"DF02 EF06", 2, "0064 88 67 35 3", "00A0 84 48 45 2", "4C/4/15 4B/5/1 4D/3/15 60/4/15 4F/6/1 50/3/15 3A/7/1"},
    {"DF02 EF07", 3, "0064 88 67 35 3", "00A3 85 48 46 2", "00/85/0"},
    {"DF02 EF09", 2, "0064 88 67 35 3", "018A 86 47 27 2", "55/16/1 56/70/1 96/4/15 97/3/15"},
    {"DF02 EF15", 2, "0064 88 67 35 3", "018D 87 47 28 2", "99/16/2x4 0F/4/15 1F/3/15"},
    {"DF02 EF16", 3, "0064 88 67 35 3", "0067 89 47 36 2", "00/18/0"},
    {"DF03 EF05", 2, "0196 85 67 2C 3", "00A6 86 48 47 2",
     "61/3/15 60/4/15 98/4/15 62/4/15 63/3/1 64/3/1 65/3/1 66/3/1"},
    {"DF03 EF06", 2, "0193 84 67 2B 3", "0190 87 47 29 2",
     "45/20/1 46/2/1 47/2/1 48/1/1 49/1/1 67/4/15 6B/60/1 4A/97/2x3"},
    {"DF03 EF07", 2, "0193 84 67 2B 3", "00A9 88 48 48 2", "70/3/1 71/3/15 6E/4/15 6C/4/15 6F/4/15 73/4/15"},
    {"DF03 EF15", 2, "0193 84 67 2B 3", "006A 89 47 37 2", "7A/3/15 7B/4/15 7C/4/15"},
    {"DF03 EF16", 2, "0193 84 67 2B 3", "006D 8A 47 38 2", "51/3/15 5F/1/1"},
    {"DF03 EF17", 2, "0193 84 67 2B 3", "0070 8B 47 39 2", "3B/20/1 3C/70/1 3D/1/1 3E/4/15 3F/60/1"},
    {"DF03 EF18", 2, "0193 84 67 2B 3", "0073 8C 47 3A 2", "74/3/1 75/3/15 76/1/15 77/4/15 78/4/15"},
    {"DF03 EF19", 2, "0193 84 67 2B 3", "0076 8D 47 3B 2", "79/39/2x4"},
    {"DF04 EF05", 2, "0182 84 67 2D 3", "00AC 85 48 49 2",
     "81/8/1 84/3/15 87/17/1 8C/1/15 80/4/15 8B/29/1 8A/15/1 83/9/1 86/9/1 89/9/1 7D/9/1 7E/9/1 7F/9/1 "
     "8D/9/1 8E/9/1 8F/1/1"},
    {"DF04 EF06", 2, "0182 84 67 2D 4", "017C 86 47 2A 2", "90/1/1 92/4/16 93/2/1"},
    {"DF04 EF08", 3, "- 1", "- 5", "00/28/0x30"},
    {"DF04 EF15", 3, "0182 84 67 2D 3", "017C 86 47 2A 2", "00/3/0x8"},
    {"DF07 EF05", 2, "007A 83 67 3D 2", "007D 86 47 3E 2", "F0/2/1 F1/1/1 F2/4/15 F3/3/1 F4/4/15"},
    {"DF07 EF06", 2, "0080 84 67 3F 2", "0083 87 47 B0 2", "F5/3/1 F6/4/15 F7/70/1"},
    {"DF07 EF07", 2, "0086 85 67 B1 2", "0089 88 47 B2 2", "F8/4/15 F9/1/1"},
};

// Children of composite items: parent tags, then the children.
struct ChildRow {
    const char *parents;
    const char *children;
};

const ChildRow kChildren1[] = {
    {"40 41", "57/3/1 58/3/15 59/40/1"},
    {"43 44", "5A/7/1 5B/1/1 5C/9/1 5D/4/15"},
};

const ChildRow kChildren2[] = {
    {"40", "57/3/1 58/3/15 59/40/1"},
    {"43", "5A/7/1 5B/1/1 5C/70/1 5D/4/15 5E/16/1"},
    {"44", "33/3/1 34/70/1 35/4/15 36/16/1"},
    {"99", "10/3/1 11/4/15 12/3/15"},
    {"4A", "13/2/1 14/1/1 15/20/1 16/4/15 17/60/1"},
    {"79", "18/3/1 19/3/15 1A/4/15 1B/4/15 1C/4/16 1D/3/1 1E/4/15"},
};

[[noreturn]] void broken(const char *what, const char *text) {
    fprintf(stderr, "card directory: bad %s: %s\n", what, text);
    abort();
}

unsigned hexNumber(const std::string &s, const char *context) {
    char *end = nullptr;
    unsigned long v = strtoul(s.c_str(), &end, 16);
    if (s.empty() || *end) broken("number", context);
    return static_cast<unsigned>(v);
}

DirAccess parseAccess(const char *text) {
    std::istringstream in(text);
    std::vector<std::string> t;
    for (std::string w; in >> w;) t.push_back(w);
    DirAccess a;
    if (t.size() == 2 && t[0] == "-") {
        a.level = static_cast<int>(hexNumber(t[1], text));
    } else if (t.size() == 5) {
        a.address = static_cast<uint16_t>(hexNumber(t[0], text));
        a.key.kid = static_cast<uint8_t>(hexNumber(t[1], text));
        a.key.type = static_cast<uint8_t>(hexNumber(t[2], text));
        a.key.version = static_cast<uint8_t>(hexNumber(t[3], text));
        a.level = static_cast<int>(hexNumber(t[4], text));
    } else {
        broken("access group", text);
    }
    return a;
}

std::vector<DirItem> parseItems(const char *text) {
    std::vector<DirItem> items;
    std::istringstream in(text);
    for (std::string w; in >> w;) {
        DirItem it;
        unsigned tag = 0, occurrences = 1;
        int length = 0, kind = 0;
        if (sscanf(w.c_str(), "%x/%d/%dx%u", &tag, &length, &kind, &occurrences) < 3) broken("item", text);
        it.tag = static_cast<uint8_t>(tag);
        it.length = length;
        it.kind = kind;
        it.occurrences = static_cast<int>(occurrences);
        items.push_back(it);
    }
    return items;
}

template <size_t N>
std::vector<DirFile> build(const Row (&rows)[N]) {
    std::vector<DirFile> out;
    for (const Row &r : rows) {
        DirFile f;
        std::string name(r.file);
        f.df = name.compare(0, 4, "SSSE") == 0 ? 0 : static_cast<uint16_t>(hexNumber(name.substr(0, 4), r.file));
        f.ef = static_cast<uint16_t>(hexNumber(name.substr(5, 4), r.file));
        f.structure = r.structure;
        f.read = parseAccess(r.read);
        f.write = parseAccess(r.write);
        f.items = parseItems(r.items);
        out.push_back(f);
    }
    return out;
}

std::vector<DirFile> buildVersion3() {
    std::vector<DirFile> v = build(kVersion2);
    for (DirFile &f : v) {
        if (f.df != 0) continue;
        if (f.ef == 0xEF06) f.read = parseAccess("004C 0A 67 0A 2");
        if (f.ef == 0xEF07) f.items[0].length = 4096;
        if (f.ef == 0xEF08) f.items[0].length = 8192;
    }
    return v;
}

}  // namespace

const std::vector<DirFile> &cardDirectory(int version) {
    static const std::vector<DirFile> v1 = build(kVersion1), v2 = build(kVersion2), v3 = buildVersion3();
    return version == 1 ? v1 : version == 3 ? v3 : v2;
}

std::vector<DirItem> compositeChildren(int version, uint8_t parentTag) {
    auto search = [parentTag](const ChildRow *rows, size_t n) {
        for (size_t i = 0; i < n; i++) {
            std::istringstream in(rows[i].parents);
            for (std::string w; in >> w;)
                if (hexNumber(w, rows[i].parents) == parentTag) return parseItems(rows[i].children);
        }
        return std::vector<DirItem>{};
    };
    if (version == 1) return search(kChildren1, sizeof kChildren1 / sizeof kChildren1[0]);
    return search(kChildren2, sizeof kChildren2 / sizeof kChildren2[0]);
}

std::vector<uint8_t> defaultItemValue(int version, const DirItem &item) {
    switch (item.kind) {
    case kItemCn:
    case kItemMoneyCn:
    case kItemMoneyB:
        return std::vector<uint8_t>(static_cast<size_t>(item.length), 0xFF);
    case kItemComposite: {
        std::vector<uint8_t> out;
        for (const DirItem &child : compositeChildren(version, item.tag)) {
            out.push_back(child.tag);
            out.push_back(static_cast<uint8_t>(child.length));
            std::vector<uint8_t> v = defaultItemValue(version, child);
            out.insert(out.end(), v.begin(), v.end());
        }
        out.resize(static_cast<size_t>(item.length), 0x00);
        return out;
    }
    default:
        return std::vector<uint8_t>(static_cast<size_t>(item.length), 0x00);
    }
}

}  // namespace vr
