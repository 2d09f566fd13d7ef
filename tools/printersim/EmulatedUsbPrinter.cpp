#include "EmulatedUsbPrinter.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace usbemu {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t replyMinBytes = 16;
constexpr std::size_t replyMaxBytes = 600;

void put16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(std::uint8_t(v & 0xFF));
    out.push_back(std::uint8_t(v >> 8));
}

UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length)
{
    GError* error = nullptr;
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (!resolved) {
        std::fprintf(stderr, "emulated usb: cannot resolve ioctl data: %s\n", error->message);
        g_error_free(error);
    }
    return resolved;
}

// The caller's ioctl argument, copied in.
template <typename T>
T argumentOf(UMockdevIoctlData* arg)
{
    T value{};
    if (UMockdevIoctlData* data = resolve(arg, 0, sizeof(T))) {
        std::memcpy(&value, data->data, sizeof value);
        g_object_unref(data);
    }
    return value;
}

usbdevfs_urb* urbOf(UMockdevIoctlData* data) { return reinterpret_cast<usbdevfs_urb*>(data->data); }

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

}  // namespace

std::string asUsbReply(std::string reply)
{
    if (reply.size() < replyMinBytes)
        reply.resize(replyMinBytes, '\0');
    if (reply.size() > replyMaxBytes)
        reply.resize(replyMaxBytes);
    return reply;
}

std::vector<std::uint8_t> descriptorsFor(const DeviceLayout& layout)
{
    std::vector<std::uint8_t> d{18, 0x01};
    put16(d, 0x0200);                                 // bcdUSB
    d.insert(d.end(), {0x00, 0x00, 0x00, 0x40});      // class, subclass, protocol, ep0 size
    put16(d, layout.vendorID);
    put16(d, layout.productID);
    put16(d, 0x0100);                                 // bcdDevice
    // String indexes (a device without a serial number has none), one configuration.
    d.insert(d.end(), {0x01, 0x02, std::uint8_t(layout.serial.empty() ? 0 : 0x03), 0x01});
    if (layout.unreadableDescriptors) {
        d.resize(6);
        return d;
    }

    const std::size_t configStart = d.size();
    d.insert(d.end(), {9, 0x02, 0, 0, std::uint8_t(layout.interfaces), 0x01, 0x00, 0x80, 0x32});
    if (layout.interfaces > 0) {
        // Printer class, bidirectional: what the real devices report.
        d.insert(d.end(), {9, 0x04, 0x00, 0x00, std::uint8_t(layout.endpoints.size()), 0x07, 0x01, 0x02, 0x00});
        for (const Endpoint& ep : layout.endpoints) {
            d.insert(d.end(), {7, 0x05, ep.address, ep.attributes});
            put16(d, ep.maxPacketSize);
            d.push_back(0);
        }
    }
    const std::size_t total = d.size() - configStart;
    d[configStart + 2] = std::uint8_t(total & 0xFF);
    d[configStart + 3] = std::uint8_t(total >> 8);
    return d;
}

EmulatedUsbPrinter::EmulatedUsbPrinter(UMockdevTestbed* testbed, std::string syspath, std::string devnode,
                                       DeviceLayout layout)
    : testbed_(testbed), syspath_(std::move(syspath)), devnode_(std::move(devnode)),
      handler_(umockdev_ioctl_base_new()), layout_(std::move(layout))
{
    // Scan results are cut at whole lines before the hard limit.
    simulator_.setMaxReplyBytes(replyMaxBytes);
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(onConnected), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(onVanished), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, devnode_.c_str(), handler_, &error)) {
        std::string message = error->message;
        g_error_free(error);
        g_object_unref(handler_);
        throw std::runtime_error("cannot attach the emulated usb node: " + message);
    }
}

EmulatedUsbPrinter::~EmulatedUsbPrinter()
{
    umockdev_testbed_detach_ioctl(testbed_, devnode_.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
    releaseUrbs();
    setClaimOwner(nullptr);
    for (auto* handles : {&open_, &dead_})
        for (UMockdevIoctlClient* client : *handles)
            g_object_unref(client);
}

void EmulatedUsbPrinter::setStatusReply(std::optional<std::vector<std::uint8_t>> bytes)
{
    std::lock_guard lock(mutex_);
    statusReply_ = std::move(bytes);
}

void EmulatedUsbPrinter::setStatusStalls(bool stalls)
{
    std::lock_guard lock(mutex_);
    statusStalls_ = stalls;
}

void EmulatedUsbPrinter::setStatusSilent(bool silent)
{
    std::lock_guard lock(mutex_);
    statusSilent_ = silent;
}

void EmulatedUsbPrinter::setCommandHandler(CommandHandler handler)
{
    std::lock_guard lock(mutex_);
    commandHandler_ = std::move(handler);
}

void EmulatedUsbPrinter::setReplyDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(mutex_);
    replyDelay_ = delay;
}

void EmulatedUsbPrinter::setGone(bool gone)
{
    std::lock_guard lock(mutex_);
    gone_ = gone;
    if (!gone)
        return;
    // The host controller gives back what was under way; libusb learns of the
    // unplug by reaping them.
    for (Urb& u : pending_) {
        usbdevfs_urb* urb = urbOf(u.urb);
        urb->status = -ESHUTDOWN;
        urb->actual_length = 0;
        done_.push_back(u);
    }
    pending_.clear();
    for (UMockdevIoctlClient* client : open_)
        if (dead_.insert(client).second)
            g_object_ref(client);
}

void EmulatedUsbPrinter::setJobsDir(std::string dir)
{
    std::lock_guard lock(mutex_);
    jobsDir_ = std::move(dir);
}

std::vector<std::string> EmulatedUsbPrinter::jobs() const
{
    std::lock_guard lock(mutex_);
    return jobs_;
}

bool EmulatedUsbPrinter::isJobData(const std::string& bytes) const
{
    static constexpr std::string_view start = "Event=StartOfJob;";
    return inJob_ || std::string_view(bytes).substr(0, start.size()) == start;
}

// A printer that does not answer, or whose state stops printing, leaves the
// job's transfers pending: the host sees them time out.
bool EmulatedUsbPrinter::takesJobDataLocked() const
{
    return !statusSilent_ && !gone_ && simulator_.takesJobData();
}

void EmulatedUsbPrinter::takeJobData(const std::string& bytes)
{
    if (!inJob_) {
        jobs_.emplace_back();
        inJob_ = true;
    }
    std::string& job = jobs_.back();
    job += bytes;
    const std::string path = jobsDir_.empty() ? "" : jobsDir_ + "/job-" + std::to_string(jobs_.size());
    if (!path.empty()) {
        if (FILE* out = std::fopen((path + ".vxo").c_str(), "ab")) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
    }
    const auto endsWith = [&job](std::string_view tail) {
        return job.size() >= tail.size() && std::string_view(job).substr(job.size() - tail.size()) == tail;
    };
    if (endsWith("Event=EndOfJob;") || endsWith("CancelJob?")) {
        inJob_ = false;
        if (!path.empty())
            if (FILE* done = std::fopen((path + ".done").c_str(), "w"))
                std::fclose(done);
    }
}

void EmulatedUsbPrinter::takeBulkOut(Urb& u)
{
    usbdevfs_urb* urb = urbOf(u.urb);
    std::string bytes(reinterpret_cast<const char*>(u.buffer->data), std::size_t(urb->buffer_length));
    urb->actual_length = urb->buffer_length;
    if (isJobData(bytes)) {
        takeJobData(bytes);
        return;
    }
    commands_.push_back(bytes);
    std::optional<std::string> reply =
        commandHandler_ ? commandHandler_(bytes) : asUsbReply(simulator_.handleCommand(bytes));
    if (reply)
        replies_.push_back({std::move(*reply), Clock::now() + replyDelay_});
}

std::vector<std::string> EmulatedUsbPrinter::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<EmulatedUsbPrinter::Setup> EmulatedUsbPrinter::controlRequests() const
{
    std::lock_guard lock(mutex_);
    return setups_;
}

int EmulatedUsbPrinter::timesOpened() const
{
    std::lock_guard lock(mutex_);
    return opened_;
}

std::set<unsigned> EmulatedUsbPrinter::claimedInterfaces() const
{
    std::lock_guard lock(mutex_);
    return claimOwner_ ? std::set<unsigned>{0} : std::set<unsigned>{};
}

void EmulatedUsbPrinter::setDetachRefused(bool refused)
{
    std::lock_guard lock(mutex_);
    detachRefused_ = refused;
}

// A claim no handle of the bus owns.
static char anotherProgramsClaim;
static UMockdevIoctlClient* const anotherProgram = reinterpret_cast<UMockdevIoctlClient*>(&anotherProgramsClaim);

void EmulatedUsbPrinter::setHeldByAnotherProgram(bool held)
{
    std::lock_guard lock(mutex_);
    if (held) {
        kernelDriverBound_ = false;
        setClaimOwner(anotherProgram);
    } else if (claimOwner_ == anotherProgram) {
        setClaimOwner(nullptr);
        kernelDriverBound_ = true;
    }
}

void EmulatedUsbPrinter::pluggedIn()
{
    std::lock_guard lock(mutex_);
    gone_ = false;
    kernelDriverBound_ = true;
    setClaimOwner(nullptr);
}

std::string EmulatedUsbPrinter::interfaceDriver() const
{
    std::lock_guard lock(mutex_);
    const char* driver = driverLocked();
    return driver ? driver : "";
}

const char* EmulatedUsbPrinter::driverLocked() const
{
    return claimOwner_ ? "usbfs" : kernelDriverBound_ ? "usblp" : nullptr;
}

int EmulatedUsbPrinter::discardedTransfers() const
{
    std::lock_guard lock(mutex_);
    return discarded_;
}

int EmulatedUsbPrinter::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    static_cast<EmulatedUsbPrinter*>(self)->handle(client);
    return TRUE;
}

void EmulatedUsbPrinter::onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* printer = static_cast<EmulatedUsbPrinter*>(self);
    std::lock_guard lock(printer->mutex_);
    ++printer->opened_;
    printer->forgetClosedHandles();
    if (printer->open_.insert(client).second)
        g_object_ref(client);
}

// Closing the node gives up its claim, as usbfs does; the kernel driver stays unbound.
void EmulatedUsbPrinter::onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* printer = static_cast<EmulatedUsbPrinter*>(self);
    std::lock_guard lock(printer->mutex_);
    if (printer->claimOwner_ == client)
        printer->setClaimOwner(nullptr);
    printer->dropUrbsOf(client);
    for (auto* handles : {&printer->open_, &printer->dead_})
        if (handles->erase(client))
            g_object_unref(client);
}

// umockdev does not always say when a handle goes: those no longer
// connected are let go whenever a new one comes.
void EmulatedUsbPrinter::forgetClosedHandles()
{
    for (auto* handles : {&open_, &dead_}) {
        for (auto it = handles->begin(); it != handles->end();) {
            if (umockdev_ioctl_client_get_connected(*it)) {
                ++it;
                continue;
            }
            dropUrbsOf(*it);
            g_object_unref(*it);
            it = handles->erase(it);
        }
    }
}

void EmulatedUsbPrinter::dropUrbsOf(UMockdevIoctlClient* client)
{
    for (auto* queue : {&done_, &pending_}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (it->client != client) {
                ++it;
                continue;
            }
            if (it->buffer)
                g_object_unref(it->buffer);
            g_object_unref(it->urb);
            it = queue->erase(it);
        }
    }
}

void EmulatedUsbPrinter::releaseUrbs()
{
    for (auto* queue : {&done_, &pending_}) {
        for (const Urb& u : *queue) {
            if (u.buffer)
                g_object_unref(u.buffer);
            g_object_unref(u.urb);
        }
        queue->clear();
    }
}

void EmulatedUsbPrinter::handle(UMockdevIoctlClient* client)
{
    std::lock_guard lock(mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (gone_ || dead_.count(client)) {
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
            reapGone(client, arg);
        else
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    dropClosedClaim();

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* data = resolve(arg, 0, sizeof(std::uint32_t));
        const std::uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(data->data, &caps, sizeof caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(data);
        return;
    }
    case USBDEVFS_CLAIMINTERFACE: claim(client, arg, false); return;
    case USBDEVFS_RELEASEINTERFACE: claim(client, arg, true); return;
    case USBDEVFS_DISCONNECT_CLAIM: disconnectClaim(client, arg); return;
    case USBDEVFS_IOCTL: driverIoctl(client, arg); return;
    case USBDEVFS_GETDRIVER: getDriver(client, arg); return;
    case USBDEVFS_SUBMITURB: submit(client, arg); return;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: reap(client, arg); return;
    case USBDEVFS_DISCARDURB: discard(client, arg); return;
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
}

int EmulatedUsbPrinter::claimFor(UMockdevIoctlClient* client)
{
    if (claimOwner_ == client)
        return 0;
    if (claimOwner_ || kernelDriverBound_)
        return EBUSY;
    setClaimOwner(client);
    return 0;
}

void EmulatedUsbPrinter::setClaimOwner(UMockdevIoctlClient* client)
{
    if (claimOwner_ && claimOwner_ != anotherProgram)
        g_object_unref(claimOwner_);
    claimOwner_ = client;
    if (claimOwner_ && claimOwner_ != anotherProgram)
        g_object_ref(claimOwner_);
}

// umockdev does not always say when a handle goes (a program that ends
// without closing it, or one that closes it while the bus's thread is busy):
// a claim whose handle is no longer connected is given up, as usbfs does on close.
void EmulatedUsbPrinter::dropClosedClaim()
{
    if (claimOwner_ && claimOwner_ != anotherProgram && !umockdev_ioctl_client_get_connected(claimOwner_))
        setClaimOwner(nullptr);
}

// Interface numbers arrive as an unsigned int; the printer has interface 0 only.
void EmulatedUsbPrinter::claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool release)
{
    const auto number = argumentOf<unsigned>(arg);
    int error = 0;
    if (number != 0)
        error = ENOENT;
    else if (!release)
        error = claimFor(client);
    else if (claimOwner_ != client)
        error = EINVAL;
    else
        setClaimOwner(nullptr);
    umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
}

// Detaches whatever driver holds the interface and claims it, unless the
// flags spare that driver (libusb spares "usbfs": another program's claim).
void EmulatedUsbPrinter::disconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    auto request = argumentOf<usbdevfs_disconnect_claim>(arg);
    request.driver[USBDEVFS_MAXDRIVERNAME] = '\0';
    int error = 0;
    const char* driver = driverLocked();
    const bool named = driver && std::strcmp(driver, request.driver) == 0;
    if (request.interface != 0)
        error = ENOENT;
    else if (driver && (((request.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !named) ||
                        ((request.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && named)))
        error = EBUSY;
    else if (kernelDriverBound_ && detachRefused_)
        error = EACCES;
    else if (claimOwner_ && claimOwner_ != client)
        error = EBUSY;
    if (!error) {
        kernelDriverBound_ = false;
        setClaimOwner(client);
    }
    umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
}

// The driver requests passed through USBDEVFS_IOCTL: detach and reattach.
void EmulatedUsbPrinter::driverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    const auto request = argumentOf<usbdevfs_ioctl>(arg);
    int result = 0;
    int error = 0;
    if (request.ifno != 0) {
        error = EINVAL;
    } else if (unsigned(request.ioctl_code) == USBDEVFS_DISCONNECT) {
        if (!kernelDriverBound_)
            error = ENODATA;
        else if (detachRefused_)
            error = EACCES;
        else
            kernelDriverBound_ = false;
    } else if (unsigned(request.ioctl_code) == USBDEVFS_CONNECT) {
        // The kernel probes its drivers again; the printer driver takes a free interface.
        if (kernelDriverBound_ || claimOwner_) {
            error = EBUSY;
        } else {
            kernelDriverBound_ = true;
            result = 1;
        }
    } else {
        error = ENOTTY;
    }
    umockdev_ioctl_client_complete(client, error ? -1 : result, error);
}

void EmulatedUsbPrinter::getDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    UMockdevIoctlData* data = resolve(arg, 0, sizeof(usbdevfs_getdriver));
    auto* request = reinterpret_cast<usbdevfs_getdriver*>(data->data);
    const char* driver = driverLocked();
    if (request->interface != 0 || !driver) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);
    } else {
        std::snprintf(request->driver, sizeof request->driver, "%s", driver);
        umockdev_ioctl_client_complete(client, 0, 0);
    }
    g_object_unref(data);
}

void EmulatedUsbPrinter::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    UMockdevIoctlData* urbData = resolve(arg, 0, sizeof(usbdevfs_urb));
    // A zero-length packet (libusb sends one when a caller flushes an empty
    // buffer) has no buffer to resolve.
    const std::size_t length = std::size_t(std::max(urbOf(urbData)->buffer_length, 0));
    UMockdevIoctlData* bufferData = length ? resolve(urbData, offsetof(usbdevfs_urb, buffer), length) : nullptr;
    Urb u{client, urbData, bufferData};
    usbdevfs_urb* urb = urbOf(urbData);
    urb->status = 0;
    urb->actual_length = 0;
    const bool in = urb->endpoint & 0x80;
    bool completeNow = true;

    if (urb->type == USBDEVFS_URB_TYPE_BULK) {
        // usbfs claims the interface for a transfer on its endpoints; that fails while another holds it.
        if (const int error = claimFor(client)) {
            if (bufferData)
                g_object_unref(bufferData);
            g_object_unref(urbData);
            umockdev_ioctl_client_complete(client, -1, error);
            return;
        }
    }
    if (!bufferData && (urb->type == USBDEVFS_URB_TYPE_CONTROL || length)) {
        urb->status = -EINVAL;  // a control transfer has at least its setup; or the buffer was unreadable
    } else if (!bufferData) {
        // An empty bulk transfer, either way: done, nothing moved; a printer
        // takes a zero-length packet without a word.
    } else if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        const std::uint8_t* b = bufferData->data;
        const Setup setup{b[0], b[1], std::uint16_t(b[2] | b[3] << 8), std::uint16_t(b[4] | b[5] << 8),
                          std::uint16_t(b[6] | b[7] << 8)};
        setups_.push_back(setup);
        if (setup.bmRequestType == 0xC0 && setup.bRequest == 0x04 && statusSilent_)
            completeNow = false;
        else
            completeControl(u);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && !in) {
        const std::string bytes(reinterpret_cast<const char*>(bufferData->data), std::size_t(urb->buffer_length));
        if (isJobData(bytes) && !takesJobDataLocked())
            completeNow = false;  // NAKed until the printer can print
        else
            takeBulkOut(u);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && in) {
        completeNow = fillBulkIn(u);
    } else {
        urb->status = -EINVAL;
    }
    (completeNow ? done_ : pending_).push_back(u);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedUsbPrinter::completeControl(Urb& u)
{
    usbdevfs_urb* urb = urbOf(u.urb);
    const std::uint8_t* b = u.buffer->data;
    const Setup setup{b[0], b[1], std::uint16_t(b[2] | b[3] << 8), std::uint16_t(b[4] | b[5] << 8),
                      std::uint16_t(b[6] | b[7] << 8)};
    const std::optional<std::vector<std::uint8_t>> reply = controlReply(setup);
    if (!reply) {
        urb->status = -EPIPE;  // the printer stalls requests it does not know
        return;
    }
    // A device sends at most wLength bytes, cutting its answer there.
    const std::size_t n = std::min<std::size_t>(reply->size(), setup.wLength);
    if (n > 0)
        std::memcpy(u.buffer->data + 8, reply->data(), n);
    urb->actual_length = int(n);
}

std::optional<std::vector<std::uint8_t>> EmulatedUsbPrinter::controlReply(const Setup& setup) const
{
    using Bytes = std::vector<std::uint8_t>;
    const std::uint8_t type = std::uint8_t(setup.wValue >> 8), index = std::uint8_t(setup.wValue & 0xFF);
    if (setup.bmRequestType == 0xC0 && setup.bRequest == 0x04) {  // the vendor status request
        if (statusStalls_)
            return std::nullopt;
        if (statusReply_)
            return statusReply_;
        const auto code = std::uint16_t(simulator_.statusCode());
        const auto toner = std::uint8_t(std::clamp<std::int64_t>(simulator_.toner(), 0, 255));
        return Bytes{std::uint8_t(code & 0xFF), std::uint8_t(code >> 8), toner};
    }
    if (setup.bmRequestType == 0xA1 && setup.bRequest == 0x00) {
        // GET_DEVICE_ID: wIndex names interface and alternate setting; the
        // answer is the ID behind its own length, big-endian, length included.
        if (layout_.interfaces < 1 || setup.wIndex != 0)
            return std::nullopt;
        const std::size_t length = layout_.deviceId.size() + 2;
        Bytes id{std::uint8_t(length >> 8), std::uint8_t(length & 0xFF)};
        id.insert(id.end(), layout_.deviceId.begin(), layout_.deviceId.end());
        return id;
    }
    if (setup.bmRequestType == 0x80 && setup.bRequest == 0x08)  // GET_CONFIGURATION: configured as 1
        return Bytes{1};
    if (setup.bmRequestType != 0x80 || setup.bRequest != 0x06)  // GET_DESCRIPTOR
        return std::nullopt;
    const Bytes all = descriptorsFor(layout_);
    if (type == 0x01 && index == 0)
        return Bytes(all.begin(), all.begin() + std::min<std::size_t>(all.size(), 18));
    if (type == 0x02 && index == 0 && all.size() > 18)
        return Bytes(all.begin() + 18, all.end());
    if (type != 0x03)
        return std::nullopt;
    if (index == 0)
        return Bytes{4, 0x03, 0x09, 0x04};  // US English only
    const std::string* text = index == 1 ? &layout_.manufacturer : index == 2 ? &layout_.product
                              : index == 3 ? &layout_.serial : nullptr;
    if (!text || setup.wIndex != 0x0409)
        return std::nullopt;
    Bytes string{std::uint8_t(2 + 2 * text->size()), 0x03};  // UTF-16LE of ASCII text
    for (char c : *text)
        string.insert(string.end(), {std::uint8_t(c), 0});
    return string;
}

// Fills an IN transfer from the first reply that is due; false while none is.
bool EmulatedUsbPrinter::fillBulkIn(Urb& u)
{
    if (replies_.empty() || replies_.front().due > Clock::now())
        return false;
    usbdevfs_urb* urb = urbOf(u.urb);
    const std::string reply = std::move(replies_.front().bytes);
    replies_.pop_front();
    const std::size_t room = std::size_t(urb->buffer_length);
    const std::size_t n = std::min(reply.size(), room);
    if (n > 0)
        std::memcpy(u.buffer->data, reply.data(), n);
    urb->actual_length = int(n);
    // More than the host asked for: the controller sees babble.
    if (reply.size() > room)
        urb->status = -EOVERFLOW;
    return true;
}

void EmulatedUsbPrinter::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    // libusb polls while a transfer is pending: the moment to let late replies land.
    for (auto it = pending_.begin(); it != pending_.end();) {
        usbdevfs_urb* pendingUrb = urbOf(it->urb);
        const bool out = pendingUrb->type == USBDEVFS_URB_TYPE_BULK && !(pendingUrb->endpoint & 0x80);
        if (out && takesJobDataLocked())
            takeBulkOut(*it);
        if ((out && takesJobDataLocked()) || (pendingUrb->type == USBDEVFS_URB_TYPE_BULK && !out && fillBulkIn(*it))) {
            done_.push_back(*it);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    if (!giveBack(client, arg))
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
}

bool EmulatedUsbPrinter::giveBack(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    const auto it = std::find_if(done_.begin(), done_.end(), [client](const Urb& u) { return u.client == client; });
    if (it == done_.end())
        return false;
    const Urb u = *it;
    done_.erase(it);
    UMockdevIoctlData* pointer = resolve(arg, 0, sizeof(void*));
    umockdev_ioctl_data_set_ptr(pointer, 0, u.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    if (u.buffer)
        g_object_unref(u.buffer);
    g_object_unref(u.urb);
    return true;
}

void EmulatedUsbPrinter::reapGone(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    if (!giveBack(client, arg))
        umockdev_ioctl_client_complete(client, -1, ENODEV);
}

void EmulatedUsbPrinter::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->client != client || it->urb->client_addr != address)
            continue;
        usbdevfs_urb* urb = urbOf(it->urb);
        urb->status = -ENOENT;  // what usbfs reports for a discarded URB
        urb->actual_length = 0;
        done_.push_back(*it);
        pending_.erase(it);
        ++discarded_;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

UsbBus::UsbBus() : testbed_(umockdev_testbed_new()) {}

UsbBus::~UsbBus()
{
    printers_.clear();
    g_object_unref(testbed_);
}

EmulatedUsbPrinter& UsbBus::plug(const DeviceLayout& layout)
{
    const int address = nextAddress_++;
    char node[64];
    std::snprintf(node, sizeof node, "bus/usb/001/%03d", address);
    char syspath[96];
    std::snprintf(syspath, sizeof syspath, "/devices/pci0000:00/0000:00:14.0/usb1/1-%d", address);
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", layout.vendorID, layout.productID);

    std::string description = std::string("P: ") + syspath + "\nN: " + node +
                              "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/" + node +
                              "\nE: BUSNUM=001\nE: DEVNUM=" + std::string(node + 12) + "\n" + ids +
                              "A: busnum=1\\n\nA: devnum=" + std::to_string(address) +
                              "\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n"
                              "H: descriptors=" +
                              hex(descriptorsFor(layout)) + "\n";
    add(description);
    printers_.push_back(std::make_unique<EmulatedUsbPrinter>(testbed_, std::string("/sys") + syspath,
                                                            std::string("/dev/") + node, layout));
    descriptions_.push_back(description);
    unplugged_.push_back(false);
    return *printers_.back();
}

void UsbBus::add(const std::string& description)
{
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot add the emulated usb device: " + message);
    }
}

void UsbBus::plugBack(EmulatedUsbPrinter& printer)
{
    for (std::size_t i = 0; i < printers_.size(); ++i) {
        if (printers_[i].get() != &printer)
            continue;
        if (!unplugged_[i])
            return;
        unplugged_[i] = false;
        printer.pluggedIn();
        add(descriptions_[i]);
        return;
    }
}

std::string UsbBus::rootDir() const
{
    gchar* dir = umockdev_testbed_get_root_dir(testbed_);
    std::string root = dir ? dir : "";
    g_free(dir);
    return root;
}

void UsbBus::unplug(EmulatedUsbPrinter& printer)
{
    for (std::size_t i = 0; i < printers_.size(); ++i) {
        if (printers_[i].get() == &printer) {
            if (unplugged_[i])
                return;
            unplugged_[i] = true;
        }
    }
    printer.setGone(true);
    umockdev_testbed_uevent(testbed_, printer.syspath().c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, printer.syspath().c_str());
}

}  // namespace usbemu
