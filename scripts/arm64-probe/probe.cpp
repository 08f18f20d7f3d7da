// SPDX-License-Identifier: MIT
// Probe: a virtual USB HID device reached through the real libusb under
// umockdev, to check that the arrangement works (natively and under an
// emulator) and to time one 64-byte OUT+IN exchange.
//
//   probe [ROUNDS]                testbed, handler and libusb in one process
//   probe --launch PROG ARGS...   testbed here, libusb in a child program
//   probe --client [ROUNDS]       the libusb half alone (run by --launch)
//
// The libusb half needs umockdev's preload library in LD_PRELOAD.
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <libusb.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint16_t kVendor = 0xfff0, kProduct = 0x0001;  // made-up ids
constexpr unsigned char kEpIn = 0x81, kEpOut = 0x02;
constexpr int kReport = 64;

// Device state, touched only by the testbed's handler thread.
struct Device {
    bool driverBound = true;
    bool claimed = false;
    std::deque<UMockdevIoctlData *> inFlight;   // IN URBs waiting for data
    std::deque<UMockdevIoctlData *> completed;  // URBs ready to be reaped
    std::deque<std::vector<unsigned char>> replies;
};

usbdevfs_urb *urbOf(UMockdevIoctlData *d) { return reinterpret_cast<usbdevfs_urb *>(d->data); }

void completeInFromReplies(Device &dev) {
    while (!dev.inFlight.empty() && !dev.replies.empty()) {
        UMockdevIoctlData *urbData = dev.inFlight.front();
        dev.inFlight.pop_front();
        usbdevfs_urb *urb = urbOf(urbData);
        GError *err = nullptr;
        UMockdevIoctlData *buf = umockdev_ioctl_data_resolve(
            urbData, offsetof(usbdevfs_urb, buffer), urb->buffer_length, &err);
        const auto &r = dev.replies.front();
        int n = std::min<int>(urb->buffer_length, r.size());
        memcpy(buf->data, r.data(), n);
        umockdev_ioctl_data_unref(buf);
        urb->actual_length = n;
        urb->status = 0;
        dev.replies.pop_front();
        dev.completed.push_back(urbData);
    }
}

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer user) {
    Device &dev = *static_cast<Device *>(user);
    gulong req = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    GError *err = nullptr;
    long res = 0;
    int eno = 0;
    switch (req) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), &err);
        uint32_t v = 0;
        memcpy(caps->data, &v, sizeof v);
        umockdev_ioctl_data_unref(caps);
        break;
    }
    case USBDEVFS_GETDRIVER: {
        if (!dev.driverBound) { res = -1; eno = ENODATA; break; }
        UMockdevIoctlData *gd = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), &err);
        strcpy(reinterpret_cast<usbdevfs_getdriver *>(gd->data)->driver, "usbhid");
        umockdev_ioctl_data_unref(gd);
        break;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData *io = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), &err);
        int code = reinterpret_cast<usbdevfs_ioctl *>(io->data)->ioctl_code;
        umockdev_ioctl_data_unref(io);
        if (code == USBDEVFS_DISCONNECT) {
            if (!dev.driverBound) { res = -1; eno = ENODATA; } else dev.driverBound = false;
        } else if (code == USBDEVFS_CONNECT) {
            dev.driverBound = true;
        } else { res = -1; eno = ENOTTY; }
        break;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        if (req == USBDEVFS_CLAIMINTERFACE && dev.driverBound) { res = -1; eno = EBUSY; }
        else dev.claimed = (req == USBDEVFS_CLAIMINTERFACE);
        break;
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
        usbdevfs_urb *urb = urbOf(urbData);
        if (urb->endpoint != kEpIn && urb->endpoint != kEpOut) { res = -1; eno = ENOENT; }
        else if (!dev.claimed) { res = -1; eno = EBUSY; }
        else if (urb->type != USBDEVFS_URB_TYPE_INTERRUPT) { res = -1; eno = EINVAL; }
        if (eno) { umockdev_ioctl_data_unref(urbData); break; }
        if (urb->endpoint == kEpOut) {
            UMockdevIoctlData *buf = umockdev_ioctl_data_resolve(
                urbData, offsetof(usbdevfs_urb, buffer), urb->buffer_length, &err);
            // The "device model": answer every report with its bytes reversed.
            std::vector<unsigned char> reply(buf->data, buf->data + buf->data_len);
            std::reverse(reply.begin(), reply.end());
            umockdev_ioctl_data_unref(buf);
            dev.replies.push_back(std::move(reply));
            urb->actual_length = urb->buffer_length;
            urb->status = 0;
            dev.completed.push_back(urbData);
        } else {
            dev.inFlight.push_back(urbData);
        }
        completeInFromReplies(dev);
        break;
    }
    case USBDEVFS_REAPURBNDELAY:
        if (dev.completed.empty()) { res = -1; eno = EAGAIN; break; }
        {   // the argument points at the client's struct usbdevfs_urb *
            UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), &err);
            if (!slot) break;
            umockdev_ioctl_data_set_ptr(slot, 0, dev.completed.front());
            umockdev_ioctl_data_unref(slot);
        }
        umockdev_ioctl_data_unref(dev.completed.front());
        dev.completed.pop_front();
        break;
    case USBDEVFS_DISCARDURB: {
        // The argument's value is the client's URB address.
        gulong addr = 0;
        memcpy(&addr, arg->data, std::min<size_t>(sizeof addr, arg->data_len));
        auto it = std::find_if(dev.inFlight.begin(), dev.inFlight.end(),
                               [&](UMockdevIoctlData *d) { return d->client_addr == addr; });
        if (it == dev.inFlight.end()) { res = -1; eno = EINVAL; break; }
        urbOf(*it)->status = -ENOENT;
        urbOf(*it)->actual_length = 0;
        dev.completed.push_back(*it);
        dev.inFlight.erase(it);
        break;
    }
    default:
        res = -1;
        eno = ENOTTY;
    }
    if (err) {
        fprintf(stderr, "handler: %s\n", err->message);
        g_error_free(err);
        res = -1;
        eno = EFAULT;
    }
    umockdev_ioctl_client_complete(client, res, eno);
    return TRUE;
}

std::string hex(const std::vector<unsigned char> &b) {
    std::string s;
    char t[3];
    for (unsigned char c : b) { snprintf(t, sizeof t, "%02X", c); s += t; }
    return s;
}

std::string deviceRecord() {
    const std::vector<unsigned char> desc = {
        // device: USB 2.0, class per interface, EP0 64, VID, PID, bcdDevice 1.00
        18, 1, 0x00, 0x02, 0, 0, 0, 64, kVendor & 0xff, kVendor >> 8,
        kProduct & 0xff, kProduct >> 8, 0x00, 0x01, 0, 0, 0, 1,
        // configuration 1, one interface, total length 41
        9, 2, 41, 0, 1, 1, 0, 0x80, 50,
        // interface 0: HID, two endpoints
        9, 4, 0, 0, 2, 3, 0, 0, 0,
        // HID descriptor with a 34-byte report descriptor
        9, 0x21, 0x10, 0x01, 0, 1, 0x22, 34, 0,
        // interrupt IN and OUT, 64 bytes, 1 ms
        7, 5, kEpIn, 3, 64, 0, 1,
        7, 5, kEpOut, 3, 64, 0, 1};
    const std::vector<unsigned char> hubDesc = {
        18, 1, 0x00, 0x02, 9, 0, 1, 64, 0xf0, 0xff, 0x02, 0x00, 0x00, 0x06, 3, 2, 1, 1,
        9, 2, 25, 0, 1, 1, 0, 0xe0, 0, 9, 4, 0, 0, 1, 9, 0, 0, 0, 7, 5, 0x81, 3, 4, 0, 12};
    return "P: /devices/usb1\nN: bus/usb/001/001\n"
           "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/001\n"
           "E: BUSNUM=001\nE: DEVNUM=001\n"
           "A: busnum=1\nA: devnum=1\nA: speed=480\nA: bConfigurationValue=1\n"
           "H: descriptors=" + hex(hubDesc) + "\n\n"
           "P: /devices/usb1/1-1\nN: bus/usb/001/002\n"
           "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/002\n"
           "E: BUSNUM=001\nE: DEVNUM=002\n"
           "A: busnum=1\nA: devnum=2\nA: speed=12\nA: bConfigurationValue=1\n"
           "H: descriptors=" + hex(desc) + "\n";
}

// Builds the testbed with the device; the handler runs in umockdev's thread.
UMockdevTestbed *makeTestbed(Device *dev) {
    UMockdevTestbed *tb = umockdev_testbed_new();
    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), dev);
    GError *err = nullptr;
    if (!umockdev_testbed_attach_ioctl(tb, "/dev/bus/usb/001/002", handler, &err) ||
        !umockdev_testbed_add_from_string(tb, deviceRecord().c_str(), &err)) {
        fprintf(stderr, "testbed: %s\n", err->message);
        exit(2);
    }
    return tb;
}

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

#define CHECK(what, expr)                                                            \
    do {                                                                             \
        int r_ = (expr);                                                             \
        if (r_ < 0) {                                                                \
            fprintf(stderr, "FAIL %s: %s\n", what, libusb_error_name(r_));          \
            return 1;                                                                \
        }                                                                            \
    } while (0)

int runClient(int rounds) {
    auto t0 = std::chrono::steady_clock::now();
    libusb_context *ctx = nullptr;
    CHECK("libusb_init", libusb_init(&ctx));
    libusb_device **list = nullptr;
    ssize_t n = libusb_get_device_list(ctx, &list);
    CHECK("get_device_list", n);
    libusb_device_handle *h = nullptr;
    for (ssize_t i = 0; i < n && !h; ++i) {
        libusb_device_descriptor dd;
        CHECK("get_device_descriptor", libusb_get_device_descriptor(list[i], &dd));
        if (dd.idVendor == kVendor && dd.idProduct == kProduct)
            CHECK("open", libusb_open(list[i], &h));
    }
    libusb_free_device_list(list, 1);
    if (!h) { fprintf(stderr, "FAIL: device not found among %zd\n", n); return 1; }
    if (libusb_kernel_driver_active(h, 0) == 1) CHECK("detach", libusb_detach_kernel_driver(h, 0));
    CHECK("claim", libusb_claim_interface(h, 0));
    printf("setup (init .. claim): %.1f ms\n", msSince(t0));

    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        unsigned char out[kReport], in[kReport] = {};
        for (int k = 0; k < kReport; ++k) out[k] = static_cast<unsigned char>(i + k);
        int done = 0;
        auto t = std::chrono::steady_clock::now();
        CHECK("OUT", libusb_interrupt_transfer(h, kEpOut, out, kReport, &done, 1000));
        if (done != kReport) { fprintf(stderr, "FAIL OUT: %d bytes\n", done); return 1; }
        CHECK("IN", libusb_interrupt_transfer(h, kEpIn, in, kReport, &done, 1000));
        times.push_back(msSince(t));
        if (done != kReport || in[0] != out[kReport - 1] || in[kReport - 1] != out[0]) {
            fprintf(stderr, "FAIL IN: %d bytes, wrong content\n", done);
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    printf("%d exchanges: median %.3f ms, p90 %.3f ms\n", rounds, times[times.size() / 2],
           times[times.size() * 9 / 10]);

    // A read with nothing to read must time out (the handler's DISCARDURB path).
    unsigned char in[kReport];
    int done = 0;
    auto t = std::chrono::steady_clock::now();
    int r = libusb_interrupt_transfer(h, kEpIn, in, kReport, &done, 5);
    printf("5 ms drain read: %s after %.2f ms\n", libusb_error_name(r), msSince(t));
    if (r != LIBUSB_ERROR_TIMEOUT) return 1;

    libusb_release_interface(h, 0);
    libusb_close(h);
    libusb_exit(ctx);
    printf("probe: OK\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && strcmp(argv[1], "--client") == 0)
        return runClient(argc > 2 ? atoi(argv[2]) : 200);

    const char *pre = getenv("LD_PRELOAD");
    bool preloaded = pre && strstr(pre, "libumockdev-preload");
    Device dev;
    UMockdevTestbed *tb = makeTestbed(&dev);

    if (argc > 2 && strcmp(argv[1], "--launch") == 0) {
        auto t0 = std::chrono::steady_clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            // The preload for the child is the caller's business (LD_PRELOAD
            // or the emulator's options); UMOCKDEV_DIR is inherited.
            execvp(argv[2], argv + 2);
            fprintf(stderr, "FAIL exec %s: %s\n", argv[2], strerror(errno));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        printf("child ran %.1f ms, %s %d\n", msSince(t0),
               WIFEXITED(status) ? "exit" : "signal",
               WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
        g_object_unref(tb);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    if (!preloaded) {
        fprintf(stderr, "FAIL: %s is not in LD_PRELOAD\n", "libumockdev-preload.so.0");
        return 1;
    }
    int rc = runClient(argc > 1 ? atoi(argv[1]) : 200);
    g_object_unref(tb);
    return rc;
}
