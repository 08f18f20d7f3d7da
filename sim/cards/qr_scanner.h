/* SPDX-License-Identifier: MIT */
// The reader's QR-code scanner (slot 0x1C).  It needs no power-on and
// answers:
//
//   80 17 03 00 00          automatic scanning: mode 00          -> 90 00
//   80 17 03 01 00          scanning on command: mode 01         -> 90 00
//   80 17 03 00 01          the mode byte                        -> mm 90 00
//   B0 B0 00 nn 00,
//   B0 B0 03 nn 00          scan (nn: the time allowed)          -> code 90 00
//   B0 17 00 23 01 mm       light mode mm (00, 02 or 03)         -> 90 00
//
// A scan reads, in this order: the next code queued, the next line
// appended to the code file, the code in front of the scanner.  With none
// of them there is nothing to scan, and the scan is answered 69 85.  A
// light mode other than 00, 02, 03 gets 6A 86, anything else 6D 00.  A
// command can be made to fail with a status word of the test's choosing.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "card.h"

namespace vr {

class QrScanner : public Card {
public:
    static constexpr uint16_t kSwNothingToScan = 0x6985;
    static constexpr uint16_t kSwRefused = 0x6A82;

    enum class Command { ModeAuto, ModeCommand, ReadMode, Scan, Led };

    // The code in front of the scanner, read by every scan; none: nothing
    // to scan.
    void setCode(std::optional<Bytes> code) { code_ = std::move(code); }
    // A code read by one scan, before the one in front of the scanner.
    void queueCode(Bytes code) { queue_.push_back(std::move(code)); }
    // A text file of codes, one a line: each scan takes the next complete
    // line appended since the last one it took (a file that has shrunk is
    // read again from its start).  Lines longer than kMaxFileCode bytes
    // are cut.
    void setCodeFile(std::string path);
    static constexpr size_t kMaxFileCode = 65536;

    void setMode(uint8_t mode) { mode_ = mode; }
    uint8_t mode() const { return mode_; }
    uint8_t ledMode() const { return led_; }

    // The command is answered with sw alone.
    void refuse(Command c, uint16_t sw = kSwRefused) { refusals_[c] = sw; }

    Bytes reset() override { return {}; }
    Bytes transmit(const Bytes &command) override;
    bool needsPower() const override { return false; }

private:
    std::optional<Bytes> nextFromFile();
    std::optional<Bytes> nextCode();

    std::optional<Bytes> code_;
    std::deque<Bytes> queue_;
    std::string file_;
    long long fileOffset_ = 0;
    uint8_t mode_ = 0x00;
    uint8_t led_ = 0x00;
    std::map<Command, uint16_t> refusals_;
};

}  // namespace vr
