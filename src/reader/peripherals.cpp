// SPDX-License-Identifier: MIT
// The reader's side modules: the QR-code scanner (slot 0x1C), the
// magnetic-stripe head (slot 0x1A), and the reader's identification (slot
// 0x00) with the PSAM's terminal number.  Every call opens the reader on
// "USB1", sends its command or short command sequence, hands the module's
// answer to the caller and closes the reader again.
#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "reader/reader.h"
#include "security/security.h"
#include "session/session.h"

using kestrel::sec::exchange;
using kestrel::sec::readDeviceNumber;

namespace {

constexpr unsigned char kStripeSlot = 0x1A;
constexpr unsigned char kScannerSlot = 0x1C;

// Codes of a refused scan and of a refused track setting or track read;
// the error table has no row for them.  The other refusals of these
// modules give -23 (kErrAddress: data passed in is invalid).
constexpr long kErrScan = -111;
constexpr long kErrStripe = -112;

// The modules' texts, GB18030.
const char kConnectFailedText[] = "\xB6\xC1\xBF\xA8\xC6\xF7\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC";  // 读卡器连接失败
const char kUnknownCommandCommaText[] =                                                          // 失败,不识别指令
    "\xCA\xA7\xB0\xDC,\xB2\xBB\xCA\xB6\xB1\xF0\xD6\xB8\xC1\xEE";
const char kUnknownCommandText[] = "\xCA\xA7\xB0\xDC\xB2\xBB\xCA\xB6\xB1\xF0\xD6\xB8\xC1\xEE";  // 失败不识别指令
const char kScanFailedText[] = "\xC9\xA8\xC2\xEB\xCA\xA7\xB0\xDC";                              // 扫码失败
const char kScanModeFailedText[] = "\xB6\xC1\xC9\xA8\xC2\xEB\xC4\xA3\xCA\xBD\xCA\xA7\xB0\xDC";  // 读扫码模式失败
const char kSetTrackFailedText[] = "\xC9\xE8\xD6\xC3\xB4\xC5\xB5\xC0\xCA\xA7\xB0\xDC";          // 设置磁道失败
const char kTrackNotSupportedText[] =                                                            // 不支持设置磁道数据
    "\xB2\xBB\xD6\xA7\xB3\xD6\xC9\xE8\xD6\xC3\xB4\xC5\xB5\xC0\xCA\xFD\xBE\xDD";
const char kReadTrackFailedText[] = "\xB6\xC1\xB4\xC5\xB5\xC0\xCA\xA7\xB0\xDC";  // 读磁道失败
const char kChannelFailedText[] =                                                 // 磁条卡通道转换失败
    "\xB4\xC5\xCC\xF5\xBF\xA8\xCD\xA8\xB5\xC0\xD7\xAA\xBB\xBB\xCA\xA7\xB0\xDC";
const char kSwipeFailedText[] = "\xB4\xC5\xCC\xF5\xBF\xA8\xCB\xA2\xBF\xA8\xCA\xA7\xB0\xDC";  // 磁条卡刷卡失败
const char kReadStripeFailedText[] =                                                          // 读磁条卡数据失败
    "\xB6\xC1\xB4\xC5\xCC\xF5\xBF\xA8\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC";

// Commands.
const unsigned char kScanModeAuto[5] = {0x80, 0x17, 0x03, 0x00, 0x00};
const unsigned char kScanModeCommand[5] = {0x80, 0x17, 0x03, 0x01, 0x00};
const unsigned char kReadScanMode[5] = {0x80, 0x17, 0x03, 0x00, 0x01};
const unsigned char kReadTrackSetting[5] = {0x80, 0x17, 0x03, 0x00, 0x01};
const unsigned char kStripeChannel[5] = {0x00, 0x19, 0x06, 0x01, 0x00};
const unsigned char kStripeSwipe[5] = {0x00, 0x19, 0x20, 0x08, 0x00};
const unsigned char kPowerOn[5] = {0x00, 0x12, 0x00, 0x00, 0x00};
const unsigned char kReadTerminalNumber[5] = {0x00, 0xB0, 0x96, 0x00, 0x06};

// What a call does when its module refuses: the text it writes and the
// code it returns (0: the status word translated as a card's).
struct Refusal {
    const char *text;
    long code;
};

void writeText(char *out, const char *text) { std::memcpy(out, text, std::strlen(text) + 1); }

// One answer of a module: at most the response area of an exchange, less
// its status word, so that a caller's buffer of KESTREL_SCAN_ANSWER_SIZE
// bytes holds it with room for a terminating NUL.
struct Answer {
    unsigned char data[kT0ResponseArea - 2];
    unsigned int len;
};

unsigned int send(long reader, unsigned char slot, const unsigned char *cmd, unsigned int cmdLen, Answer *a) {
    a->len = 0;
    return exchange(reader, slot, cmd, cmdLen, a->data, sizeof a->data, &a->len);
}

long refuse(char *out, const Refusal &r, unsigned int sw) {
    writeText(out, r.text);
    return r.code != 0 ? r.code : apduErrTanslation(sw);
}

// Runs body(reader) between opening the reader on "USB1" and closing it.
// A reader that cannot be opened gives -11 with the call's own text.
template <typename Body>
long withReader(char *out, const char *openFailedText, Body body) {
    if (!out) return kErrArgument;
    long reader = ICC_Reader_Open("USB1");
    if (reader < 0) {
        writeText(out, openFailedText);
        return kErrReader;
    }
    long rc = body(reader);
    ICC_Reader_Close(reader);
    return rc;
}

// One command to a module: its answer data to out (no NUL added), or the
// refusal's text and code.
long moduleCommand(long reader, char *out, unsigned char slot, const unsigned char *cmd, unsigned int cmdLen,
                   const Refusal &refusal) {
    Answer a;
    unsigned int sw = send(reader, slot, cmd, cmdLen, &a);
    if (sw != 0x9000) return refuse(out, refusal, sw);
    std::memcpy(out, a.data, a.len);
    return 0;
}

long moduleCall(char *out, const char *openFailedText, unsigned char slot, const unsigned char *cmd,
                unsigned int cmdLen, const Refusal &refusal) {
    return withReader(out, openFailedText,
                      [&](long reader) { return moduleCommand(reader, out, slot, cmd, cmdLen, refusal); });
}

// The scan command B0 B0 p1 n 00; n of 256 and more is sent as 255, any
// smaller value (a negative one too) as its low byte.
long scan(char *out, unsigned char p1, int n, const Refusal &refusal) {
    unsigned char cmd[5] = {0xB0, 0xB0, p1, static_cast<unsigned char>(n > 255 ? 255 : n), 0x00};
    return moduleCall(out, kConnectFailedText, kScannerSlot, cmd, sizeof cmd, refusal);
}

}  // namespace

extern "C" long Checkmod_Auto(char *out) {
    return moduleCall(out, kConnectFailedText, kScannerSlot, kScanModeAuto, sizeof kScanModeAuto,
                      {kUnknownCommandCommaText, 0});
}

extern "C" long Checkmod_Cmd(char *out) {
    return moduleCall(out, kConnectFailedText, kScannerSlot, kScanModeCommand, sizeof kScanModeCommand,
                      {kUnknownCommandText, 0});
}

extern "C" long SendScanCmd(char *out) { return scan(out, 0x00, 8, {kScanFailedText, 0}); }

extern "C" long iGetQRBase(int n, char *out) { return scan(out, 0x00, n, {kScanFailedText, kErrScan}); }

extern "C" long iGetQRCode(int n, char *out) { return scan(out, 0x03, n, {kScanFailedText, kErrScan}); }

extern "C" long SetScanLedMode(int m, char *out) {
    return withReader(out, errorText(kErrReader), [&](long reader) {
        // Modes other than 0, 2 and 3 are refused without a text.
        if (m != 0 && m != 2 && m != 3) return kErrAddress;
        const unsigned char cmd[6] = {0xB0, 0x17, 0x00, 0x23, 0x01, static_cast<unsigned char>(m)};
        return moduleCommand(reader, out, kScannerSlot, cmd, sizeof cmd, {kUnknownCommandText, kErrAddress});
    });
}

// The scan mode as two hexadecimal characters, without a NUL.  An answer
// without a mode byte counts as refused.
extern "C" long GetScanMode(char *out) {
    return withReader(out, errorText(kErrReader), [&](long reader) {
        Answer a;
        unsigned int sw = send(reader, kScannerSlot, kReadScanMode, sizeof kReadScanMode, &a);
        if (sw != 0x9000 || a.len < 1) return refuse(out, {kScanModeFailedText, kErrAddress}, sw);
        char hex[3];
        BinToCHex(hex, reinterpret_cast<const char *>(a.data), 1);
        std::memcpy(out, hex, 2);
        return 0L;
    });
}

extern "C" long SetMagTrip(int t, char *out) {
    return withReader(out, errorText(kErrReader), [&](long reader) {
        if (t != 2 && t != 3 && t != 6) {
            writeText(out, kTrackNotSupportedText);
            return kErrAddress;
        }
        const unsigned char cmd[5] = {0x80, 0x17, 0x03, static_cast<unsigned char>(t), 0x00};
        return moduleCommand(reader, out, kStripeSlot, cmd, sizeof cmd, {kSetTrackFailedText, kErrStripe});
    });
}

// Asks the head for its track setting k, switches the reader's channel to
// the stripe, waits for the swipe and reads the tracks that k selects.  An
// answer without a track setting counts as refused: the read would name
// tracks the head never gave.
extern "C" long ReadMagInfo(char *out) {
    return withReader(out, errorText(kErrReader), [&](long reader) {
        Answer a;
        unsigned int sw = send(reader, kStripeSlot, kReadTrackSetting, sizeof kReadTrackSetting, &a);
        if (sw != 0x9000 || a.len < 1) return refuse(out, {kReadTrackFailedText, kErrStripe}, sw);
        const unsigned char readTracks[5] = {0x00, 0xB0, a.data[0], 0x00, 0x00};
        sw = send(reader, kStripeSlot, kStripeChannel, sizeof kStripeChannel, &a);
        if (sw != 0x9000) return refuse(out, {kChannelFailedText, kErrAddress}, sw);
        sw = send(reader, kStripeSlot, kStripeSwipe, sizeof kStripeSwipe, &a);
        if (sw != 0x9000) return refuse(out, {kSwipeFailedText, kErrAddress}, sw);
        return moduleCommand(reader, out, kStripeSlot, readTracks, sizeof readTracks,
                             {kReadStripeFailedText, kErrAddress});
    });
}

// "<identification>|<terminal number>|": the reader's identification up to
// its first NUL byte (so that the text stays readable when the reader
// gives fewer than 20 characters) and the PSAM's 6-byte terminal number in
// hexadecimal.  A part that cannot be had is an empty field; the result is
// 0 whenever the reader could be opened.
extern "C" long iGetDeviceInfo(char *out) {
    if (!out) return kErrArgument;
    long reader = ICC_Reader_Open("USB1");
    if (reader < 0) {
        getErrorInf(static_cast<int>(kErrReader), out);
        return kErrReader;
    }
    char text[KESTREL_DEVICE_INFO_SIZE];
    int count = 0;
    unsigned char identification[kDeviceNumberSize];
    readDeviceNumber(reader, identification);
    size_t idLen = strnlen(reinterpret_cast<char *>(identification), sizeof identification);
    packForResponse(identification, static_cast<int>(idLen), text, &count);

    Answer a;
    unsigned int terminalLen = 0;
    char hex[2 * kTerminalNumberSize + 1] = {};
    if (findAndOpenPSAM(reader, 1) == 0 && send(reader, psamSlot, kPowerOn, sizeof kPowerOn, &a) == 0x9000 &&
        send(reader, psamSlot, kReadTerminalNumber, sizeof kReadTerminalNumber, &a) == 0x9000 &&
        a.len >= kTerminalNumberSize) {
        BinToCHex(hex, reinterpret_cast<const char *>(a.data), static_cast<int>(kTerminalNumberSize));
        terminalLen = 2 * kTerminalNumberSize;
    }
    packForResponse(reinterpret_cast<unsigned char *>(hex), static_cast<int>(terminalLen), text, &count);
    text[count] = '\0';
    std::memcpy(out, text, static_cast<size_t>(count) + 1);
    closeReader(reader);
    return 0;
}
