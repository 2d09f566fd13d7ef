// Printer replies to the Wi-Fi commands, through every reader the network
// settings use.
#include "WifiCommands.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

using namespace vexo::config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString reply = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> raw(reply);

    readAPInfoReply(raw);
    readSetAPReply(raw);
    readSetClientModeReply(raw);
    const ClientModeInfoOutcome client = readClientModeInfoReply(raw);
    const ScanOutcome scan = readScanReply(raw);

    int next = 0;
    for (const HotSpot& h : scan.hotSpots)
        if (h.id != next++ || h.signalDB < 0 || h.signalDB > 9)
            std::abort();

    ClietModeSetting setting = client.setting.value_or(ClietModeSetting{});
    applyScan(setting, scan);
    if (setting.orderInList < 0 || (scan.result == ScanResult::networks && !setting.WifiPassword.isEmpty() &&
                                    setting.orderInList >= scan.hotSpots.size()))
        std::abort();
    // The send-time checks run on what a reply filled in.
    checkClientModeToSend(scan.hotSpots, setting);
    if (client.setting)
        escapeSettingCommand(setClientModeCommand(client.setting->WifiName, *client.setting));
    return 0;
}
