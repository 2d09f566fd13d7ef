#pragma once

// The printer's Wi-Fi command language without any I/O: the command texts,
// the escaping of setting commands, what each reply means, and the checks
// the settings forms run on what the user typed.

#include "WifiSettings.h"

#include <QList>
#include <QString>

#include <optional>

namespace vexo::config {

inline constexpr char16_t kCheckAPCommand[] = u"CheckwifiAP?";
inline constexpr char16_t kCheckClientModeCommand[] = u"CheckwifiSTA?";

// Unescaped setting commands, ending in ";".
QString setAPCommand(const APSetting& setting);
// The network joined is the scanned name, not WifiName.
QString setClientModeCommand(const QString& networkName, const ClietModeSetting& setting);

// A "?" or ";" inside the fields goes out as 0x01 or 0x02; only the final
// byte keeps its value, so the last ";" alone ends the command.
QString escapeSettingCommand(const QString& command);

// The result code: the reply up to its first ",".
QString resultCode(const QString& reply);

// What a reply asks of the model: the triple returned to the caller and,
// for busy and unsupported-mode answers, the alert the model raises itself.
struct ReplyOutcome {
    AlertTriple result;
    std::optional<AlertTriple> alter;
};

struct APInfoOutcome : ReplyOutcome {
    std::optional<APSetting> setting;  // encryptMode 1 or 0
};

// Every field but orderInList, which the scan owns.
struct ClientModeInfoOutcome : ReplyOutcome {
    std::optional<ClietModeSetting> setting;
};

enum class ScanResult { networks, noAccessPoint, notReady, unreadable };

struct ScanOutcome {
    ScanResult result = ScanResult::unreadable;
    QList<HotSpot> hotSpots;
};

// An absent reply is the carrier's failure.
APInfoOutcome readAPInfoReply(const std::optional<QString>& reply);
ReplyOutcome readSetAPReply(const std::optional<QString>& reply);
ClientModeInfoOutcome readClientModeInfoReply(const std::optional<QString>& reply);
ReplyOutcome readSetClientModeReply(const std::optional<QString>& reply);
ScanOutcome readScanReply(const std::optional<QString>& reply);

// After a finished scan: orderInList follows the configured network to its
// place in the new list; when it is gone its password is cleared.
void applyScan(ClietModeSetting& setting, const ScanOutcome& scan);

// Alerts of the model itself, besides those of the printer's answers.
namespace alert {
AlertTriple scanNotAnswered();
AlertTriple noAnswer();
AlertTriple noSuchHotSpot();
AlertTriple unsendableText();
}  // namespace alert

// Input checks. Each gives the alert text of the first rule that fails, or
// nothing when the value passes.
bool isIPv4Address(const QString& text);
std::optional<QString> checkIP(const QString& ip);
std::optional<QString> checkMask(const QString& mask);
std::optional<QString> checkGateway(const QString& gateway);
std::optional<QString> checkAPName(const QString& name);
std::optional<QString> checkAPPassword(const QString& password, bool encrypted);
std::optional<QString> checkWifiPassword(const QString& password);
// No control characters: they would break the command's fields apart.
bool isSendable(const QString& text);

// The access-point form: the name and password typed, the encryption
// chosen, and the addresses last read from the printer.
struct APForm {
    QString apName;
    bool encrypted = true;
    QString apPassword;
    QString ip;
    QString mask;
    QString gateway;
};

// The client-mode form.
struct ClientModeForm {
    bool fixedAddress = false;  // "手动设置"; otherwise DHCP
    QString ip;
    QString mask;
    QString gateway;
    QString wifiPassword;
    int orderInList = 0;
};

// Titled "错误" when a rule fails.
std::optional<AlertTriple> checkAPForm(const APForm& form);
std::optional<AlertTriple> checkClientModeForm(const ClientModeForm& form);

// What a form that passed its checks stores before it sends.
APSetting apSettingFromForm(const APForm& form);
ClietModeSetting clientModeSettingFromForm(ClietModeSetting current, const ClientModeForm& form);

// The checks again right before a setting goes out, whoever filled it in.
std::optional<AlertTriple> checkAPSettingToSend(const APSetting& setting);
std::optional<AlertTriple> checkClientModeToSend(const QList<HotSpot>& hotSpotList, const ClietModeSetting& setting);

}  // namespace vexo::config
