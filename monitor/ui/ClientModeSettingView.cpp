#include "ClientModeSettingView.h"

#include "Alert.h"
#include "NetworkModel.h"
#include "Pictures.h"
#include "Strings.h"
#include "WifiCommands.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

using namespace vexo::config;

ClientModeSettingView::ClientModeSettingView(NetworkModel& network, QWidget* parent)
    : QWidget(parent), network_(network), hotSpots_(new QComboBox(this)),
      refresh_(new QPushButton(vexo::ui::text(QStringLiteral("refresh")), this)), wifiPassword_(new QLineEdit(this)),
      ipSetType_(new QComboBox(this)), ip_(new QLineEdit(this)), mask_(new QLineEdit(this)),
      gateway_(new QLineEdit(this)), ok_(new QPushButton(QStringLiteral("确定"), this)),
      close_(new QPushButton(QStringLiteral("关闭"), this))
{
    hotSpots_->setObjectName(QStringLiteral("hotSpots"));
    refresh_->setObjectName(QStringLiteral("hotSpotRefresh"));
    wifiPassword_->setObjectName(QStringLiteral("wifiPassword"));
    wifiPassword_->setEchoMode(QLineEdit::Password);
    wifiPassword_->setPlaceholderText(QStringLiteral("请输入密码"));
    ipSetType_->setObjectName(QStringLiteral("ipSetType"));
    ipSetType_->addItem(QStringLiteral("DHCP"), 0);
    ipSetType_->addItem(QStringLiteral("手动设置"), 1);
    ip_->setObjectName(QStringLiteral("ip"));
    ip_->setPlaceholderText(QStringLiteral("请输入IP地址"));
    mask_->setObjectName(QStringLiteral("mask"));
    mask_->setPlaceholderText(QStringLiteral("请输入子网掩码"));
    gateway_->setObjectName(QStringLiteral("gateway"));
    gateway_->setPlaceholderText(QStringLiteral("请输入网关"));
    ok_->setObjectName(QStringLiteral("clientOk"));
    close_->setObjectName(QStringLiteral("clientClose"));
    for (QWidget* input : {static_cast<QWidget*>(hotSpots_), static_cast<QWidget*>(wifiPassword_),
                           static_cast<QWidget*>(ipSetType_), static_cast<QWidget*>(ip_),
                           static_cast<QWidget*>(mask_), static_cast<QWidget*>(gateway_)})
        input->setFixedWidth(300);

    auto* hotSpotRow = new QHBoxLayout;
    hotSpotRow->addWidget(hotSpots_);
    hotSpotRow->addWidget(refresh_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("可选择的热点"), hotSpotRow);
    form->addRow(QStringLiteral("热点密码:"), wifiPassword_);
    form->addRow(QStringLiteral("IP获取方式:"), ipSetType_);
    form->addRow(QStringLiteral("IP:"), ip_);
    form->addRow(QStringLiteral("子网掩码:"), mask_);
    form->addRow(QStringLiteral("网关:"), gateway_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(close_);
    buttons->addStretch();
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);
    column->addStretch();

    connect(hotSpots_, &QComboBox::currentIndexChanged, this, &ClientModeSettingView::selectionChanged);
    connect(ipSetType_, &QComboBox::currentIndexChanged, this, &ClientModeSettingView::updateAddressFields);
    connect(refresh_, &QPushButton::clicked, this, [this] {
        QPointer<ClientModeSettingView> self(this);
        network_.getHotSpotList([self](const AlertTriple& result) {
            if (!self)
                return;
            self->loadHotSpots();
            self->showResult(result);
        });
    });
    connect(ok_, &QPushButton::clicked, this, &ClientModeSettingView::submit);
    connect(close_, &QPushButton::clicked, this, [this] { network_.setShowNetworkSetting(false); });
    load();
}

void ClientModeSettingView::load()
{
    const ClietModeSetting& s = network_.clietModeSetting();
    fillHotSpots(false);
    const bool dhcp = s.ipSetType == u"D" || s.ipSetType.compare(u"DHCP", Qt::CaseInsensitive) == 0;
    ipSetType_->setCurrentIndex(dhcp ? 0 : 1);
    ip_->setText(s.ip);
    mask_->setText(s.mask);
    gateway_->setText(s.gateway);
    updateAddressFields();
}

void ClientModeSettingView::loadHotSpots() { fillHotSpots(true); }

void ClientModeSettingView::fillHotSpots(bool keepChoice)
{
    // A network the user picked stays picked across a new scan, with what
    // was typed for it.
    const QString shownBefore = hotSpots_->currentIndex() >= 0 ? hotSpots_->currentText() : QString();
    const QString typed = wifiPassword_->text();

    loading_ = true;
    hotSpots_->clear();
    const QList<HotSpot>& list = network_.hotSpotList();
    for (const HotSpot& h : list)
        hotSpots_->addItem(vexo::ui::signalIcon(h.signalDB), h.name, vexo::ui::signalIconName(h.signalDB));
    const int order = network_.clietModeSetting().orderInList;
    const int kept = keepChoice && !shownBefore.isNull() ? hotSpots_->findText(shownBefore, Qt::MatchExactly) : -1;
    hotSpots_->setCurrentIndex(kept >= 0 ? kept : order >= 0 && order < list.size() ? order : 0);
    ok_->setEnabled(!list.isEmpty());
    loading_ = false;

    // The scan may have cleared the stored password or moved the choice to
    // another network: the box never keeps a password the shown network
    // does not own.
    wifiPassword_->setText(kept >= 0 ? typed : storedPassword(hotSpots_->currentIndex()));
}

QString ClientModeSettingView::storedPassword(int index) const
{
    const ClietModeSetting& s = network_.clietModeSetting();
    const QList<HotSpot>& list = network_.hotSpotList();
    const bool configured = index >= 0 && index < list.size() && list[index].name == s.WifiName;
    return configured ? s.WifiPassword : QString();
}

void ClientModeSettingView::selectionChanged(int index)
{
    if (loading_ || index < 0)
        return;
    wifiPassword_->setText(storedPassword(index));
}

void ClientModeSettingView::updateAddressFields()
{
    const bool manual = ipSetType_->currentIndex() == 1;
    ip_->setEnabled(manual);
    mask_->setEnabled(manual);
    gateway_->setEnabled(manual);
}

void ClientModeSettingView::showResult(const AlertTriple& alert)
{
    if (alert.show)
        vexo::ui::showAlert(alert_, this, alert.title, alert.text, QStringLiteral("OK"));
}

void ClientModeSettingView::submit()
{
    if (network_.hotSpotList().isEmpty())
        return;
    const ClientModeForm form{ipSetType_->currentIndex() == 1, ip_->text(),           mask_->text(),
                              gateway_->text(),                wifiPassword_->text(), hotSpots_->currentIndex()};
    if (const auto refused = checkClientModeForm(form)) {
        showResult(*refused);
        return;
    }
    network_.setClietModeSetting(clientModeSettingFromForm(network_.clietModeSetting(), form));
    QPointer<ClientModeSettingView> self(this);
    network_.setClientModeInfo([self](const AlertTriple& result) {
        if (self)
            self->showResult(result);
    });
}
