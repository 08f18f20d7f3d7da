// SPDX-License-Identifier: MIT
// vreader: runs a program against the virtual reader.
//
//   vreader [options] -- PROGRAM [ARGS...]
//
// The virtual reader lives in this process; the program runs as a child
// under umockdev's preload library, so its libusb finds the reader on a
// simulated USB bus.  The program needs no change and no hardware.
#include <getopt.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apdu_names.h"
#include "cards/qr_scanner.h"
#include "cards/reader_device.h"
#include "demo_cards.h"
#include "preload.h"
#include "profile.h"
#include "virtual_reader.h"

namespace {

const char kUsage[] =
    "Usage: vreader [OPTIONS] -- PROGRAM [ARGS...]\n"
    "Runs PROGRAM against a virtual card reader on a simulated USB bus.\n"
    "\n"
    "The program runs unmodified under umockdev's preload library: libusb in it\n"
    "finds the reader (USB vendor 163C) and talks to it as to real hardware.\n"
    "The reader starts with the cards of the demonstration profile in its slots\n"
    "(a version-2 social-security card, a PSAM whose keys match it, a device\n"
    "number), or with those of the profile given with --profile.\n"
    "\n"
    "Options:\n"
    "  -p, --profile=FILE the cards, keys and reader settings of a profile file\n"
    "                     (see the built-in one with --show-profile)\n"
    "      --show-profile print the built-in demonstration profile and exit\n"
    "  -t, --trace        print every message the reader receives and its answer\n"
    "                     (to standard error, or to the file of --trace-file)\n"
    "      --trace-file=FILE  write the trace to FILE\n"
    "  -e, --empty        start with empty slots (no profile at all)\n"
    "      --scan=CODE    the QR-code scanner reads CODE at its next scan; repeat\n"
    "                     the option for the scans after it\n"
    "      --scan-file=FILE  each scan takes the next line of FILE not yet taken,\n"
    "                     from its first line on; append lines while the program\n"
    "                     runs (echo CODE >> FILE) to scan them\n"
    "  -k, --keypad=ENTRIES  what the holder types on the reader's keypad, after\n"
    "                     the entries of the profile: words separated by blanks\n"
    "                     or commas, each one entry: the keys (such as 123456),\n"
    "                     timeout, status:XXXX or hex:XX..  (may be repeated)\n"
    "      --usb=VARIANT  what appears on the USB bus: reader (default), none,\n"
    "                     other-vendor, later-interface, no-node, claimed,\n"
    "                     no-configuration\n"
    "  -h, --help         show this text\n"
    "\n"
    "Exit status: the program's own, or 127 when it cannot be started.\n"
    "Examples: vreader --trace -- ./readertest 1\n"
    "          vreader --profile my-card.profile -- ./my-host-program\n"
    "          vreader --scan=ORDER-0042 -- ./scan_and_swipe\n"
    "          vreader --keypad 123456 -- ./verify_pin\n";

FILE *traceOut = nullptr;

// "-> NAD slot name  command name  bytes", then "<- NAD  bytes" of the
// answer; at least two blanks stand before the bytes.
void printExchange(const vr::Exchange &ex) {
    const vr::SlotInfo *slot = vr::slotByNad(ex.nad);
    const char *name = slot ? vr::apduName(slot->slot, ex.command.data(), ex.command.size()) : nullptr;
    fprintf(traceOut, "-> %02X %-21s %-22s %s\n", ex.nad, slot ? slot->name : "?", name ? name : "",
            vr::toHex(ex.command).c_str());
    if (ex.answered)
        fprintf(traceOut, "<- %02X %-21s %-22s %s\n", ex.nad, "", "", vr::toHex(ex.response).c_str());
    else
        fprintf(traceOut, "<- %02X %-21s %-22s (no answer)\n", ex.nad, "", "");
    fflush(traceOut);
}

bool parseVariant(const char *name, vr::UsbVariant *v) {
    static const struct {
        const char *name;
        vr::UsbVariant variant;
    } kVariants[] = {
        {"reader", vr::UsbVariant::Reader},
        {"none", vr::UsbVariant::NoReader},
        {"other-vendor", vr::UsbVariant::OtherVendor},
        {"later-interface", vr::UsbVariant::LaterInterface},
        {"no-node", vr::UsbVariant::NoDeviceNode},
        {"claimed", vr::UsbVariant::ClaimRefused},
        {"no-configuration", vr::UsbVariant::NoConfiguration},
    };
    for (const auto &k : kVariants) {
        if (strcmp(k.name, name) == 0) {
            *v = k.variant;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    bool trace = false, empty = false;
    const char *traceFile = nullptr;
    const char *profileFile = nullptr;
    const char *scanFile = nullptr;
    std::vector<std::string> scanCodes;
    vr::UsbVariant variant = vr::UsbVariant::Reader;
    std::vector<vr::KeypadEntry> keypad;
    std::string keypadError;
    static const option kOptions[] = {
        {"trace", no_argument, nullptr, 't'},     {"trace-file", required_argument, nullptr, 'T'},
        {"empty", no_argument, nullptr, 'e'},     {"usb", required_argument, nullptr, 'u'},
        {"profile", required_argument, nullptr, 'p'}, {"show-profile", no_argument, nullptr, 'S'},
        {"scan", required_argument, nullptr, 's'},  {"scan-file", required_argument, nullptr, 'F'},
        {"keypad", required_argument, nullptr, 'k'},
        {"help", no_argument, nullptr, 'h'},      {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "+tehp:k:", kOptions, nullptr)) != -1) {
        switch (c) {
        case 't': trace = true; break;
        case 'T': trace = true; traceFile = optarg; break;
        case 'e': empty = true; break;
        case 'p': profileFile = optarg; break;
        case 's': scanCodes.push_back(optarg); break;
        case 'F': scanFile = optarg; break;
        case 'k':
            if (!vr::parseKeypadScript(optarg, &keypad, &keypadError)) {
                fprintf(stderr, "vreader: --keypad: %s\n", keypadError.c_str());
                return 2;
            }
            break;
        case 'S': fputs(vr::demoProfileText().c_str(), stdout); return 0;
        case 'u':
            if (!parseVariant(optarg, &variant)) {
                fprintf(stderr, "vreader: unknown USB variant '%s'\n%s", optarg, kUsage);
                return 2;
            }
            break;
        case 'h': fputs(kUsage, stdout); return 0;
        default: fputs(kUsage, stderr); return 2;
        }
    }
    if (optind >= argc) {
        fputs("vreader: no program given\n", stderr);
        fputs(kUsage, stderr);
        return 2;
    }

    if (empty && profileFile) {
        fputs("vreader: --empty and --profile exclude each other\n", stderr);
        return 2;
    }
    vr::Profile profile;
    if (profileFile) {
        std::string error;
        if (!vr::loadProfile(profileFile, &profile, &error)) {
            fprintf(stderr, "vreader: %s\n", error.c_str());
            return 2;
        }
    }

    traceOut = stderr;
    if (traceFile && !(traceOut = fopen(traceFile, "w"))) {
        fprintf(stderr, "vreader: cannot write %s: %s\n", traceFile, strerror(errno));
        return 2;
    }

    vr::VirtualReader &bus = vr::VirtualReader::instance();
    bus.plug(variant);
    {
        auto reader = bus.reader();
        if (profileFile)
            vr::insertProfile(*reader, profile);
        else if (!empty)
            vr::insertDemoCards(*reader);
        if (!keypad.empty()) {
            // Empty slots leave the reader itself in place, keypad and all.
            auto device = std::dynamic_pointer_cast<vr::ReaderDevice>(reader->slot(0x00).card);
            if (!device) {
                device = std::make_shared<vr::ReaderDevice>();
                reader->insert(0x00, device);
            }
            for (const vr::KeypadEntry &e : keypad) device->keypad().queue(e);
        }
        if (trace) reader->onExchange = printExchange;
        // Codes to scan put a scanner into its slot when the profile has
        // none; they are read before the profile's code.
        if (!scanCodes.empty() || scanFile) {
            auto scanner = std::dynamic_pointer_cast<vr::QrScanner>(reader->slot(0x1C).card);
            if (!scanner) {
                scanner = std::make_shared<vr::QrScanner>();
                reader->insert(0x1C, scanner);
            }
            for (const std::string &code : scanCodes) scanner->queueCode(vr::Bytes(code.begin(), code.end()));
            if (scanFile) scanner->setCodeFile(scanFile);
        }
    }
    // Timer slack of 1 us makes the child's short waits (the 5 ms drain
    // read, the 1 ms pauses of the device) end on time; children inherit it.
    prctl(PR_SET_TIMERSLACK, 1UL);
    vr::addPreloadToEnvironment();
    if (trace) {
        // Line-buffer the program's standard output (as stdbuf -oL does), so
        // that its lines and the trace appear in the order they happen.
        const char *stdbuf = "/usr/libexec/coreutils/libstdbuf.so";
        if (access(stdbuf, R_OK) == 0) {
            std::string pre = std::string(getenv("LD_PRELOAD")) + ":" + stdbuf;
            setenv("LD_PRELOAD", pre.c_str(), 1);
            setenv("_STDBUF_O", "L", 1);
        }
    }

    pid_t child = fork();
    if (child < 0) {
        perror("vreader: fork");
        return 127;
    }
    if (child == 0) {
        // Under an emulator (a cross-built vreader run by qemu-user) the
        // program is started through it, since the kernel cannot run it.
        if (const char *emulator = getenv("VREADER_EMULATOR")) {
            std::vector<char *> args = {const_cast<char *>(emulator)};
            args.insert(args.end(), argv + optind, argv + argc);
            args.push_back(nullptr);
            execv(emulator, args.data());
            fprintf(stderr, "vreader: cannot run %s: %s\n", emulator, strerror(errno));
            _exit(127);
        }
        execvp(argv[optind], argv + optind);
        fprintf(stderr, "vreader: cannot run %s: %s\n", argv[optind], strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        fprintf(stderr, "vreader: %s ended by signal %d\n", argv[optind], WTERMSIG(status));
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
