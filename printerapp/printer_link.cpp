#include "printer_link.h"

#include "Catalogue.h"
#include "device_identity.h"
#include "NetTransport.h"
#include "USBInteraction.h"

#include <memory>

namespace vexo::app {
namespace {

const OrrinPrinter* catalogueRow(std::string_view model)
{
    for (const OrrinPrinter& row : catalogueInForce())
        if (row.printerName == model)
            return &row;
    return nullptr;
}

// The host of a socket://HOST[:PORT] URI; empty for any other URI.
std::string socketHost(std::string_view deviceUri)
{
    constexpr std::string_view kScheme = "socket://";
    if (deviceUri.substr(0, kScheme.size()) != kScheme)
        return {};
    std::string_view rest = deviceUri.substr(kScheme.size());
    if (rest.substr(0, 1) == "[")  // an IPv6 literal, which the printers do not speak SNMP on
        return {};
    return std::string(rest.substr(0, rest.find_first_of(":/?")));
}

}  // namespace

std::optional<PrinterLink> linkFor(std::string_view deviceUri, std::string_view model)
{
    const OrrinPrinter* row = catalogueRow(model);
    if (!row)
        return std::nullopt;
    PrinterLink link;
    link.options.model = std::string(model);
    link.options.hasWakeUp = row->hasWakeUp;

    if (deviceUri.substr(0, 6) == "usb://") {
        // The device the URI names, by its serial number: PAPPL prints to
        // that one, so its status is read there too.
        link.options.link = Link::usb;
        link.query = [pid = row->PID, serial = usbSerial(deviceUri)](const std::function<bool()>&) {
            return usbStatusRequest(printerVendorID, pid, serial);
        };
        return link;
    }
    const std::string host = socketHost(deviceUri);
    if (host.empty())
        return std::nullopt;
    // Short waits: the status of a printer that went away is due within two polls.
    vexo::net::NetTransportOptions options;
    options.query.timeoutUs = 1'500'000;
    options.query.retries = 1;
    auto net = std::make_shared<vexo::net::NetTransport>(std::move(options));
    link.options.link = Link::network;
    link.query = [net, host](const std::function<bool()>& stopping) { return net->getSNMPStatus(host, stopping); };
    return link;
}

}  // namespace vexo::app
