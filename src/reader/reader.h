/* SPDX-License-Identifier: MIT */
// Internal declarations of the reader link: the USB HID transport and the
// reader-handle API.  The exported functions are declared in kestrel.h.
#pragma once

#include <cstdint>

#include "errors/errors.h"
#include "kestrel.h"

struct libusb_device_handle;
struct libusb_context;
struct libusb_device;

// The record behind a device handle.
struct ReaderDevice {
    uint8_t mode;
    libusb_device_handle *handle;
    libusb_context *context;
    libusb_device **list;
    uint8_t nad;
    uint8_t inEndpoint;
    uint8_t outEndpoint;
};

namespace kestrel {

constexpr int kReportSize = 64;
constexpr int kReportPayload = 61;
constexpr int kMaxReportsPerMessage = 256;  // the report index is one byte

// Link results.
constexpr int kLinkFailed = 0x6FF0;
constexpr int kWriteSent = 1;
constexpr int kWriteTransferError = 0x1001;
constexpr int kWriteShortTransfer = 0x1002;

// Waits of the link, in milliseconds.  The response wait is a variable so
// that tests of the time-out path need not wait a whole minute.
extern unsigned int responseTimeoutMs;  // 60000
extern unsigned int drainTimeoutMs;     // 5
// Reads that fail without delivering bytes and are not time-outs (a reader
// that has gone away fails every read at once) are retried this many times
// in a row at most.  Reads that succeed with no bytes are bounded by the
// response time-out alone.
constexpr int kMaxFailedReads = 16;

// Receives one message into out, which holds capacity bytes.  Returns the
// status word, or kLinkFailed when the message did not arrive, carried no
// status word, or did not fit.  *arrived (when not null) receives the
// number of bytes written into out, whatever the result.
int hidRead(ReaderDevice *dev, uint8_t *out, int capacity, int *outLen, int *arrived);

// ICC_tsi_api with the size of the response buffer and the number of
// bytes written into it (also when the exchange failed).
int exchange(long device, int cmdLen, unsigned char *cmd, unsigned char *rsp, int capacity, int *rspLen,
             int *arrived);

// The reader handle of the reader-handle API for a device handle.
constexpr long readerHandleOf(long device) { return device % 350 + 1650; }

// Returns the live record behind a device handle, or null for 0 and for
// any value that is not an open device.
ReaderDevice *deviceFromHandle(long handle);

// Writes count bytes as "%02x" each, then a newline.
void printHexLine(const unsigned char *bytes, int count);

}  // namespace kestrel

// --- reader-handle API ---

constexpr int kReaderTableSize = 11;
constexpr long kClosedEntry = -12;
extern long OpenedRHandle[kReaderTableSize];
extern int ConvHandle[kReaderTableSize];
extern int kk;

