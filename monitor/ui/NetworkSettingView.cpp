#include "NetworkSettingView.h"

#include "APSettingView.h"
#include "ClientModeSettingView.h"
#include "NetworkModel.h"
#include "Strings.h"

#include <QPointer>

NetworkSettingView::NetworkSettingView(NetworkModel& network, QWidget* parent)
    : QTabWidget(parent), network_(network), ap_(new APSettingView(network, this)),
      client_(new ClientModeSettingView(network, this))
{
    addTab(ap_, vexo::ui::text(QStringLiteral("apMode")));
    addTab(client_, vexo::ui::text(QStringLiteral("clientMode")));
}

void NetworkSettingView::readFromPrinter()
{
    QPointer<NetworkSettingView> self(this);
    // The model raises its own alert for the answers the triple carries too.
    auto shown = [this] { network_.setShowAlter(false); };
    network_.getAPInfo([self, shown](const AlertTriple& result) {
        if (!self)
            return;
        shown();
        self->ap_->load();
        self->ap_->showResult(result);
    });
    network_.getClientModeInfo([self, shown](const AlertTriple& result) {
        if (!self)
            return;
        shown();
        self->client_->load();
        self->client_->showResult(result);
    });
    network_.getHotSpotList([self, shown](const AlertTriple& result) {
        if (!self)
            return;
        shown();
        self->client_->loadHotSpots();
        self->client_->showResult(result);
    });
}
