// USB HID link to the reader: finding and claiming it through libusb, and
// one command/response exchange at a time over its interrupt endpoints.
//
// A message travels in 64-byte reports: NAD, control byte, LEN, then up to
// 61 payload bytes.  The control byte carries 0x20 while more reports
// follow, 0x40 on every odd report, and the report's index in its low bits.
#include <libusb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reader/reader.h"

namespace kestrel {

unsigned int responseTimeoutMs = 60000;
unsigned int drainTimeoutMs = 5;

namespace {

constexpr uint16_t kReaderVendor = 0x163C;
constexpr uint8_t kInitialNad = 0x12;

// Records of the devices open now.  A handle that is not among them (a
// stale or made-up value) is refused instead of being dereferenced.
constexpr int kMaxOpenDevices = 64;
ReaderDevice *openDevices[kMaxOpenDevices];

bool remember(ReaderDevice *dev) {
    for (auto &slot : openDevices) {
        if (!slot) {
            slot = dev;
            return true;
        }
    }
    return false;
}

void forget(ReaderDevice *dev) {
    for (auto &slot : openDevices)
        if (slot == dev) slot = nullptr;
}

}  // namespace

ReaderDevice *deviceFromHandle(long handle) {
    if (handle == 0) return nullptr;
    for (ReaderDevice *dev : openDevices)
        if (dev && reinterpret_cast<long>(dev) == handle) return dev;
    return nullptr;
}

int hidRead(ReaderDevice *dev, uint8_t *out, int capacity, int *outLen) {
    if (!dev) return kLinkFailed;
    uint8_t report[kReportSize];
    int total = 0;
    int emptyReads = 0;
    bool overflow = false;
    for (int k = 0; k < kMaxReportsPerMessage;) {
        memset(report, 0, sizeof report);
        int got = 0;
        int r = libusb_interrupt_transfer(dev->handle, dev->inEndpoint, report, kReportSize, &got,
                                          responseTimeoutMs);
        if (got <= 0) {
            if (r == LIBUSB_ERROR_TIMEOUT || ++emptyReads > kMaxEmptyReads) return kLinkFailed;
            continue;
        }
        emptyReads = 0;
        // Bytes beyond what arrived are not trusted, nor a LEN above 61.
        int len = got >= 3 ? report[2] : 0;
        if (len > kReportPayload) len = kReportPayload;
        if (len > got - 3) len = got > 3 ? got - 3 : 0;
        int at = kReportPayload * k;
        if (at + len > capacity) overflow = true;
        if (!overflow) {
            memcpy(out + at, report + 3, len);
            total += len;
        }
        bool more = got >= 2 && (report[1] & 0x20);
        k++;
        if (more) continue;
        // A message too long for the buffer has been read to its end, so
        // that its remaining reports do not answer the next command.
        if (overflow || total < 2) return kLinkFailed;
        *outLen = total - 2;
        return out[total - 2] << 8 | out[total - 1];
    }
    return kLinkFailed;
}

void printHexLine(const unsigned char *bytes, int count) {
    for (int i = 0; i < count; i++) printf("%02x", bytes[i]);
    printf("\n");
}

}  // namespace kestrel

using namespace kestrel;

extern "C" int Freelibusb(libusb_device_handle *handle, libusb_device **list, libusb_context *ctx) {
    if (handle) libusb_close(handle);
    if (list) libusb_free_device_list(list, 1);
    if (ctx) libusb_exit(ctx);
    return 0;
}

extern "C" int GetreaderEndpoint(libusb_device *dev, unsigned char *inEp, unsigned char *outEp) {
    libusb_device_descriptor desc;
    int r = libusb_get_device_descriptor(dev, &desc);
    if (r < 0) {
        printf("failed to get device descriptor\n");
        return r;
    }
    if (desc.idVendor != kReaderVendor) return -1;
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_config_descriptor(dev, 0, &config) < 0 || !config) return -1;
    int found = -1;
    uint8_t in = 0, out = 0;
    for (int i = 0; i < config->bNumInterfaces && found < 0; i++) {
        const libusb_interface &iface = config->interface[i];
        if (iface.num_altsetting < 1) continue;
        const libusb_interface_descriptor &alt = iface.altsetting[0];
        in = out = 0;
        for (int e = 0; e < alt.bNumEndpoints; e++) {
            const libusb_endpoint_descriptor &ep = alt.endpoint[e];
            if (ep.wMaxPacketSize != kReportSize || ep.bmAttributes != LIBUSB_TRANSFER_TYPE_INTERRUPT)
                continue;
            if (ep.bEndpointAddress & 0x80) in = ep.bEndpointAddress;
            else out = ep.bEndpointAddress;
        }
        if (in && out) found = i;
    }
    libusb_free_config_descriptor(config);
    if (found < 0) return -1;
    *inEp = in;
    *outEp = out;
    return found;
}

extern "C" long CT_open(const char *, int, int) {
    libusb_context *ctx = nullptr;
    int r = libusb_init(&ctx);
    if (r < 0) {
        printf("libusb_init Error%d\n", r);
        return 0;
    }
    libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, 3);
    libusb_device **list = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) {
        printf("Get Device_list Error\n");
        Freelibusb(nullptr, nullptr, ctx);
        return 0;
    }
    int iface = -1;
    uint8_t in = 0, out = 0;
    libusb_device *reader = nullptr;
    for (ssize_t i = 0; i < count && !reader; i++) {
        iface = GetreaderEndpoint(list[i], &in, &out);
        if (iface >= 0) reader = list[i];
    }
    libusb_device_handle *handle = nullptr;
    if (!reader || libusb_open(reader, &handle) < 0 || !handle) {
        Freelibusb(nullptr, list, ctx);
        return 0;
    }
    if (libusb_kernel_driver_active(handle, iface) == 1) libusb_detach_kernel_driver(handle, iface);
    if (libusb_claim_interface(handle, iface) < 0) {
        printf("Cannot Claim Interface\n");
        Freelibusb(handle, list, ctx);
        return 0;
    }
    auto *dev = static_cast<ReaderDevice *>(calloc(1, sizeof(ReaderDevice)));
    if (!dev || !remember(dev)) {
        free(dev);
        Freelibusb(handle, list, ctx);
        return 0;
    }
    dev->mode = 1;
    dev->handle = handle;
    dev->context = ctx;
    dev->list = list;
    dev->nad = kInitialNad;
    dev->inEndpoint = in;
    dev->outEndpoint = out;
    return reinterpret_cast<long>(dev);
}

extern "C" int CT_close(long device) {
    ReaderDevice *dev = deviceFromHandle(device);
    if (!dev) return 0;
    forget(dev);
    Freelibusb(dev->handle, dev->list, dev->context);
    free(dev);
    return 0;
}

extern "C" void ICC_set_NAD(long device, unsigned char nad) {
    if (ReaderDevice *dev = deviceFromHandle(device)) dev->nad = nad;
}

extern "C" int Hid_WriteCRW(long device, unsigned char *msg, int len) {
    ReaderDevice *dev = deviceFromHandle(device);
    if (!dev || len < 0 || (len > 0 && !msg)) return kLinkFailed;
    uint8_t report[kReportSize];
    int got = 0;
    // Drain a stale report that an earlier exchange may have left behind.
    libusb_interrupt_transfer(dev->handle, dev->inEndpoint, report, kReportSize, &got, drainTimeoutMs);

    report[0] = dev->nad;
    int k = 0, toggle = 0, off = 0;
    do {
        memset(report + 1, 0, kReportSize - 1);
        int rest = len - off;
        int take = rest > kReportPayload ? kReportPayload : rest;
        int more = rest > kReportPayload ? 0x20 : 0;
        report[1] = static_cast<uint8_t>(more + toggle + k);
        k++;
        toggle ^= 0x40;
        report[2] = static_cast<uint8_t>(take);
        if (take) memcpy(report + 3, msg + off, take);
        off += take;
        int sent = 0;
        int r = libusb_interrupt_transfer(dev->handle, dev->outEndpoint, report, kReportSize, &sent,
                                          responseTimeoutMs);
        if (r < 0) return kWriteTransferError;
        if (sent != kReportSize) return kWriteShortTransfer;
    } while (off < len);
    return kWriteSent;
}

extern "C" int Hid_ReadCRW(long device, unsigned char *out, int *outLen) {
    ReaderDevice *dev = deviceFromHandle(device);
    if (!dev || !out || !outLen) return kLinkFailed;
    return hidRead(dev, out, KESTREL_MAX_RESPONSE, outLen);
}

extern "C" int ICC_tsi_api(long device, int cmdLen, unsigned char *cmd, int *rspLen,
                           unsigned char *rsp) {
    if (Hid_WriteCRW(device, cmd, cmdLen) != kWriteSent) return kLinkFailed;
    return Hid_ReadCRW(device, rsp, rspLen);
}

extern "C" void printfHex(unsigned char *bytes, int count) { printHexLine(bytes, count); }
