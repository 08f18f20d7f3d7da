// SPDX-License-Identifier: MIT
// The virtual scanner and stripe head themselves: where a scan takes its
// code from, which tracks a read returns, the [scanner] and [stripe]
// profile sections, and vreader's --scan and --scan-file driving a host
// program.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "cards/mag_stripe.h"
#include "cards/qr_scanner.h"
#include "profile.h"
#include "reader.h"

using namespace vr;

namespace {

const Bytes kScan = hex("B0 B0 00 08 00");

std::string scanned(QrScanner &s) {
    Bytes r = s.transmit(kScan);
    if (statusWord(r) != 0x9000) return "SW " + toHex(Bytes(r.end() - 2, r.end()));
    return std::string(r.begin(), r.end() - 2);
}

std::string buildDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string p(path);
    return p.substr(0, p.rfind('/'));
}

TEST(ScannerModel, ScanTakesQueuedCodesThenNewFileLinesThenTheStandingCode) {
    const std::string file = buildDir() + "/scan-codes-" + std::to_string(getpid()) + ".txt";
    std::ofstream(file) << "FILE-1\r\nFILE-2\nPART";
    QrScanner s;
    EXPECT_EQ(scanned(s), "SW 69 85");  // nothing to scan
    s.setCode(Bytes{'S'});
    s.queueCode(Bytes{'Q'});
    s.setCodeFile(file);
    EXPECT_EQ(scanned(s), "Q");
    EXPECT_EQ(scanned(s), "FILE-1");
    EXPECT_EQ(scanned(s), "FILE-2");
    EXPECT_EQ(scanned(s), "S");  // an unfinished line waits for its newline
    std::ofstream(file, std::ios::app) << "IAL\n";
    EXPECT_EQ(scanned(s), "PARTIAL");
    std::ofstream(file) << "NEW\n";  // rewritten shorter: read from the start
    EXPECT_EQ(scanned(s), "NEW");
    unlink(file.c_str());
    EXPECT_EQ(scanned(s), "S");
}

TEST(StripeModel, ReadReturnsTheTracksItsMaskSelects) {
    MagStripe m;
    m.setTracks({"A", std::nullopt, "C"});
    const struct {
        const char *read;
        const char *answer;
    } cases[] = {{"00 B0 01 00 00", "A|"}, {"00 B0 06 00 00", "|C|"}, {"00 B0 07 00 00", "A||C|"}};
    for (const auto &c : cases) {
        Bytes r = m.transmit(hex(c.read));
        EXPECT_EQ(std::string(r.begin(), r.end()), std::string(c.answer) + "\x90" + '\0') << c.read;
    }
    EXPECT_EQ(m.transmit(hex("00 B0 08 00 00")), hex("6A 86"));
    EXPECT_EQ(m.transmit(hex("80 17 03 04 00")), hex("6A 86"));
    m.setTracks({});
    EXPECT_EQ(m.transmit(hex("00 19 20 08 00")), hex("69 85"));
}

TEST(ModuleProfile, SectionsBuildTheScannerAndTheStripeHead) {
    Profile p;
    std::string error;
    ASSERT_TRUE(parseProfile("[scanner]\ncode = hex:01 02\nmode = 01\nrefuse = led scan\n"
                             "[stripe]\ntrack2 = ;62=34?\ntracks = 02\nrefuse = swipe\n",
                             "t.profile", &p, &error))
        << error;
    Reader r;
    insertProfile(r, p);
    auto s = std::dynamic_pointer_cast<QrScanner>(r.slot(0x1C).card);
    auto m = std::dynamic_pointer_cast<MagStripe>(r.slot(0x1A).card);
    ASSERT_TRUE(s && m);
    EXPECT_EQ(s->transmit(hex("80 17 03 00 01")), hex("01 90 00"));
    EXPECT_EQ(s->transmit(kScan), hex("6A 82"));
    EXPECT_EQ(m->transmit(hex("80 17 03 00 01")), hex("02 90 00"));
    EXPECT_EQ(m->transmit(hex("00 19 20 08 00")), hex("6A 82"));
    EXPECT_EQ(m->tracks()[1], std::optional<std::string>(";62=34?"));

    // The demonstration profile has both, ready to scan and swipe.
    Reader demo;
    insertProfile(demo, demoProfile());
    auto ds = std::dynamic_pointer_cast<QrScanner>(demo.slot(0x1C).card);
    auto dm = std::dynamic_pointer_cast<MagStripe>(demo.slot(0x1A).card);
    ASSERT_TRUE(ds && dm);
    EXPECT_EQ(statusWord(ds->transmit(kScan)), 0x9000);
    EXPECT_EQ(statusWord(dm->transmit(hex("00 19 20 08 00"))), 0x9000);
}

TEST(ModuleProfile, MalformedValuesAreRefusedWithTheirLine) {
    const struct {
        const char *text;
        const char *error;
    } cases[] = {
        {"[scanner]\nrefuse = scan blink\n", "t.profile:2: refuse: expected auto, command, mode, scan, led, or none"},
        {"[scanner]\nmode = 01 02\n", "t.profile:2: mode: 2 bytes"},
        {"[scanner]\nlight = 1\n", "t.profile:2: unknown key 'light' in [scanner]"},
        {"[stripe]\ntracks = 04\n", "t.profile:2: tracks: expected 02, 03 or 06"},
        {"[stripe]\ntrack2 = 1|2\n", "t.profile:2: track2: only printable ASCII other than '|'"},
        {"[stripe]\n\ntrack2 = 12345678901234567890123456789012345678901\n", "t.profile:3: track2: more than 40"},
    };
    for (const auto &c : cases) {
        Profile p;
        std::string error;
        EXPECT_FALSE(parseProfile(c.text, "t.profile", &p, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    Profile p;
    std::string error;
    std::string tooLong = "[scanner]\ncode = " + std::string(4095, 'x') + "\n";
    EXPECT_FALSE(parseProfile(tooLong, "t.profile", &p, &error));
}

// Runs scan_and_swipe under vreader with the given options and returns its
// standard output.
std::string runExample(const std::string &options) {
    const std::string b = buildDir();
    const char *emulator = getenv("VREADER_EMULATOR");
    // vreader makes a simulated bus of its own, not on this process's.
    std::string cmd = "env -u LD_PRELOAD -u UMOCKDEV_DIR " + std::string(emulator ? emulator : "") + " " + b +
                      "/vreader " + options + " -- " + b + "/scan_and_swipe " + b + "/libkestrel.so 2>&1";
    FILE *f = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    size_t n;
    while (f && (n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    if (f) pclose(f);
    return out;
}

TEST(Vreader, ScanOptionsSayWhatTheScannerReadsNext) {
    std::string out = runExample("--scan=ORDER-0042");
    EXPECT_NE(out.find("scanned code   ORDER-0042\n"), std::string::npos) << out;
    EXPECT_NE(out.find("device         KVR1-000000000000042|430105000007|\n"), std::string::npos) << out;

    // Without a profile's scanner one is put in the slot for the file.
    const std::string file = buildDir() + "/scan-file-" + std::to_string(getpid()) + ".txt";
    std::ofstream(file) << "FROM-FILE\n";
    out = runExample("--empty --scan-file=" + file);
    unlink(file.c_str());
    EXPECT_NE(out.find("scanned code   FROM-FILE\n"), std::string::npos) << out;
}

}  // namespace
