#include "Strings.h"

#include <QHash>
#include <QLocale>

namespace vexo::ui {

namespace {

using Table = QHash<QString, QString>;

const Table& chinese()
{
    static const Table table{
        {QStringLiteral("statusMonitor"), QStringLiteral("状态监视器")},
        {QStringLiteral("printerList"), QStringLiteral("打印机列表")},
        {QStringLiteral("Searching..."), QStringLiteral("正在搜索...")},
        {QStringLiteral("refresh"), QStringLiteral("刷新")},
        {QStringLiteral("printerListFreshed"), QStringLiteral("打印机列表已刷新")},
        {QStringLiteral("ok"), QStringLiteral("好")},
        {QStringLiteral("connecting"), QStringLiteral("正在连接")},
        {QStringLiteral("networkSetting"), QStringLiteral("网络设置")},
        {QStringLiteral("开机启动:"), QStringLiteral("开机启动:")},
        {QStringLiteral("netPrinter"), QStringLiteral("网络打印机: ")},
        {QStringLiteral("usbPrinter"), QStringLiteral("USB打印机")},
        {QStringLiteral("model"), QStringLiteral("型号: ")},
        {QStringLiteral("currentStatus"), QStringLiteral("当前状态码: ")},
        {QStringLiteral("error"), QStringLiteral("错误")},
        {QStringLiteral("noPrinterError"), QStringLiteral("没有找到打印机，请检查连接后刷新列表")},
        {QStringLiteral("tonerInfo"), QStringLiteral("碳粉余量")},
        {QStringLiteral("apMode"), QStringLiteral("热点模式")},
        {QStringLiteral("clientMode"), QStringLiteral("客户端模式")},
    };
    return table;
}

const Table& english()
{
    static const Table table{
        {QStringLiteral("statusMonitor"), QStringLiteral("Status Monitor")},
        {QStringLiteral("printerList"), QStringLiteral("Printers")},
        {QStringLiteral("Searching..."), QStringLiteral("Searching...")},
        {QStringLiteral("refresh"), QStringLiteral("Refresh")},
        {QStringLiteral("printerListFreshed"), QStringLiteral("The printer list has been refreshed.")},
        {QStringLiteral("ok"), QStringLiteral("OK")},
        {QStringLiteral("connecting"), QStringLiteral("Connecting")},
        {QStringLiteral("networkSetting"), QStringLiteral("Network settings")},
        {QStringLiteral("开机启动:"), QStringLiteral("Start at login:")},
        {QStringLiteral("netPrinter"), QStringLiteral("Network printer: ")},
        {QStringLiteral("usbPrinter"), QStringLiteral("USB printer")},
        {QStringLiteral("model"), QStringLiteral("Model: ")},
        {QStringLiteral("currentStatus"), QStringLiteral("Status code: ")},
        {QStringLiteral("error"), QStringLiteral("Error")},
        {QStringLiteral("noPrinterError"), QStringLiteral("No printer found. Check the connection and refresh the list.")},
        {QStringLiteral("tonerInfo"), QStringLiteral("Toner")},
        {QStringLiteral("apMode"), QStringLiteral("Access point")},
        {QStringLiteral("clientMode"), QStringLiteral("Join a network")},
    };
    return table;
}

}  // namespace

QString text(const QString& key)
{
    // Read each time: tests and the settings switch the default locale.
    const Table& table = QLocale().language() == QLocale::Chinese ? chinese() : english();
    return table.value(key, key);
}

}  // namespace vexo::ui
