#pragma once

// A printer on an emulated USB bus, for running the real libusb path without
// hardware. The bus is a umockdev test bed: sysfs entries for each device and
// a usbfs node whose ioctls are answered here, on umockdev's worker thread.
// The processes that use the bus run with libumockdev-preload (UsbPreload.h).

#include "SimulatedPrinter.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The umockdev types, declared here so that Qt sources can use the bus:
// glib's headers clash with Qt's keywords.
typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace usbemu {

struct Endpoint {
    std::uint8_t address;                 // bit 7 set: IN
    std::uint8_t attributes = 0x02;       // bulk
    std::uint16_t maxPacketSize = 512;
};

struct DeviceLayout {
    std::uint16_t vendorID = 0x37CE;
    std::uint16_t productID = 77;
    // The one interface's endpoints, in pipe order; empty with `interfaces` 0.
    std::vector<Endpoint> endpoints{{0x01}, {0x81}};
    int interfaces = 1;
    // Descriptors too short to parse: the host cannot identify the device.
    bool unreadableDescriptors = false;
    // How the printer names itself: string descriptors 1 to 3 and the
    // IEEE 1284 device ID of the printer class's GET_DEVICE_ID request.
    std::string manufacturer = "Vexo";
    std::string product = "VEXO";
    std::string serial = "VX77000001";
    std::string deviceId = "MFG:Vexo;MDL:VEXO;CMD:VEXO;CLS:PRINTER;";
};

// Replaces the printer's own answer to a command: the reply bytes exactly as
// given (no padding, so tests can send malformed replies), or nothing (it
// stays silent). The printer's own answers are padded to its 16-byte minimum.
using CommandHandler = std::function<std::optional<std::string>(std::string_view command)>;

class EmulatedUsbPrinter {
public:
    struct Setup {
        std::uint8_t bmRequestType, bRequest;
        std::uint16_t wValue, wIndex, wLength;
    };

    EmulatedUsbPrinter(UMockdevTestbed* testbed, std::string syspath, std::string devnode, DeviceLayout layout = {});
    ~EmulatedUsbPrinter();
    EmulatedUsbPrinter(const EmulatedUsbPrinter&) = delete;
    EmulatedUsbPrinter& operator=(const EmulatedUsbPrinter&) = delete;

    // The printer behind the device: its state answers the status request
    // and its command language the bulk pipes.
    vexo::sim::SimulatedPrinter& simulator() { return simulator_; }

    // Replaces the status reply with these bytes (say, fewer than three).
    void setStatusReply(std::optional<std::vector<std::uint8_t>> bytes);
    void setStatusStalls(bool stalls);
    void setStatusSilent(bool silent);

    // Empty: the simulator answers.
    void setCommandHandler(CommandHandler handler);
    // Where jobs on the bulk pipe are saved, one file job-N.vxo each
    // (job-N.done beside it once the job has ended); empty: kept in memory only.
    void setJobsDir(std::string dir);
    // The bytes of every job so far, the one under way last.
    std::vector<std::string> jobs() const;
    // The reply becomes readable this long after its command arrived.
    void setReplyDelay(std::chrono::milliseconds delay);
    // Gone away, as usbfs sees an unplugged device: transfers under way end
    // with ESHUTDOWN and can still be reaped, every other ioctl fails with
    // ENODEV, and handles open now stay dead even once it is plugged back.
    void setGone(bool gone);
    // The kernel refuses to detach its driver (a sandbox, dropped privileges).
    void setDetachRefused(bool refused);
    // Another program (the spooler's USB backend printing a job) holds the
    // interface; released, the kernel driver is bound again.
    void setHeldByAnotherProgram(bool held);
    // Plugged in (again): present, with the kernel driver bound and no claims.
    void pluggedIn();

    // Who holds the printer interface, as usbfs's "get driver" names it:
    // "usblp" (the kernel's printer driver, bound at plug-in), "usbfs" (a
    // program's claim) or "" (nobody).
    std::string interfaceDriver() const;

    std::vector<std::string> commands() const;
    std::vector<Setup> controlRequests() const;
    // How often the device node has been opened.
    int timesOpened() const;
    std::set<unsigned> claimedInterfaces() const;
    int discardedTransfers() const;

    const std::string& syspath() const { return syspath_; }

private:
    struct Urb {
        UMockdevIoctlClient* client;  // not owned: identifies the handle it came from
        UMockdevIoctlData* urb;       // owned references
        UMockdevIoctlData* buffer;
    };
    struct Reply {
        std::string bytes;
        std::chrono::steady_clock::time_point due;
    };

    static int onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);

    void handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    // Hands the handle its oldest completed transfer; false: it has none.
    bool giveBack(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool release);
    void disconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void driverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void getDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    // What usbfs names as the interface's driver; null: none.
    const char* driverLocked() const;
    // 0 or the errno of claiming the interface for this handle.
    int claimFor(UMockdevIoctlClient* client);
    // Holds a reference to the owning handle while it owns the claim.
    void setClaimOwner(UMockdevIoctlClient* client);
    void dropClosedClaim();
    void completeControl(Urb& u);
    // The answer to a control request the printer knows; none: it stalls.
    std::optional<std::vector<std::uint8_t>> controlReply(const Setup& setup) const;
    bool fillBulkIn(Urb& u);
    // Job data is whatever follows "Event=StartOfJob;" up to the job's end or
    // cancel; anything else on the pipe is a command.
    bool isJobData(const std::string& bytes) const;
    bool takesJobDataLocked() const;
    void takeJobData(const std::string& bytes);
    void takeBulkOut(Urb& u);
    void releaseUrbs();
    // The transfers of a handle that has closed go with it.
    void dropUrbsOf(UMockdevIoctlClient* client);
    void forgetClosedHandles();
    // After a disconnect usbfs still gives back completed transfers, then ENODEV.
    void reapGone(UMockdevIoctlClient* client, UMockdevIoctlData* arg);

    UMockdevTestbed* testbed_;
    std::string syspath_;
    std::string devnode_;
    UMockdevIoctlBase* handler_;
    const DeviceLayout layout_;

    vexo::sim::SimulatedPrinter simulator_;

    mutable std::mutex mutex_;
    std::optional<std::vector<std::uint8_t>> statusReply_;
    bool statusStalls_ = false;
    bool statusSilent_ = false;
    bool gone_ = false;
    CommandHandler commandHandler_;
    std::chrono::milliseconds replyDelay_{0};
    std::deque<Reply> replies_;
    std::deque<Urb> done_;
    std::deque<Urb> pending_;
    std::vector<std::string> commands_;
    std::vector<std::string> jobs_;
    bool inJob_ = false;
    std::string jobsDir_;
    std::vector<Setup> setups_;
    int opened_ = 0;
    // The one interface's state: a kernel driver bound, or a handle's claim.
    bool kernelDriverBound_ = true;
    UMockdevIoctlClient* claimOwner_ = nullptr;  // not owned
    // Open handles, and those open when the device went away (references held).
    std::set<UMockdevIoctlClient*> open_;
    std::set<UMockdevIoctlClient*> dead_;
    bool detachRefused_ = false;
    int discarded_ = 0;
};

// The emulated bus. Create it before the code under test starts a libusb
// context: libusb picks up the bus's udev view when it starts.
class UsbBus {
public:
    UsbBus();
    ~UsbBus();
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    EmulatedUsbPrinter& plug(const DeviceLayout& layout = {});
    // The bus folder; another process reaches the bus with it as UMOCKDEV_DIR
    // and the preload loaded.
    std::string rootDir() const;
    // Hot-unplug: the device leaves sysfs; handles still open see ENODEV.
    void unplug(EmulatedUsbPrinter& printer);
    // The same printer, with its state, plugged in again at its old address.
    void plugBack(EmulatedUsbPrinter& printer);

private:
    void add(const std::string& description);

    UMockdevTestbed* testbed_;
    int nextAddress_ = 2;
    std::vector<std::unique_ptr<EmulatedUsbPrinter>> printers_;
    std::vector<std::string> descriptions_;  // of printers_, for plugging back
    std::vector<bool> unplugged_;
};

// A reply as the printer sends it over USB: 16 to 600 bytes, a short one
// padded with zero bytes.
std::string asUsbReply(std::string reply);

// Descriptors as sysfs shows them: device descriptor, then the whole active configuration.
std::vector<std::uint8_t> descriptorsFor(const DeviceLayout& layout);

}  // namespace usbemu
