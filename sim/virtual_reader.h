/* SPDX-License-Identifier: MIT */
// The virtual reader on a simulated USB bus.  umockdev provides the bus:
// the reader appears in its sysfs and /dev trees, and every ioctl that
// libusb sends to the reader's device node arrives here, in umockdev's
// worker thread, where the USB side of the reader is played: descriptors,
// the HID driver that has to be detached, the interface claim, and the
// interrupt transfers that carry the reader's reports.
//
// Programs that talk to it must run under umockdev's preload library (see
// preload.h).  The process's bus holds the virtual reader and, for tests of
// two readers at once, a second one that is unplugged until a test plugs
// it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "reader.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace vr {

constexpr uint16_t kReaderVendor = 0x163C;
constexpr uint16_t kReaderProduct = 0x0A51;

// What appears on the bus.
enum class UsbVariant {
    Reader,          // the reader: one HID interface, interrupt IN 0x81 and OUT 0x02
    LaterInterface,  // interface 0 lacks an OUT endpoint; the pair is on interface 1
    OtherVendor,     // a device like the reader, but of another vendor
    NoReader,        // nothing but the root hub
    NoDeviceNode,    // the reader is listed but cannot be opened
    ClaimRefused,    // the interface is held by another program
    NoConfiguration, // the device descriptor but no readable configuration
};

class VirtualReader {
public:
    // The process's virtual reader; the first call creates the bus (in a
    // temporary directory, exported as UMOCKDEV_DIR) with the reader on it.
    static VirtualReader &instance();
    // The second reader on the same bus, at its own port; NoReader (absent)
    // until plugged.
    static VirtualReader &second();

    // Replaces what is on the bus.  Every plug starts with the HID driver
    // bound, no claim, and a reader in its reset state.
    void plug(UsbVariant variant = UsbVariant::Reader);

    // Locked access to the reader model.
    class Access {
    public:
        Access(std::mutex &m, Reader &r) : lock_(m), reader_(r) {}
        Reader *operator->() { return &reader_; }
        Reader &operator*() { return reader_; }

    private:
        std::unique_lock<std::mutex> lock_;
        Reader &reader_;
    };
    Access reader() { return Access(mutex_, reader_); }

    // Puts a report on the IN endpoint now, as a reader would that still
    // holds the answer to an earlier message.
    void injectStaleReport(const Bytes &payload);
    // The reader drops off the bus: transfers in flight fail and new ones
    // are refused, as after unplugging.
    void vanish();

    // USB-side state, for tests.
    bool hidDriverBound();
    int claimCount();          // successful claims since plug()
    int openDescriptors();     // clients (open file descriptors) alive
    // The number of clients once it has become `expected`, or after two
    // seconds: a closed descriptor reaches the device asynchronously.
    int openDescriptorsSettled(int expected);
    size_t pendingInReports(); // answer reports not yet fetched
    std::string devicePath();  // /dev/bus/usb/BBB/DDD of the reader

    // Called from umockdev's worker thread.
    bool handleIoctl(UMockdevIoctlClient *client);
    void clientGone(UMockdevIoctlClient *client);

private:
    explicit VirtualReader(int port);
    struct Urb {
        UMockdevIoctlClient *client;
        UMockdevIoctlData *urb;
        UMockdevIoctlData *buffer;
        std::chrono::steady_clock::time_point submitted;
    };
    struct Queued {
        Report report;
        std::chrono::steady_clock::time_point readyAt;
    };

    void trackClient(UMockdevIoctlClient *client);
    void deliver();
    void completeUrb(Urb &u, int status, const uint8_t *data, int len);
    void dropUrb(Urb &u);
    void killTransfers();
    bool reapFor(UMockdevIoctlClient *client, Urb *out);

    int submitUrb(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void queueReports(const std::vector<Report> &reports);

    std::mutex mutex_;
    std::condition_variable wake_;
    Reader reader_;
    UMockdevTestbed *testbed_ = nullptr;
    UMockdevIoctlBase *handler_ = nullptr;
    int port_;                 // 1-<port> on the bus
    std::string sysPath_;
    int devnum_;
    std::set<std::string> attachedNodes_;  // device nodes with our ioctl handler
    UsbVariant variant_ = UsbVariant::NoReader;
    uint8_t inEp_ = 0x81, outEp_ = 0x02;
    int interface_ = 0;

    bool driverBound_ = true;
    bool dead_ = false;
    // The reader disappears once the reports queued now have been read.
    bool vanishWhenRead_ = false;
    UMockdevIoctlClient *claimedBy_ = nullptr;
    int claims_ = 0;
    std::vector<UMockdevIoctlClient *> clients_;
    // The client whose last request reaped a transfer: libusb reaps until
    // told "not yet", and that last call need not wait.
    UMockdevIoctlClient *justReaped_ = nullptr;
    std::deque<Urb> inFlight_;   // IN transfers waiting for a report
    std::deque<Urb> completed_;  // finished transfers not yet reaped
    std::deque<Queued> inQueue_; // reports waiting for an IN transfer
};

}  // namespace vr
