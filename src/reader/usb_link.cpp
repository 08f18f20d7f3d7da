// SPDX-License-Identifier: MIT
// USB HID link to the reader: finding and claiming it through libusb, and
// one command/response exchange at a time over its interrupt endpoints.
//
// A message travels in 64-byte reports: NAD, control byte, LEN, then up to
// 61 payload bytes.  The control byte carries 0x20 while more reports
// follow, 0x40 on every odd report, and the report's index in its low bits.
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "reader/reader.h"

namespace kestrel {

unsigned int responseTimeoutMs = 60000;
unsigned int drainTimeoutMs = 5;

namespace {

constexpr uint16_t kReaderVendor = 0x163C;
constexpr uint8_t kInitialNad = 0x12;

// Records of the devices open now.  A handle that is not among them (a
// stale or made-up value) is refused instead of being dereferenced.  The
// table is shared by every thread that has a device open, so it is read
// and written under its lock only; a record itself belongs to the thread
// that uses its handle.
constexpr int kMaxOpenDevices = 64;
ReaderDevice *openDevices[kMaxOpenDevices];
std::mutex openDevicesLock;

bool sharesReaderHandle(const ReaderDevice *dev) {
    long handle = readerHandleOf(reinterpret_cast<long>(dev));
    for (const ReaderDevice *open : openDevices)
        if (open && readerHandleOf(reinterpret_cast<long>(open)) == handle) return true;
    return false;
}

// Allocates and registers a zero-filled record.  The reader-handle API
// names an open reader by (record address mod 350) + 1650, so a record
// whose address would give the same number as a live one is not used: it
// is kept aside while another is allocated, and freed at the end.
ReaderDevice *newRecord() {
    std::lock_guard<std::mutex> guard(openDevicesLock);
    int slot = 0;
    while (slot < kMaxOpenDevices && openDevices[slot]) slot++;
    if (slot == kMaxOpenDevices) return nullptr;
    ReaderDevice *aside[kMaxOpenDevices];
    int nAside = 0;
    auto *dev = static_cast<ReaderDevice *>(calloc(1, sizeof(ReaderDevice)));
    while (dev && sharesReaderHandle(dev) && nAside < kMaxOpenDevices) {
        aside[nAside++] = dev;
        dev = static_cast<ReaderDevice *>(calloc(1, sizeof(ReaderDevice)));
    }
    if (dev && sharesReaderHandle(dev)) {
        free(dev);
        dev = nullptr;
    }
    for (int i = 0; i < nAside; i++) free(aside[i]);
    openDevices[slot] = dev;
    return dev;
}

// Removes the record behind a handle from the table and returns it, or
// null when the handle is not an open device.
ReaderDevice *takeRecord(long handle) {
    if (handle == 0) return nullptr;
    std::lock_guard<std::mutex> guard(openDevicesLock);
    for (auto &slot : openDevices) {
        if (slot && reinterpret_cast<long>(slot) == handle) {
            ReaderDevice *dev = slot;
            slot = nullptr;
            return dev;
        }
    }
    return nullptr;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, at least 1: libusb takes a time-out
// of 0 as "wait for ever".
unsigned int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 1 ? 1u : static_cast<unsigned int>(left);
}

}  // namespace

ReaderDevice *deviceFromHandle(long handle) {
    if (handle == 0) return nullptr;
    std::lock_guard<std::mutex> guard(openDevicesLock);
    for (ReaderDevice *dev : openDevices)
        if (dev && reinterpret_cast<long>(dev) == handle) return dev;
    return nullptr;
}

int hidRead(ReaderDevice *dev, uint8_t *out, int capacity, int *outLen, int *arrived) {
    if (arrived) *arrived = 0;
    if (!dev) return kLinkFailed;
    uint8_t report[kReportSize];
    int total = 0;
    int failedReads = 0;
    bool overflow = false;
    const auto timeout = std::chrono::milliseconds(responseTimeoutMs);
    // Each report must arrive within the response time-out, however many
    // empty reports come before it; once the first report is in, the rest
    // of the message must follow within one more time-out, so that no
    // reader can hold the caller for a time-out per report.
    Clock::time_point messageDeadline = Clock::time_point::max();
    Clock::time_point reportDeadline = Clock::now() + timeout;
    for (int k = 0; k < kMaxReportsPerMessage;) {
        memset(report, 0, sizeof report);
        int got = 0;
        int r = libusb_interrupt_transfer(dev->handle, dev->inEndpoint, report, kReportSize, &got,
                                          msLeft(reportDeadline));
        if (got <= 0) {
            // A read that succeeds with no bytes (a reader that reports
            // while the card works) is bounded by the deadline alone; one
            // that fails (a reader that has gone away fails every read at
            // once) also by a count.
            if (r == LIBUSB_ERROR_TIMEOUT || Clock::now() >= reportDeadline) return kLinkFailed;
            if (r != 0 && ++failedReads > kMaxFailedReads) return kLinkFailed;
            continue;
        }
        failedReads = 0;
        if (k == 0) messageDeadline = Clock::now() + timeout;
        reportDeadline = std::min(Clock::now() + timeout, messageDeadline);
        // Bytes beyond what arrived are not trusted, nor a LEN above 61.
        int len = got >= 3 ? report[2] : 0;
        if (len > kReportPayload) len = kReportPayload;
        if (len > got - 3) len = got > 3 ? got - 3 : 0;
        int at = kReportPayload * k;
        if (at + len > capacity) overflow = true;
        if (!overflow) {
            memcpy(out + at, report + 3, len);
            total += len;
            if (arrived) *arrived = total;
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

int exchange(long device, int cmdLen, unsigned char *cmd, unsigned char *rsp, int capacity, int *rspLen,
             int *arrived) {
    if (arrived) *arrived = 0;
    if (Hid_WriteCRW(device, cmd, cmdLen) != kWriteSent) return kLinkFailed;
    ReaderDevice *dev = deviceFromHandle(device);
    if (!dev || !rsp || !rspLen) return kLinkFailed;
    return hidRead(dev, rsp, capacity, rspLen, arrived);
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
    // The first reader on the bus that can be opened and claimed: one that
    // another handle or program holds is passed over, so that each open
    // handle has a reader of its own.
    for (ssize_t i = 0; i < count; i++) {
        uint8_t in = 0, out = 0;
        int iface = GetreaderEndpoint(list[i], &in, &out);
        if (iface < 0) continue;
        libusb_device_handle *handle = nullptr;
        if (libusb_open(list[i], &handle) < 0 || !handle) continue;
        if (libusb_kernel_driver_active(handle, iface) == 1) libusb_detach_kernel_driver(handle, iface);
        if (libusb_claim_interface(handle, iface) < 0) {
            printf("Cannot Claim Interface\n");
            libusb_close(handle);
            continue;
        }
        ReaderDevice *dev = newRecord();
        if (!dev) {
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
    Freelibusb(nullptr, list, ctx);
    return 0;
}

extern "C" int CT_close(long device) {
    ReaderDevice *dev = takeRecord(device);
    if (!dev) return 0;
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
    return hidRead(dev, out, KESTREL_MAX_RESPONSE, outLen, nullptr);
}

extern "C" int ICC_tsi_api(long device, int cmdLen, unsigned char *cmd, int *rspLen,
                           unsigned char *rsp) {
    return exchange(device, cmdLen, cmd, rsp, KESTREL_MAX_RESPONSE, rspLen, nullptr);
}

extern "C" void printfHex(unsigned char *bytes, int count) { printHexLine(bytes, count); }
