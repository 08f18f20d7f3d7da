// SPDX-License-Identifier: MIT
// The resident identity card, read through the reader's identity-card
// module in slot 0x1B: power the module up, send its frames (reset, frame
// size, find card, select card, read text and photo) as ordinary
// exchanges, and turn the text block into the readers' output texts.
#include <cstring>

#include "errors/errors.h"
#include "othercards/othercards.h"
#include "reader/reader.h"
#include "session/session.h"

using namespace kestrel::idc;

namespace {

// "读身份证失败" and "复位失败".
const char kReadFailedText[] = "\xB6\xC1\xC9\xED\xB7\xDD\xD6\xA4\xCA\xA7\xB0\xDC";
const char kResetFailedText[] = "\xB8\xB4\xCE\xBB\xCA\xA7\xB0\xDC";

constexpr unsigned char kReaderSlot = 0x00;

// A frame, and whether the module's answer to it is examined: the answers
// to finding, selecting and reading the card must report success, while
// resetting the module and setting the frame size count as done on the
// reader's 90 00 alone (modules differ in how they answer those two).
struct Frame {
    unsigned char bytes[11];
    unsigned int len;
    bool checked;
};

const Frame kResetModule = {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x12, 0xFF, 0xEE}, 10, false};
const Frame kSetFrameSize = {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x04, 0x61, 0xFF, 0x78, 0xE2}, 11, false};
const Frame kFindCard = {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22}, 10, true};
const Frame kSelectCard = {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21}, 10, true};
const Frame kReadTextAndPhoto = {{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32}, 10, true};

// One exchange's answer: the largest the reader link delivers.
struct Answer {
    unsigned char bytes[kT0ResponseArea];
    unsigned int len;
};

unsigned int send(long reader, unsigned char slot, const unsigned char *cmd, unsigned int cmdLen,
                  Answer *a) {
    // The exchange may rewrite the command's fifth byte: send a copy.
    unsigned char copy[16];
    std::memcpy(copy, cmd, cmdLen);
    a->len = 0;
    return IccExchangeT0(reader, slot, cmdLen, copy, &a->len, a->bytes, sizeof a->bytes);
}

// Powers the module up with the reader's power-on command, sent as an
// exchange.  Returns its status word.
unsigned int powerModule(long reader, Answer *a) {
    const unsigned char powerOn[5] = {0x00, 0x12, 0x00, 0x00, 0x00};
    return send(reader, kModuleSlot, powerOn, sizeof powerOn, a);
}

// Sends the module frames in order and takes the text block and the photo
// out of the answer to the last one.  A frame counts as refused when the
// reader's status is not 0x9000, or, for a checked frame, when the
// module's own answer is not a whole answer reporting success: a module
// that could not find or read the card still answers inside an exchange
// that the reader ends with 90 00.  Returns 0, or the translated status
// word of the refused frame.
long runFrames(long reader, const Frame *const *frames, int count, Answer *a, IdRecord *rec) {
    for (int i = 0; i < count; ++i) {
        unsigned int sw = send(reader, kModuleSlot, frames[i]->bytes, frames[i]->len, a);
        if (sw != 0x9000) return apduErrTanslation(sw);
        if (!frames[i]->checked) continue;
        bool last = i == count - 1;
        bool ok = last ? parseReadAnswer(a->bytes, a->len, rec) : moduleAnswerOk(a->bytes, a->len);
        if (!ok) return apduErrTanslation(sw);
    }
    return 0;
}

void copyText(char *out, const char *text) { std::strcpy(out, text); }

// The course shared by iReadIdentityCard and iReadSFZ: open, power the
// module, all five frames; on success the record holds the text block.
// Returns 0 with the reader open in *reader, or the code after writing its
// text and closing the reader.
long readResident(char *out, bool ownOpenText, long *readerOut, Answer *a, IdRecord *rec) {
    long reader = ICC_Reader_Open("USB1");
    if (reader < 0) {
        if (ownOpenText) copyText(out, errorText(kErrReader));
        else getErrorInf(kErrReader, out);
        return kErrReader;
    }
    if (powerModule(reader, a) != 0x9000) {
        getErrorInf(kErrNoCard, out);
        ICC_Reader_Close(reader);
        return kErrNoCard;
    }
    static const Frame *const kFrames[] = {&kResetModule, &kSetFrameSize, &kFindCard, &kSelectCard,
                                           &kReadTextAndPhoto};
    long rc = runFrames(reader, kFrames, 5, a, rec);
    if (rc != 0) {
        copyText(out, kReadFailedText);
        ICC_Reader_Close(reader);
        return rc;
    }
    *readerOut = reader;
    return 0;
}

// The end of a successful read: the reader's signal that the card has been
// read (its answer is not used), then close.
void finishResident(long reader) {
    Answer a;
    const unsigned char done[5] = {0x80, 0xF2, 0x00, 0x01, 0x00};
    send(reader, kReaderSlot, done, sizeof done, &a);
    ICC_Reader_Close(reader);
}

// The dialogue of iReadIdentityCard and iReadSFZ: read the card, write
// the text block into pOutInfo with `format`, and close.
long readAndFormat(char *pOutInfo, bool ownOpenText, int (*format)(const unsigned char *, char *)) {
    if (!pOutInfo) return kErrArgument;
    Answer a;
    IdRecord rec;
    long reader = 0;
    long rc = readResident(pOutInfo, ownOpenText, &reader, &a, &rec);
    if (rc != 0) return rc;
    std::memset(pOutInfo, 0, kOutSize);
    format(rec.text, pOutInfo);
    finishResident(reader);
    return 0;
}

}  // namespace

extern "C" long iReadIdentityCard(char *pOutInfo) { return readAndFormat(pOutInfo, false, formatIdentityCard); }

extern "C" long iReadSFZ(char *pOutInfo) { return readAndFormat(pOutInfo, true, formatSFZ); }

long IDC_ReadIDCard(char *pOutInfo, char *pPhotoHex) {
    if (!pOutInfo || !pPhotoHex) return kErrArgument;
    long reader = ICC_Reader_Open("USB1");
    if (reader < 0) {
        getErrorInf(kErrReader, pOutInfo);
        return kErrReader;
    }
    Answer a;
    unsigned int sw = powerModule(reader, &a);
    if (sw != 0x9000) {
        copyText(pOutInfo, kResetFailedText);
        closeReader(reader);
        return apduErrTanslation(sw);
    }
    ICC_Reader_GetStatus(reader, kModuleSlot);
    static const Frame *const kFrames[] = {&kSetFrameSize, &kFindCard, &kSelectCard, &kReadTextAndPhoto};
    IdRecord rec;
    long rc = runFrames(reader, kFrames, 4, &a, &rec);
    // The photo buffer holds the module's photo size; a longer photo is a
    // broken answer.
    if (rc == 0 && rec.photoLen > kMaxPhoto) rc = apduErrTanslation(0x9000);
    if (rc != 0) {
        copyText(pOutInfo, kReadFailedText);
        closeReader(reader);
        return rc;
    }
    photoHex(rec.photo, rec.photoLen, pPhotoHex);
    formatIDC(rec.text, pOutInfo);
    closeReader(reader);
    return 0;
}
