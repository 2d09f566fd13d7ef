#include "ContentView.h"

#include "Alert.h"
#include "AppAutoStartUtils.h"
#include "NetworkModel.h"
#include "NetworkSettingView.h"
#include "Pictures.h"
#include "PrinterModel.h"
#include "Strings.h"
#include "TonerGauge.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

using vexo::ui::text;

namespace {

QFont pointFont(int points, bool bold = false)
{
    QFont font;
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

QFrame* divider(QFrame::Shape shape, QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString levelColour(qint64 level)
{
    if (level == 1)
        return QStringLiteral("black");
    if (level == 2)
        return QStringLiteral("orange");
    return QStringLiteral("red");
}

}  // namespace

ContentView::ContentView(PrinterModel& printers, NetworkModel& network, StartAtLogin& startup, QWidget* parent)
    : QWidget(parent), printers_(printers), network_(network), startup_(startup)
{
    startup_.firstStart();

    setWindowTitle(text(QStringLiteral("statusMonitor")));
    setWindowIcon(vexo::ui::appIcon());

    // Printer list column.
    auto* column = new QWidget(this);
    column->setMinimumWidth(200);
    column->setMaximumWidth(256);
    auto* icon = new QLabel(column);
    icon->setPixmap(vexo::ui::appIcon().pixmap(40, 40));
    icon->setContentsMargins(0, 1, 5, 0);
    listTitle_ = new QLabel(column);
    listTitle_->setObjectName(QStringLiteral("listTitle"));
    listTitle_->setFont(pointFont(17, true));
    refresh_ = new QToolButton(column);
    refresh_->setObjectName(QStringLiteral("refresh"));
    refresh_->setAutoRaise(true);
    refresh_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    refresh_->setToolTip(text(QStringLiteral("refresh")));
    auto* header = new QHBoxLayout;
    header->addWidget(icon);
    header->addWidget(listTitle_);
    header->addWidget(refresh_);
    header->addStretch();
    list_ = new QListWidget(column);
    list_->setObjectName(QStringLiteral("printerList"));
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->addLayout(header);
    columnLayout->addWidget(list_);

    // Status panel body.
    auto* body = new QWidget(this);
    name_ = new QLabel(body);
    name_->setObjectName(QStringLiteral("printerName"));
    name_->setFont(pointFont(24));
    networkSetting_ = new QPushButton(text(QStringLiteral("networkSetting")), body);
    networkSetting_->setObjectName(QStringLiteral("networkSetting"));
    networkSetting_->setFlat(true);
    networkSetting_->setFont(pointFont(14));
    // 100 wide, or wider when a translation needs it: a cut label says nothing.
    networkSetting_->setMinimumWidth(100);
    auto* headerRow = new QHBoxLayout;
    headerRow->addWidget(name_);
    headerRow->addStretch();
    headerRow->addWidget(networkSetting_);

    startupSwitch_ = new QCheckBox(text(QStringLiteral("开机启动:")), body);
    startupSwitch_->setObjectName(QStringLiteral("startup"));
    startupSwitch_->setFont(pointFont(13));
    startupSwitch_->setLayoutDirection(Qt::RightToLeft);
    startupSwitch_->setChecked(startup_.startup());

    picture_ = new QLabel(body);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setFixedSize(200, 180);
    picture_->setScaledContents(true);
    connection_ = new QLabel(body);
    connection_->setObjectName(QStringLiteral("connection"));
    auto* pictureColumn = new QVBoxLayout;
    pictureColumn->addWidget(picture_);
    pictureColumn->addWidget(connection_);

    model_ = new QLabel(body);
    model_->setObjectName(QStringLiteral("model"));
    message_ = new QLabel(body);
    message_->setObjectName(QStringLiteral("message"));
    message_->setFont(pointFont(26));
    message_->setWordWrap(true);
    advice_ = new QLabel(body);
    advice_->setObjectName(QStringLiteral("advice"));
    advice_->setFont(pointFont(13, true));
    advice_->setWordWrap(true);
    code_ = new QLabel(body);
    code_->setObjectName(QStringLiteral("code"));

    tonerBox_ = new QWidget(body);
    tonerBox_->setObjectName(QStringLiteral("toner"));
    auto* tonerTitle = new QLabel(text(QStringLiteral("tonerInfo")), tonerBox_);
    gauge_ = new TonerGauge(tonerBox_);
    gauge_->setObjectName(QStringLiteral("gauge"));
    auto* tonerLayout = new QVBoxLayout(tonerBox_);
    tonerLayout->setContentsMargins(0, 0, 0, 0);
    tonerLayout->addWidget(tonerTitle);
    tonerLayout->addWidget(gauge_);

    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->addLayout(headerRow);
    bodyLayout->addWidget(startupSwitch_, 0, Qt::AlignLeft);
    bodyLayout->addLayout(pictureColumn);
    bodyLayout->addWidget(model_);
    bodyLayout->addWidget(message_);
    bodyLayout->addWidget(advice_);
    bodyLayout->addWidget(divider(QFrame::HLine, body));
    bodyLayout->addWidget(code_);
    bodyLayout->addWidget(tonerBox_);
    bodyLayout->addStretch();

    settings_ = new NetworkSettingView(network_, this);
    settings_->setObjectName(QStringLiteral("networkSettingView"));
    panel_ = new QStackedWidget(this);
    panel_->setObjectName(QStringLiteral("panel"));
    panel_->addWidget(body);
    panel_->addWidget(settings_);

    auto* root = new QHBoxLayout(this);
    root->addWidget(column);
    root->addWidget(divider(QFrame::VLine, this));
    root->addWidget(panel_, 1);
    resize(760, 620);

    connect(refresh_, &QToolButton::clicked, this, &ContentView::refresh);
    connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const QList<Printer> list = printers_.printerList();
        const int row = list_->row(item);
        if (row < 0 || row >= list.size())
            return;
        printers_.clickPrinter(list[row]);
        network_.setShowNetworkSetting(false);
    });
    connect(networkSetting_, &QPushButton::clicked, this, &ContentView::openNetworkSetting);
    connect(startupSwitch_, &QCheckBox::toggled, this, [this](bool on) { startup_.change(on); });

    for (auto changed : {&PrinterModel::printerListChanged, &PrinterModel::selectedPrinterChanged})
        connect(&printers_, changed, this, &ContentView::renderList);
    for (auto changed : {&PrinterModel::selectedPrinterChanged, &PrinterModel::statusInfoChanged,
                         &PrinterModel::isSearchingPrinterChanged})
        connect(&printers_, changed, this, &ContentView::render);
    for (auto changed : {&PrinterModel::showNoPrinterAlterChanged, &PrinterModel::showRefreshAlterChanged})
        connect(&printers_, changed, this, &ContentView::syncAlerts);
    connect(&network_, &NetworkModel::showNetworkSettingChanged, this, &ContentView::render);

    renderList();
    render();
    syncAlerts();
}

void ContentView::refresh()
{
    network_.setShowNetworkSetting(false);
    printers_.refresh();
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    syncAlerts();
}

void ContentView::renderList()
{
    const QList<Printer> list = printers_.printerList();
    const Printer selected = printers_.selectedPrinter();
    list_->clear();
    for (const Printer& p : list) {
        auto* item = new QListWidgetItem(p.label, list_);
        item->setFont(pointFont(p.ip.isEmpty() ? 15 : 12));
        if (p == selected) {
            item->setBackground(QColor(0x0a, 0x84, 0xff));
            item->setForeground(Qt::white);
        }
    }
}

void ContentView::render()
{
    const bool searching = printers_.isSearchingPrinter();
    listTitle_->setText(text(searching ? QStringLiteral("Searching...") : QStringLiteral("printerList")));
    refresh_->setHidden(searching);

    const Printer p = printers_.selectedPrinter();
    const StatusInfo s = printers_.statusInfo();
    name_->setText(p.name);
    networkSetting_->setVisible(p.type == u"USB" && p.hasWifi == 1);
    const QPixmap picture = vexo::ui::productPicture(p.productImage);
    if (picture.isNull())
        picture_->clear();
    else
        picture_->setPixmap(picture);
    if (p.type == u"Net")
        connection_->setText(text(QStringLiteral("netPrinter")) + p.ip);
    else if (p.type == u"USB")
        connection_->setText(text(QStringLiteral("usbPrinter")));
    else
        connection_->clear();
    model_->setText(text(QStringLiteral("model")) + p.name);

    const QString colour = QStringLiteral("color: %1").arg(levelColour(s.level));
    // The connecting message may be a key; table texts have no entry and stay as they are.
    message_->setText(text(s.message));
    message_->setStyleSheet(colour);
    advice_->setText(s.discription);
    advice_->setStyleSheet(colour);
    code_->setText(text(QStringLiteral("currentStatus")) + QString::asprintf("%04lld", static_cast<long long>(s.code)));
    tonerBox_->setVisible(p.hasTonerInfo == 1);
    gauge_->setToner(s.toner);

    panel_->setCurrentIndex(network_.showNetworkSetting() ? 1 : 0);
}

void ContentView::syncAlerts()
{
    // In the tray the window is hidden: its alerts wait until it is opened.
    if (!isVisible())
        return;
    if (printers_.showRefreshAlter() && !refreshAlert_) {
        vexo::ui::showAlert(refreshAlert_, this, text(QStringLiteral("refresh")),
                            text(QStringLiteral("printerListFreshed")), text(QStringLiteral("ok")),
                            [this] { printers_.setShowRefreshAlter(false); });
    } else if (!printers_.showRefreshAlter() && refreshAlert_) {
        refreshAlert_->close();
    }
    if (printers_.showNoPrinterAlter() && !noPrinterAlert_) {
        vexo::ui::showAlert(noPrinterAlert_, this, text(QStringLiteral("error")),
                            text(QStringLiteral("noPrinterError")), text(QStringLiteral("ok")),
                            [this] { printers_.setShowNoPrinterAlter(false); });
    } else if (!printers_.showNoPrinterAlter() && noPrinterAlert_) {
        noPrinterAlert_->close();
    }
}

void ContentView::openNetworkSetting()
{
    settings_->readFromPrinter();
    network_.setShowNetworkSetting(true);
}
