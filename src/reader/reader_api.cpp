// SPDX-License-Identifier: MIT
// Reader-handle API: port names, the table of open readers, and the slot
// commands (power on and off, status, one command to a slot).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "reader/reader.h"

long OpenedRHandle[kReaderTableSize] = {-12, -12, -12, -12, -12, -12, -12, -12, -12, -12, -12};
int ConvHandle[kReaderTableSize] = {-12, -12, -12, -12, -12, -12, -12, -12, -12, -12, -12};
int kk = 1;

// Exported for hosts that expect them; nothing here uses them.
extern "C" {
alignas(8) char ICC_Reader_OpenMutex[8];
alignas(8) char ICC_Reader_CloseMutex[8];
alignas(8) char ICC_Reader_PowerOnMutex[8];
alignas(8) char ICC_Reader_PowerOffMutex[8];
alignas(8) char ICC_Reader_GetStatusMutex[8];
alignas(8) char ICC_Reader_ApplicationMutex[8];
}

namespace {

constexpr int kSearchedEntries = 10;  // index 10 is never filled
constexpr int kAtrBufferSize = KESTREL_ATR_SIZE;
// A command to a PSAM goes out only up to this length.
constexpr long kMaxPsamCommand = 255;
constexpr long kMaxCommand = 261;

enum SlotGroup { kUserCard, kPsam };

const unsigned char kPowerOn[5] = {0x00, 0x12, 0x00, 0x00, 0x00};
const unsigned char kPowerOff[5] = {0x00, 0x13, 0x00, 0x00, 0x00};
const unsigned char kCardStatus[5] = {0x00, 0x14, 0x00, 0x00, 0x00};
const unsigned char kPsamStatus[5] = {0x00, 0x16, 0x00, 0x00, 0x00};

enum SlotUse : unsigned {
    kUsePowerOn = 1,
    kUsePowerOff = 2,  // also GetStatus
    kUseApplication = 4,
};

struct SlotEntry {
    unsigned char slot;
    unsigned char nad;
    SlotGroup group;
    unsigned uses;
};

const SlotEntry kSlots[] = {
    {0x00, 0x00, kUserCard, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x01, 0x12, kUserCard, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x02, 0x15, kUserCard, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x03, 0x13, kUserCard, kUsePowerOn},
    {0x11, 0x16, kPsam, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x12, 0x17, kPsam, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x13, 0x18, kPsam, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x14, 0x19, kPsam, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x1A, 0x1A, kUserCard, kUseApplication},
    {0x1B, 0x1B, kUserCard, kUsePowerOn | kUsePowerOff | kUseApplication},
    {0x1C, 0x1C, kUserCard, kUseApplication},
};

const SlotEntry *findSlot(unsigned char slot, unsigned use) {
    for (const SlotEntry &e : kSlots)
        if (e.slot == slot) return (e.uses & use) ? &e : nullptr;
    return nullptr;
}

// The tables and kk are read and written under this lock, so that threads
// with readers of their own can open, use and close them at the same time.
// Exchanges run outside it.
std::mutex tableLock;

// The lowest table index whose reader handle is `reader`, or -1 when that
// index is not open; 0 when the handle is open, otherwise its error code
// (-14 for a negative handle, -12 for one not open).  Called with the
// table lock held.
long findEntry(long reader, int *index) {
    *index = -1;
    for (int i = 0; i < kSearchedEntries && *index < 0; i++)
        if (static_cast<long>(ConvHandle[i]) == reader) *index = i;
    if (reader < 0) return kErrArgument;
    if (*index < 0 || OpenedRHandle[*index] == kClosedEntry) return kErrNotOpen;
    return 0;
}

// Finds the device handle of an open reader handle; returns 0 and sets
// *err when the handle is refused or not open.
long lookUp(long reader, long *err) {
    std::lock_guard<std::mutex> guard(tableLock);
    int index;
    *err = findEntry(reader, &index);
    return *err ? 0 : OpenedRHandle[index];
}

// First step of the slot functions: the open reader behind the handle and
// the slot, if this function accepts it.  Returns 0 or the error code.
long findReaderAndSlot(long reader, unsigned char slot, unsigned use, long *device, const SlotEntry **entry) {
    long err = 0;
    *device = lookUp(reader, &err);
    if (!*device) return err;
    *entry = findSlot(slot, use);
    return *entry ? 0 : kErrArgument;
}

void closeIndex(int index) {
    if (OpenedRHandle[index] > 0) {
        CT_close(OpenedRHandle[index]);
        OpenedRHandle[index] = kClosedEntry;
        ConvHandle[index] = kClosedEntry;
    }
}

long store(int index, long device) {
    OpenedRHandle[index] = device;
    ConvHandle[index] = static_cast<int>(kestrel::readerHandleOf(device));
    return ConvHandle[index];
}

long openAs(const char *name) { return CT_open(name, 0, 0); }

// Sends one of the reader's five-byte commands to the slot set by NAD and
// returns its status word.  The answer goes into a buffer of this call, so
// a reader that answers at length cannot overrun the caller's buffer.
int readerCommand(long device, const unsigned char *command) {
    unsigned char answer[KESTREL_MAX_RESPONSE];
    int len = 0;
    return ICC_tsi_api(device, 5, const_cast<unsigned char *>(command), &len, answer);
}

}  // namespace

extern "C" long ICC_Reader_Open(const char *port) {
    std::lock_guard<std::mutex> guard(tableLock);
    kk = 1;
    if (!port) return kErrArgument;
    bool atoi_ = strcmp(port, "atoi") == 0;
    if (!atoi_ && (strcmp(port, "USB1") < 0 || strcmp(port, "USB9") > 0)) return kErrArgument;

    if (atoi_) {
        for (int i = 0; i < kSearchedEntries; i++) closeIndex(i);
        for (int j = 0; j < 10; j++) {
            char name[8];
            snprintf(name, sizeof name, "hid%d", j);
            if (long h = openAs(name)) return store(0, h);
        }
        return kErrReader;
    }

    // The number after "USB" names the table entry; only 1 to 9 exist.
    long n = strtol(port + 3, nullptr, 10);
    if (n < 1 || n > 9) return kErrArgument;
    closeIndex(0);
    closeIndex(static_cast<int>(n));
    char name[8] = {'h', 'i', 'd', port[3], port[4] ? port[4] : '\0', '\0'};
    if (long h = openAs(name)) return store(static_cast<int>(n), h);
    for (int k = 1; k <= 9; k++) {
        closeIndex(static_cast<int>(n));
        snprintf(name, sizeof name, "hid%d", k);
        if (long h = openAs(name)) return store(static_cast<int>(n), h);
    }
    return kErrReader;
}

extern "C" long ICC_Reader_Close(long reader) {
    std::lock_guard<std::mutex> guard(tableLock);
    int index;
    long err = findEntry(reader, &index);
    if (err == kErrArgument) return err;
    if (err) return kk == 1 ? kErrNotOpen : 0;
    CT_close(OpenedRHandle[index]);
    kk = 0;
    OpenedRHandle[index] = kClosedEntry;
    ConvHandle[index] = kClosedEntry;
    return 0;
}

extern "C" long ICC_Reader_PowerOn(long reader, unsigned char slot, char *atr) {
    long device;
    const SlotEntry *s;
    if (long err = findReaderAndSlot(reader, slot, kUsePowerOn, &device, &s)) return err;
    if (slot == 0x00 || slot == 0x03) return 256;

    ICC_set_NAD(device, s->nad);
    // The answer arrives in a buffer of the link's size; only an answer
    // that fits the caller's 50 bytes (with its status word) is handed on.
    unsigned char answer[KESTREL_MAX_RESPONSE];
    memset(answer, 0, kAtrBufferSize);
    int len = 0;
    int sw = ICC_tsi_api(device, 5, const_cast<unsigned char *>(kPowerOn), &len, answer);
    if (atr) memset(atr, 0, kAtrBufferSize);
    if (sw == 0xFFFF) return kErrReader;
    if (sw == 0xFF12) return kErrWrongCardType;
    if (s->group == kPsam) {
        if (sw == kestrel::kLinkFailed) {
            readerCommand(device, kPsamStatus);
            return kErrNoAnswer;
        }
        if (sw != 0x9000) return kErrNoCard;
    } else {
        if (sw == 0x6200) {
            printf("dwRet==0x6200IFD_ICC_NoExist\n");
            return kErrNoCard;
        }
        // The reader's "no card" status is no answer to reset, whichever
        // command it answers.
        if (sw == 0xFF05) return kErrNoCard;
        if (sw == kestrel::kLinkFailed) return readerCommand(device, kCardStatus) == 0xFF05 ? kErrNoCard : kErrNoAnswer;
    }
    if (len + 2 > kAtrBufferSize) return kErrNoAnswer;
    if (atr) memcpy(atr, answer, len + 2);
    return len;
}

extern "C" long ICC_Reader_PowerOff(long reader, unsigned char slot) {
    long device;
    const SlotEntry *s;
    if (long err = findReaderAndSlot(reader, slot, kUsePowerOff, &device, &s)) return err;
    ICC_set_NAD(device, s->nad);
    if (slot == 0x00) return 0;
    if (s->group == kPsam) return readerCommand(device, kPowerOff) == 0xFFFF ? kErrReader : 0;
    int sw = readerCommand(device, kCardStatus);
    if (sw == 0xFFFF) return kErrReader;
    if (sw == 0xFF05) return kErrNoCard;
    readerCommand(device, kPowerOff);
    return 0;
}

extern "C" long ICC_Reader_GetStatus(long reader, unsigned char slot) {
    long device;
    const SlotEntry *s;
    if (long err = findReaderAndSlot(reader, slot, kUsePowerOff, &device, &s)) return err;
    ICC_set_NAD(device, s->nad);
    if (slot == 0x00) return 0;
    int sw = readerCommand(device, s->group == kPsam ? kPsamStatus : kCardStatus);
    // A reader that did not answer (gone, or silent until the time-out)
    // has told nothing about the slot: that is no "card present and
    // powered", but the reader's connection error.
    if (sw == 0xFFFF || sw == kestrel::kLinkFailed) return kErrReader;
    if (sw == 0xFF05) return kErrNoCard;
    if (sw == 0xFF10) return kErrNotPowered;
    return 0;
}

extern "C" long ICC_Reader_Application(long reader, unsigned char slot, long cmdLen,
                                       unsigned char *cmd, unsigned char *rsp) {
    long device;
    const SlotEntry *s;
    if (long err = findReaderAndSlot(reader, slot, kUseApplication, &device, &s)) return err;
    if (!cmd || !rsp) return kErrArgument;
    // A GET CHALLENGE for 4, 8 or 16 bytes is exactly five bytes long.
    if (cmdLen >= 5 && cmd[0] == 0x00 && cmd[1] == 0x84 && cmd[2] == 0x00 && cmd[3] == 0x00 &&
        (cmd[4] == 0x04 || cmd[4] == 0x08 || cmd[4] == 0x10) && cmdLen != 5)
        return kErrArgument;
    if (cmdLen < 4 || cmdLen > kMaxCommand) return kErrArgument;
    // A PSAM takes commands of at most 255 bytes; a longer one is refused
    // as a bad argument rather than sent.
    if (s->group == kPsam && cmdLen > kMaxPsamCommand) return kErrArgument;

    ICC_set_NAD(device, s->nad);
    memset(rsp, 0, 10);
    int len = 0, arrived = 0;
    int sw = kestrel::exchange(device, static_cast<int>(cmdLen), cmd, rsp, KESTREL_MAX_RESPONSE, &len, &arrived);
    if (sw == 0xFFFF) return kErrReader;
    long n = len + 2;
    // A full 256-byte answer whose length the reader reported as 0; taken
    // so only when that many bytes did arrive, so the status word is never
    // written past them (after a failed exchange the buffer may hold the
    // start of an answer that stopped short).
    if (n == 2 && arrived >= 258 && rsp[2] != 0 && rsp[3] != 0) n = 258;
    rsp[n - 2] = static_cast<unsigned char>(sw >> 8);
    rsp[n - 1] = static_cast<unsigned char>(sw);
    if (sw == kestrel::kLinkFailed) {
        switch (readerCommand(device, s->group == kPsam ? kPsamStatus : kCardStatus)) {
        case 0xFF05: return kErrNoCard;
        case 0xFF10: return kErrNotPowered;
        case 0xFF12: return kErrWrongCardType;
        default: return kErrNoAnswer;
        }
    }
    if (sw == 0xFF05) return kErrNoCard;
    if (sw == 0xFF10) return kErrNotPowered;
    if (sw == 0xFF12) return kErrWrongCardType;
    return n;
}
