// SPDX-License-Identifier: MIT
#include "cards/qr_scanner.h"

#include <cstdio>

namespace vr {

void QrScanner::setCodeFile(std::string path) {
    file_ = std::move(path);
    fileOffset_ = 0;
}

std::optional<Bytes> QrScanner::nextFromFile() {
    if (file_.empty()) return std::nullopt;
    FILE *f = fopen(file_.c_str(), "rb");
    if (!f) return std::nullopt;
    std::optional<Bytes> line;
    if (fseek(f, 0, SEEK_END) == 0) {
        long long size = ftell(f);
        if (size < fileOffset_) fileOffset_ = 0;
        if (fseek(f, static_cast<long>(fileOffset_), SEEK_SET) == 0) {
            Bytes text;
            long long at = fileOffset_;
            int c;
            while ((c = fgetc(f)) != EOF) {
                at++;
                if (c == '\n') {
                    if (!text.empty() && text.back() == '\r') text.pop_back();
                    line = std::move(text);
                    fileOffset_ = at;
                    break;
                }
                if (text.size() < kMaxFileCode) text.push_back(static_cast<uint8_t>(c));
            }
        }
    }
    fclose(f);
    return line;
}

std::optional<Bytes> QrScanner::nextCode() {
    if (!queue_.empty()) {
        Bytes code = std::move(queue_.front());
        queue_.pop_front();
        return code;
    }
    if (auto line = nextFromFile()) return line;
    return code_;
}

Bytes QrScanner::transmit(const Bytes &c) {
    Command cmd;
    if (c.size() == 5 && c[0] == 0x80 && c[1] == 0x17 && c[2] == 0x03 && c[4] == 0x00 && c[3] <= 0x01)
        cmd = c[3] == 0x00 ? Command::ModeAuto : Command::ModeCommand;
    else if (c == Bytes{0x80, 0x17, 0x03, 0x00, 0x01})
        cmd = Command::ReadMode;
    else if (c.size() == 5 && c[0] == 0xB0 && c[1] == 0xB0 && (c[2] == 0x00 || c[2] == 0x03))
        cmd = Command::Scan;
    else if (c.size() == 6 && c[0] == 0xB0 && c[1] == 0x17 && c[2] == 0x00 && c[3] == 0x23 && c[4] == 0x01)
        cmd = Command::Led;
    else
        return withStatus({}, 0x6D00);

    auto refused = refusals_.find(cmd);
    if (refused != refusals_.end()) return withStatus({}, refused->second);
    switch (cmd) {
    case Command::ModeAuto:
    case Command::ModeCommand:
        mode_ = cmd == Command::ModeAuto ? 0x00 : 0x01;
        return withStatus({}, 0x9000);
    case Command::ReadMode:
        return withStatus({mode_}, 0x9000);
    case Command::Scan: {
        std::optional<Bytes> code = nextCode();
        return code ? withStatus(*code, 0x9000) : withStatus({}, kSwNothingToScan);
    }
    case Command::Led:
        if (c[5] != 0x00 && c[5] != 0x02 && c[5] != 0x03) return withStatus({}, 0x6A86);
        led_ = c[5];
        return withStatus({}, 0x9000);
    }
    return withStatus({}, 0x6D00);
}

}  // namespace vr
