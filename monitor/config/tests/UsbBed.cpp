#include "Bed.h"
#include "EmulatedUsbPrinter.h"

namespace {

constexpr std::uint16_t kProductID = 77;

class UsbBed : public Bed {
public:
    UsbBed() : device_(bus_.plug(usbemu::DeviceLayout{0x37CE, kProductID})) { setScript({}); }

    vexo::sim::SimulatedPrinter& sim() override { return device_.simulator(); }
    Printer printer() override
    {
        return Printer(QStringLiteral("V-100"), QStringLiteral("V-100(USB)"), QStringLiteral("USB"), QString(),
                       kProductID, 0x37CE, 1, 1, false, QString());
    }
    NetworkModel::Carriers carriers() override { return {std::make_shared<UsbCommandCarrier>(), nullptr}; }
    void setScript(Script script) override
    {
        device_.setCommandHandler([this, script = std::move(script)](std::string_view cmd) -> std::optional<std::string> {
            auto reply = script ? script(cmd) : std::optional(device_.simulator().handleCommand(cmd));
            if (!reply)
                return std::nullopt;
            return usbemu::asUsbReply(*reply);
        });
    }
    std::vector<std::string> received() override { return device_.commands(); }

private:
    usbemu::UsbBus bus_;
    usbemu::EmulatedUsbPrinter& device_;
};

}  // namespace

std::unique_ptr<Bed> makeBed() { return std::make_unique<UsbBed>(); }
