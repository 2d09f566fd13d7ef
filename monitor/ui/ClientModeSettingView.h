#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

class NetworkModel;
class QComboBox;
class QLineEdit;
class QPushButton;
struct AlertTriple;

// The network the printer joins: one of those it sees, its password and
// how the printer gets its address.
class ClientModeSettingView : public QWidget {
    Q_OBJECT

public:
    explicit ClientModeSettingView(NetworkModel& network, QWidget* parent = nullptr);

    // Fills the form from the settings and the scan last read from the printer.
    void load();
    void loadHotSpots();
    void showResult(const AlertTriple& alert);
    QMessageBox* alert() const { return alert_; }

private:
    void fillHotSpots(bool keepChoice);
    // The password stored for the network at `index`: empty unless it is
    // the configured one.
    QString storedPassword(int index) const;
    void selectionChanged(int index);
    void updateAddressFields();
    void submit();

    NetworkModel& network_;
    QComboBox* hotSpots_;
    QPushButton* refresh_;
    QLineEdit* wifiPassword_;
    QComboBox* ipSetType_;
    QLineEdit* ip_;
    QLineEdit* mask_;
    QLineEdit* gateway_;
    QPushButton* ok_;
    QPushButton* close_;
    bool loading_ = false;
    QPointer<QMessageBox> alert_;
};
