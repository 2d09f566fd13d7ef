#include "APSettingView.h"

#include "Alert.h"
#include "NetworkModel.h"
#include "WifiCommands.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

using namespace vexo::config;

APSettingView::APSettingView(NetworkModel& network, QWidget* parent)
    : QWidget(parent), network_(network), apName_(new QLineEdit(this)), encryptMode_(new QComboBox(this)),
      apPassword_(new QLineEdit(this)), ok_(new QPushButton(QStringLiteral("确定"), this)),
      cancel_(new QPushButton(QStringLiteral("取消"), this))
{
    apName_->setObjectName(QStringLiteral("apName"));
    apName_->setPlaceholderText(QStringLiteral("请输入打印机热点的名称"));
    encryptMode_->setObjectName(QStringLiteral("encryptMode"));
    encryptMode_->setAccessibleName(QStringLiteral("加密方式"));
    encryptMode_->addItem(QStringLiteral("不加密"), 0);
    encryptMode_->addItem(QStringLiteral("WAP2PSK_AES"), 1);
    apPassword_->setObjectName(QStringLiteral("apPassword"));
    apPassword_->setPlaceholderText(QStringLiteral("请输入打印机热点的密码"));
    ok_->setObjectName(QStringLiteral("apOk"));
    cancel_->setObjectName(QStringLiteral("apCancel"));
    for (QWidget* input : {static_cast<QWidget*>(apName_), static_cast<QWidget*>(encryptMode_),
                           static_cast<QWidget*>(apPassword_)})
        input->setFixedWidth(300);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("热点名称:"), apName_);
    form->addRow(QStringLiteral("加密方式:"), encryptMode_);
    form->addRow(QStringLiteral("热点密码:"), apPassword_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);
    column->addStretch();

    connect(ok_, &QPushButton::clicked, this, &APSettingView::submit);
    connect(cancel_, &QPushButton::clicked, this, [this] { network_.setShowNetworkSetting(false); });
    load();
}

void APSettingView::load()
{
    const APSetting& s = network_.apSetting();
    apName_->setText(s.APName);
    encryptMode_->setCurrentIndex(s.encryptMode == 0 ? 0 : 1);
    apPassword_->setText(s.APPassword);
    ip_ = s.ip;
    mask_ = s.mask;
    gateway_ = s.gateway;
}

void APSettingView::showResult(const AlertTriple& alert)
{
    if (alert.show)
        vexo::ui::showAlert(alert_, this, alert.title, alert.text, QStringLiteral("OK"));
}

void APSettingView::submit()
{
    const APForm form{apName_->text(), encryptMode_->currentData().toInt() == 1, apPassword_->text(), ip_, mask_,
                      gateway_};
    if (const auto refused = checkAPForm(form)) {
        showResult(*refused);
        return;
    }
    network_.setAPSetting(apSettingFromForm(form));
    QPointer<APSettingView> self(this);
    network_.setAPInfo([self](const AlertTriple& result) {
        if (self)
            self->showResult(result);
    });
}
