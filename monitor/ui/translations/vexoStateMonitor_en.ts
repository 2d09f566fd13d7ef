<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en">
<context>
    <name>vexo::ui</name>
    <message>
        <source>statusMonitor</source>
        <translation>Status Monitor</translation>
    </message>
    <message>
        <source>printerList</source>
        <translation>Printers</translation>
    </message>
    <message>
        <source>Searching...</source>
        <translation>Searching...</translation>
    </message>
    <message>
        <source>refresh</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>printerListFreshed</source>
        <translation>The printer list has been refreshed.</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>connecting</source>
        <translation>Connecting</translation>
    </message>
    <message>
        <source>networkSetting</source>
        <translation>Network settings</translation>
    </message>
    <message>
        <source>开机启动:</source>
        <translation>Start at login:</translation>
    </message>
    <message>
        <source>netPrinter</source>
        <translation>Network printer: </translation>
    </message>
    <message>
        <source>usbPrinter</source>
        <translation>USB printer</translation>
    </message>
    <message>
        <source>model</source>
        <translation>Model: </translation>
    </message>
    <message>
        <source>currentStatus</source>
        <translation>Status code: </translation>
    </message>
    <message>
        <source>error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>noPrinterError</source>
        <translation>No printer found. Check the connection and refresh the list.</translation>
    </message>
    <message>
        <source>tonerInfo</source>
        <translation>Toner</translation>
    </message>
    <message>
        <source>apMode</source>
        <translation>Access point</translation>
    </message>
    <message>
        <source>clientMode</source>
        <translation>Join a network</translation>
    </message>
    <message>
        <source>openWindow</source>
        <translation>Open Status Monitor</translation>
    </message>
    <message>
        <source>notifications</source>
        <translation>Notifications</translation>
    </message>
    <message>
        <source>quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>noPrinterSelected</source>
        <translation>No printer</translation>
    </message>
    <message>
        <source>printerRecovered</source>
        <translation>The printer is ready again.</translation>
    </message>
    <message>
        <source>tonerLow</source>
        <translation>Toner low: %1% left.</translation>
    </message>
</context>
</TS>
