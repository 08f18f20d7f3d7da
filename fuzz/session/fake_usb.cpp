// SPDX-License-Identifier: MIT
// The libusb stand-in of the fuzz build (see fake_usb.h).
#include "fake_usb.h"

#include <libusb.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <deque>

using namespace fuzzreader;

// libusb leaves these opaque; here they are what the stand-in needs.
struct libusb_context {
    int unused;
};
struct libusb_device {
    bool reader;
};
struct libusb_device_handle {
    libusb_device *device;
    bool claimed;
};

namespace fakeusb {
namespace {

constexpr uint8_t kInEndpoint = 0x81;
constexpr uint8_t kOutEndpoint = 0x02;

libusb_device theReader{true};
libusb_device otherDevice{false};

// The reader's one interface: interrupt IN 0x81 and OUT 0x02 of 64 bytes.
const libusb_endpoint_descriptor kEndpoints[2] = {
    {7, LIBUSB_DT_ENDPOINT, kInEndpoint, LIBUSB_TRANSFER_TYPE_INTERRUPT, 64, 1, 0, 0, nullptr, 0},
    {7, LIBUSB_DT_ENDPOINT, kOutEndpoint, LIBUSB_TRANSFER_TYPE_INTERRUPT, 64, 1, 0, 0, nullptr, 0},
};
const libusb_interface_descriptor kAltSetting = {9, LIBUSB_DT_INTERFACE, 0, 0, 2, 3, 0, 0, 0, kEndpoints, nullptr, 0};
const libusb_interface kInterface = {&kAltSetting, 1};
libusb_config_descriptor theConfig = {9, LIBUSB_DT_CONFIG, 41, 1, 1, 0, 0x80, 50, &kInterface, nullptr, 0};

// One IN transfer waiting to be read.
struct InTransfer {
    uint8_t data[kReportSize];
    int length;
    int result;
    bool unplug;  // the reader goes away when this entry is reached
};

struct State {
    uint8_t bus = 0;
    Cursor answers;
    bool unplugged = false;
    bool driverBound = false;
    bool failReads = false;
    std::deque<InTransfer> in;
    // The message being written and its answer, taken at its first report.
    bool inMessage = false;
    uint8_t shape = 0;
    const uint8_t *payload = nullptr;
    size_t payloadLen = 0;
    bool haveAnswer = false;
    int messages = 0;
    // What the library holds.
    int contexts = 0, lists = 0, configs = 0, handles = 0, claims = 0;
} s;

void queueReports(uint8_t nad) {
    if (!s.haveAnswer) return;
    const uint8_t kind = s.shape & kKindMask;
    if (kind == kSilent) {
        s.failReads = (s.shape >> 2 & 3) != 0;
    } else if (kind == kRaw) {
        static const int kResults[4] = {0, LIBUSB_ERROR_OVERFLOW, LIBUSB_ERROR_IO, LIBUSB_ERROR_TIMEOUT};
        const int result = kResults[s.shape >> 2 & 3];
        size_t off = 0;
        do {
            InTransfer t{};
            t.length = static_cast<int>(s.payloadLen - off < kReportSize ? s.payloadLen - off : kReportSize);
            memcpy(t.data, s.payload + off, t.length);
            t.result = result;
            s.in.push_back(t);
            off += t.length;
        } while (off < s.payloadLen);
    } else if (kind == kReports) {
        for (int i = 0; i < (s.shape >> 2 & 3); i++) s.in.push_back(InTransfer{{}, 0, 0, false});
        static const size_t kSmall[4] = {1, 7, 31, 60};
        const size_t chunk = (s.shape & kSmallReports) ? kSmall[s.shape >> 5 & 3] : kReportPayload;
        size_t off = 0;
        int k = 0;
        do {
            InTransfer t{};
            size_t take = s.payloadLen - off < chunk ? s.payloadLen - off : chunk;
            bool more = off + take < s.payloadLen;
            t.data[0] = nad;
            t.data[1] = static_cast<uint8_t>((more ? 0x20 : 0) | ((k & 1) ? 0x40 : 0) | (k & 0x1F));
            t.data[2] = static_cast<uint8_t>(take);
            memcpy(t.data + 3, s.payload + off, take);
            t.length = kReportSize;
            s.in.push_back(t);
            off += take;
            k++;
        } while (off < s.payloadLen);
    }
    if (s.shape & kUnplugAfter) s.in.push_back(InTransfer{{}, 0, LIBUSB_ERROR_NO_DEVICE, true});
}

// An OUT report.  Returns the transfer's result.
int writeReport(const uint8_t *data, int length, int *transferred) {
    if (length != kReportSize) return LIBUSB_ERROR_INVALID_PARAM;
    if (!s.inMessage) {
        s.inMessage = true;
        s.messages++;
        s.haveAnswer = s.answers.u8(&s.shape) && s.answers.u16(&s.payloadLen) &&
                       s.answers.take(s.payloadLen, &s.payload, &s.payloadLen);
        if (!s.haveAnswer) s.payloadLen = 0;
        if (s.haveAnswer && (s.shape & kKindMask) == kWriteFails) {
            s.inMessage = false;
            if (s.shape >> 2 & 3) {
                *transferred = kReportSize / 2;
                return 0;
            }
            return LIBUSB_ERROR_IO;
        }
    }
    *transferred = kReportSize;
    if (!(data[1] & 0x20)) {
        s.inMessage = false;
        s.failReads = false;
        queueReports(data[0]);
    }
    return 0;
}

int readReport(uint8_t *data, int length, int *transferred) {
    if (s.in.empty()) return s.failReads ? LIBUSB_ERROR_IO : LIBUSB_ERROR_TIMEOUT;
    InTransfer t = s.in.front();
    s.in.pop_front();
    if (t.unplug) {
        s.unplugged = true;
        return LIBUSB_ERROR_NO_DEVICE;
    }
    int n = t.length < length ? t.length : length;
    memcpy(data, t.data, n);
    *transferred = n;
    return t.result;
}

}  // namespace

void begin(uint8_t busFlags, Cursor answers) {
    s = State{};
    s.bus = busFlags;
    s.answers = answers;
    s.driverBound = busFlags & kBusDriverBound;
    s.unplugged = busFlags & kBusNoReader;
}

std::string end() {
    std::string left;
    if (s.contexts) left += " context";
    if (s.lists) left += " device-list";
    if (s.configs) left += " configuration";
    if (s.handles) left += " device-handle";
    if (s.claims) left += " claimed-interface";
    return left;
}

int messagesSent() { return s.messages; }

}  // namespace fakeusb

using fakeusb::s;

extern "C" {

int libusb_init(libusb_context **ctx) {
    *ctx = static_cast<libusb_context *>(malloc(sizeof(libusb_context)));
    if (!*ctx) return LIBUSB_ERROR_NO_MEM;
    s.contexts++;
    return 0;
}

void libusb_exit(libusb_context *ctx) {
    if (!ctx) return;
    free(ctx);
    s.contexts--;
}

int libusb_set_option(libusb_context *, enum libusb_option, ...) { return 0; }

ssize_t libusb_get_device_list(libusb_context *, libusb_device ***list) {
    auto **l = static_cast<libusb_device **>(calloc(3, sizeof(libusb_device *)));
    if (!l) return LIBUSB_ERROR_NO_MEM;
    int n = 0;
    if (s.bus & fuzzreader::kBusOtherDeviceFirst) l[n++] = &fakeusb::otherDevice;
    if (!s.unplugged) l[n++] = &fakeusb::theReader;
    *list = l;
    s.lists++;
    return n;
}

void libusb_free_device_list(libusb_device **list, int) {
    if (!list) return;
    free(list);
    s.lists--;
}

int libusb_get_device_descriptor(libusb_device *dev, libusb_device_descriptor *desc) {
    if (dev->reader && (s.bus & fuzzreader::kBusNoDescriptor)) return LIBUSB_ERROR_IO;
    memset(desc, 0, sizeof *desc);
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->idVendor = dev->reader ? 0x163C : 0x1234;
    desc->idProduct = 0x0A51;
    desc->bNumConfigurations = 1;
    return 0;
}

int libusb_get_config_descriptor(libusb_device *dev, uint8_t index, libusb_config_descriptor **config) {
    if (index != 0 || (dev->reader && (s.bus & fuzzreader::kBusNoConfiguration))) return LIBUSB_ERROR_NOT_FOUND;
    *config = &fakeusb::theConfig;
    s.configs++;
    return 0;
}

void libusb_free_config_descriptor(libusb_config_descriptor *config) {
    if (config) s.configs--;
}

int libusb_open(libusb_device *dev, libusb_device_handle **handle) {
    if (s.unplugged) return LIBUSB_ERROR_NO_DEVICE;
    *handle = static_cast<libusb_device_handle *>(calloc(1, sizeof(libusb_device_handle)));
    if (!*handle) return LIBUSB_ERROR_NO_MEM;
    (*handle)->device = dev;
    s.handles++;
    return 0;
}

void libusb_close(libusb_device_handle *handle) {
    if (!handle) return;
    if (handle->claimed) s.claims--;
    free(handle);
    s.handles--;
}

int libusb_kernel_driver_active(libusb_device_handle *, int interface) {
    if (s.unplugged) return LIBUSB_ERROR_NO_DEVICE;
    return interface == 0 && s.driverBound ? 1 : 0;
}

int libusb_detach_kernel_driver(libusb_device_handle *, int interface) {
    if (s.unplugged) return LIBUSB_ERROR_NO_DEVICE;
    if (interface != 0 || !s.driverBound) return LIBUSB_ERROR_NOT_FOUND;
    s.driverBound = false;
    return 0;
}

int libusb_claim_interface(libusb_device_handle *handle, int interface) {
    if (s.unplugged) return LIBUSB_ERROR_NO_DEVICE;
    if (interface != 0) return LIBUSB_ERROR_NOT_FOUND;
    if ((s.bus & fuzzreader::kBusClaimRefused) || s.driverBound || s.claims > 0) return LIBUSB_ERROR_BUSY;
    handle->claimed = true;
    s.claims++;
    return 0;
}

int libusb_interrupt_transfer(libusb_device_handle *handle, unsigned char endpoint, unsigned char *data,
                              int length, int *transferred, unsigned int) {
    *transferred = 0;
    if (s.unplugged) return LIBUSB_ERROR_NO_DEVICE;
    if (!handle->claimed) return LIBUSB_ERROR_BUSY;
    if (endpoint == fakeusb::kOutEndpoint) return fakeusb::writeReport(data, length, transferred);
    if (endpoint == fakeusb::kInEndpoint) return fakeusb::readReport(data, length, transferred);
    return LIBUSB_ERROR_NOT_FOUND;
}

}  // extern "C"
