// SPDX-License-Identifier: MIT
#include "virtual_reader.h"

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <umockdev.h>

namespace vr {

namespace {

constexpr const char *kBusPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
// How long a reap waits for a transfer to complete before answering "not
// yet".  umockdev's device node is a regular file that always polls
// ready, so without this pause libusb would spin while it waits.  Short
// waits keep short time-outs (the 5 ms drain read) precise; once a
// transfer has waited a while, longer pauses make a long wait cheap.
constexpr auto kReapWait = std::chrono::microseconds(250);
constexpr auto kLongReapWait = std::chrono::milliseconds(20);
constexpr auto kLongWaitAfter = std::chrono::milliseconds(20);
// umockdev serves the ioctls of every device on the bus in one thread, so
// while both readers are plugged a reap that waits holds up the other
// reader's requests: then reaps never take the long wait.
std::atomic<int> readersOnBus{0};

void put16(Bytes &b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

Bytes deviceDescriptor(uint16_t vendor, uint16_t product, uint8_t cls) {
    Bytes d = {18, 1};
    put16(d, 0x0200);
    d.insert(d.end(), {cls, 0, 0, 64});
    put16(d, vendor);
    put16(d, product);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, 3, 1});
    return d;
}

Bytes endpoint(uint8_t address, uint8_t attributes, uint16_t size) {
    Bytes e = {7, 5, address, attributes};
    put16(e, size);
    e.push_back(1);
    return e;
}

struct Interface {
    uint8_t cls;
    std::vector<Bytes> endpoints;
};

Bytes configuration(const std::vector<Interface> &ifaces) {
    Bytes body;
    for (size_t i = 0; i < ifaces.size(); i++) {
        const Interface &f = ifaces[i];
        body.insert(body.end(), {9, 4, static_cast<uint8_t>(i), 0,
                                 static_cast<uint8_t>(f.endpoints.size()), f.cls, 0, 0, 0});
        if (f.cls == 3) body.insert(body.end(), {9, 0x21, 0x10, 0x01, 0, 1, 0x22, 0x22, 0});
        for (const auto &e : f.endpoints) body.insert(body.end(), e.begin(), e.end());
    }
    Bytes c = {9, 2};
    put16(c, static_cast<uint16_t>(9 + body.size()));
    c.insert(c.end(), {static_cast<uint8_t>(ifaces.size()), 1, 0, 0x80, 50});
    c.insert(c.end(), body.begin(), body.end());
    return c;
}

std::string hexAttr(const Bytes &b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

std::string record(const std::string &path, int devnum, bool node, const Bytes &descriptors) {
    char bus[32], nodeLine[64], props[256];
    snprintf(bus, sizeof bus, "001/%03d", devnum);
    snprintf(nodeLine, sizeof nodeLine, "N: bus/usb/%s\n", bus);
    snprintf(props, sizeof props,
             "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/%s\n"
             "E: BUSNUM=001\nE: DEVNUM=%03d\n"
             "A: busnum=1\nA: devnum=%d\nA: speed=12\nA: bConfigurationValue=1\n",
             bus, devnum, devnum);
    std::string r = "P: " + path.substr(4) + "\n";
    if (node) r += nodeLine;
    r += props;
    r += "H: descriptors=" + hexAttr(descriptors) + "\n";
    return r;
}

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
    return static_cast<VirtualReader *>(self)->handleIoctl(client);
}

void onClientGone(gpointer self, GObject *client) {
    static_cast<VirtualReader *>(self)->clientGone(reinterpret_cast<UMockdevIoctlClient *>(client));
}

}  // namespace

namespace {

// The bus: umockdev's testbed with the root hub, made once per process.
UMockdevTestbed *theBus() {
    static UMockdevTestbed *testbed = [] {
        UMockdevTestbed *t = umockdev_testbed_new();
        Bytes hub = deviceDescriptor(0x1D6B, 0x0002, 9);
        Bytes hubConfig = configuration({{9, {endpoint(0x81, 3, 4)}}});
        hub.insert(hub.end(), hubConfig.begin(), hubConfig.end());
        GError *err = nullptr;
        if (!umockdev_testbed_add_from_string(t, record(kBusPath, 1, true, hub).c_str(), &err)) {
            fprintf(stderr, "virtual reader: cannot add the root hub: %s\n", err->message);
            abort();
        }
        return t;
    }();
    return testbed;
}

}  // namespace

VirtualReader &VirtualReader::instance() {
    static VirtualReader *vr = [] {  // lives as long as the process
        auto *r = new VirtualReader(1);
        r->plug(UsbVariant::Reader);
        return r;
    }();
    return *vr;
}

VirtualReader &VirtualReader::second() {
    instance();  // the bus and the first reader come first
    static VirtualReader *vr = new VirtualReader(2);
    return *vr;
}

// Device numbers: 1 is the root hub; each plug takes the next number of
// its port's parity, so the two ports never share one.
VirtualReader::VirtualReader(int port) : port_(port), devnum_(port) {
    testbed_ = theBus();
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
}

void VirtualReader::plug(UsbVariant variant) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!sysPath_.empty()) {
        killTransfers();
        umockdev_testbed_remove_device(testbed_, sysPath_.c_str());
        sysPath_.clear();
    }
    reader_.reset();
    if ((variant_ == UsbVariant::NoReader) != (variant == UsbVariant::NoReader))
        readersOnBus += variant == UsbVariant::NoReader ? -1 : 1;
    variant_ = variant;
    driverBound_ = true;
    dead_ = false;
    vanishWhenRead_ = false;
    claimedBy_ = nullptr;
    claims_ = 0;
    inQueue_.clear();
    inEp_ = 0x81;
    outEp_ = 0x02;
    interface_ = 0;
    if (variant == UsbVariant::NoReader) return;

    uint16_t vendor = variant == UsbVariant::OtherVendor ? 0x1234 : kReaderVendor;
    Bytes d = deviceDescriptor(vendor, kReaderProduct, 0);
    std::vector<Interface> ifaces;
    if (variant == UsbVariant::LaterInterface) {
        // Interface 0 has an IN interrupt endpoint and an OUT endpoint
        // that is bulk, so only interface 1 offers the pair.
        ifaces.push_back({3, {endpoint(0x83, 3, 64), endpoint(0x04, 2, 64)}});
        interface_ = 1;
    }
    ifaces.push_back({3, {endpoint(inEp_, 3, 64), endpoint(outEp_, 3, 64)}});
    if (variant != UsbVariant::NoConfiguration) {
        Bytes c = configuration(ifaces);
        d.insert(d.end(), c.begin(), c.end());
    }

    // Each plug takes a new address, odd ones for the reader on port 1 and
    // even ones for the one on port 2.  USB addresses run from 1 (the root
    // hub here) to 127; libusb reads the address as one byte, so a reader
    // plugged in for the 255th time would no longer be found.  Addresses
    // are used again, as a bus does.
    devnum_ += 2;
    if (devnum_ > 127) devnum_ = port_ + 2;
    char node[64];
    snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum_);
    GError *err = nullptr;
    if (variant != UsbVariant::NoDeviceNode && attachedNodes_.count(node)) {
        umockdev_testbed_detach_ioctl(testbed_, node, nullptr);
        attachedNodes_.erase(node);
    }
    if (variant != UsbVariant::NoDeviceNode &&
        !umockdev_testbed_attach_ioctl(testbed_, node, handler_, &err)) {
        fprintf(stderr, "virtual reader: cannot attach to %s: %s\n", node, err->message);
        abort();
    }
    if (variant != UsbVariant::NoDeviceNode) attachedNodes_.insert(node);
    std::string path = std::string(kBusPath) + "/1-" + std::to_string(port_);
    std::string rec = record(path, devnum_, variant != UsbVariant::NoDeviceNode, d);
    if (!umockdev_testbed_add_from_string(testbed_, rec.c_str(), &err)) {
        fprintf(stderr, "virtual reader: cannot add the reader: %s\n", err->message);
        abort();
    }
    sysPath_ = path;
}

std::string VirtualReader::devicePath() {
    std::lock_guard<std::mutex> lock(mutex_);
    char node[64];
    snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum_);
    return node;
}

bool VirtualReader::hidDriverBound() {
    std::lock_guard<std::mutex> lock(mutex_);
    return driverBound_;
}

int VirtualReader::claimCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return claims_;
}

int VirtualReader::openDescriptors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(clients_.size());
}

int VirtualReader::openDescriptorsSettled(int expected) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int n;
    while ((n = openDescriptors()) != expected && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return n;
}

size_t VirtualReader::pendingInReports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inQueue_.size();
}

void VirtualReader::injectStaleReport(const Bytes &payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    queueReports(Reader::split(0x12, payload));
    deliver();
}

void VirtualReader::vanish() {
    std::lock_guard<std::mutex> lock(mutex_);
    dead_ = true;
    killTransfers();
    wake_.notify_all();
}

// --- the USB side, in umockdev's worker thread ---

void VirtualReader::trackClient(UMockdevIoctlClient *client) {
    if (std::find(clients_.begin(), clients_.end(), client) != clients_.end()) return;
    clients_.push_back(client);
    g_object_weak_ref(G_OBJECT(client), onClientGone, this);
}

void VirtualReader::clientGone(UMockdevIoctlClient *client) {
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
    if (justReaped_ == client) justReaped_ = nullptr;
    if (claimedBy_ == client) claimedBy_ = nullptr;
    auto drop = [&](std::deque<Urb> &q) {
        for (auto it = q.begin(); it != q.end();) {
            if (it->client == client) {
                dropUrb(*it);
                it = q.erase(it);
            } else {
                ++it;
            }
        }
    };
    drop(inFlight_);
    drop(completed_);
}

void VirtualReader::dropUrb(Urb &u) {
    if (u.buffer) g_object_unref(u.buffer);
    if (u.urb) g_object_unref(u.urb);
    u.buffer = u.urb = nullptr;
}

void VirtualReader::completeUrb(Urb &u, int status, const uint8_t *data, int len) {
    auto *urb = reinterpret_cast<usbdevfs_urb *>(u.urb->data);
    if (data && len > 0) {
        len = std::min(len, u.buffer->data_len);
        memcpy(u.buffer->data, data, len);
    }
    urb->status = status;
    urb->actual_length = status == 0 || status == -EOVERFLOW ? std::max(len, 0) : 0;
    completed_.push_back(u);
}

void VirtualReader::killTransfers() {
    while (!inFlight_.empty()) {
        completeUrb(inFlight_.front(), dead_ ? -ENODEV : -ESHUTDOWN, nullptr, 0);
        inFlight_.pop_front();
    }
}

void VirtualReader::queueReports(const std::vector<Report> &reports) {
    auto at = std::chrono::steady_clock::now();
    for (const auto &r : reports) {
        at += reader_.reportDelay();
        inQueue_.push_back({r, at});
    }
}

void VirtualReader::deliver() {
    auto now = std::chrono::steady_clock::now();
    while (!inFlight_.empty() && !inQueue_.empty() && inQueue_.front().readyAt <= now) {
        const Report &r = inQueue_.front().report;
        completeUrb(inFlight_.front(), r.status, r.data, r.length);
        inFlight_.pop_front();
        inQueue_.pop_front();
    }
    if (vanishWhenRead_ && inQueue_.empty()) {
        vanishWhenRead_ = false;
        dead_ = true;
        killTransfers();
    }
}

bool VirtualReader::reapFor(UMockdevIoctlClient *client, Urb *out) {
    for (auto it = completed_.begin(); it != completed_.end(); ++it) {
        if (it->client == client) {
            *out = *it;
            completed_.erase(it);
            return true;
        }
    }
    return false;
}

int VirtualReader::submitUrb(UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    GError *err = nullptr;
    UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
    if (!urbData) {
        g_clear_error(&err);
        return EFAULT;
    }
    auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
    int e = 0;
    if (dead_) e = ENODEV;
    else if (urb->type != USBDEVFS_URB_TYPE_INTERRUPT) e = EINVAL;
    else if (urb->endpoint != inEp_ && urb->endpoint != outEp_) e = ENOENT;
    else if (driverBound_ || (claimedBy_ && claimedBy_ != client)) e = EBUSY;
    else if (urb->buffer_length < 0 || urb->buffer_length > 4096) e = EINVAL;
    if (e) {
        g_object_unref(urbData);
        return e;
    }
    UMockdevIoctlData *buf = umockdev_ioctl_data_resolve(
        urbData, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), &err);
    if (!buf) {
        g_clear_error(&err);
        g_object_unref(urbData);
        return EFAULT;
    }
    Urb u{client, urbData, buf, std::chrono::steady_clock::now()};
    if (urb->endpoint == outEp_) {
        bool vanish = false, vanishAfter = false;
        std::vector<Report> reply = reader_.receive(buf->data, urb->buffer_length, &vanish, &vanishAfter);
        completeUrb(u, 0, nullptr, urb->buffer_length);
        if (vanish) {
            dead_ = true;
            killTransfers();
        } else {
            queueReports(reply);
            vanishWhenRead_ = vanishWhenRead_ || vanishAfter;
        }
    } else {
        inFlight_.push_back(u);
    }
    deliver();
    return 0;
}

bool VirtualReader::handleIoctl(UMockdevIoctlClient *client) {
    std::unique_lock<std::mutex> lock(mutex_);
    trackClient(client);
    unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    bool afterReap = justReaped_ == client;
    justReaped_ = nullptr;
    GError *err = nullptr;
    int e = 0;

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), &err);
        if (!caps) {
            e = EFAULT;
            break;
        }
        uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        memcpy(caps->data, &value, sizeof value);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(caps);
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData *gd = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), &err);
        if (!gd) {
            e = EFAULT;
            break;
        }
        auto *g = reinterpret_cast<usbdevfs_getdriver *>(gd->data);
        if (dead_) e = ENODEV;
        else if (!driverBound_ || g->interface != static_cast<unsigned>(interface_)) e = ENODATA;
        else snprintf(g->driver, sizeof g->driver, "usbhid");
        if (!e) umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(gd);
        if (!e) return true;
        break;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData *io = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), &err);
        if (!io) {
            e = EFAULT;
            break;
        }
        auto *c = reinterpret_cast<usbdevfs_ioctl *>(io->data);
        if (dead_) e = ENODEV;
        else if (c->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (driverBound_) driverBound_ = false;
            else e = ENODATA;
        } else if (c->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            driverBound_ = true;
        } else {
            e = ENOTTY;
        }
        g_object_unref(io);
        break;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData *n = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), &err);
        if (!n) {
            e = EFAULT;
            break;
        }
        unsigned int ifno;
        memcpy(&ifno, n->data, sizeof ifno);
        g_object_unref(n);
        if (dead_) e = ENODEV;
        else if (ifno > 1) e = EINVAL;
        else if (request == USBDEVFS_RELEASEINTERFACE) {
            if (claimedBy_ == client) claimedBy_ = nullptr;
            else e = EINVAL;
        } else if (variant_ == UsbVariant::ClaimRefused || (claimedBy_ && claimedBy_ != client) ||
                   (driverBound_ && ifno == static_cast<unsigned>(interface_))) {
            e = EBUSY;
        } else {
            claimedBy_ = client;
            claims_++;
        }
        break;
    }
    case USBDEVFS_SUBMITURB:
        e = submitUrb(client, arg);
        break;
    case USBDEVFS_REAPURBNDELAY: {
        Urb u;
        bool got = reapFor(client, &u);
        if (!got && !dead_ && !afterReap) {
            // Wait briefly for a report that is due, instead of letting
            // the caller spin.
            auto now = std::chrono::steady_clock::now();
            auto until = now + kReapWait;
            for (const Urb &w : inFlight_)
                if (w.client == client && now - w.submitted > kLongWaitAfter && readersOnBus < 2)
                    until = now + kLongReapWait;
            if (!inQueue_.empty() && !inFlight_.empty())
                until = std::min(until, inQueue_.front().readyAt);
            wake_.wait_until(lock, until);
            deliver();
            got = reapFor(client, &u);
        }
        if (!got) {
            e = dead_ ? ENODEV : EAGAIN;
            break;
        }
        UMockdevIoctlData *pp = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), &err);
        if (!pp) {
            dropUrb(u);
            e = EFAULT;
            break;
        }
        umockdev_ioctl_data_set_ptr(pp, 0, u.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        justReaped_ = client;
        g_object_unref(pp);
        dropUrb(u);
        return true;
    }
    case USBDEVFS_DISCARDURB: {
        gulong addr = 0;
        memcpy(&addr, arg->data, std::min<size_t>(sizeof addr, static_cast<size_t>(arg->data_len)));
        e = EINVAL;
        for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it) {
            if (it->urb->client_addr == addr) {
                completeUrb(*it, -ENOENT, nullptr, 0);
                inFlight_.erase(it);
                e = 0;
                break;
            }
        }
        break;
    }
    default:
        e = ENOTTY;
        break;
    }
    if (err) g_clear_error(&err);
    umockdev_ioctl_client_complete(client, e ? -1 : 0, e);
    return true;
}

}  // namespace vr
