#include "NetworkSettingView.h"

#include "APSettingView.h"
#include "Alert.h"
#include "ClientModeSettingView.h"
#include "NetworkModel.h"
#include "Strings.h"
#include "WifiCommands.h"

#include <memory>

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
    // A busy or silent printer fails all three reads; the user hears about
    // it once, from the first read that failed.
    auto told = std::make_shared<bool>(false);
    auto settle = [self, told](const AlertTriple& result) {
        if (!self)
            return;
        // The model raises its own alert for the answers the triple carries too.
        self->network_.setShowAlter(false);
        if (!result.show || *told)
            return;
        *told = true;
        // "Unreadable" would be false for a printer that said nothing at all.
        const AlertTriple shown = self->network_.lastExchangeAnswered() ? result : vexo::config::alert::noAnswer();
        vexo::ui::showAlert(self->alert_, self, shown.title, shown.text, QStringLiteral("OK"));
    };
    network_.getAPInfo([self, settle](const AlertTriple& result) {
        if (self)
            self->ap_->load();
        settle(result);
    });
    network_.getClientModeInfo([self, settle](const AlertTriple& result) {
        if (self)
            self->client_->load();
        settle(result);
    });
    network_.getHotSpotList([self, settle](const AlertTriple& result) {
        if (self)
            self->client_->loadHotSpots();
        settle(result);
    });
}
