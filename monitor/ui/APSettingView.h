#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

class NetworkModel;
class QComboBox;
class QLineEdit;
class QPushButton;
struct AlertTriple;

// The printer's own access point: name, encryption and password.
class APSettingView : public QWidget {
    Q_OBJECT

public:
    explicit APSettingView(NetworkModel& network, QWidget* parent = nullptr);

    // Fills the form from the settings last read from the printer.
    void load();
    void showResult(const AlertTriple& alert);
    QMessageBox* alert() const { return alert_; }

private:
    void submit();

    NetworkModel& network_;
    QLineEdit* apName_;
    QComboBox* encryptMode_;
    QLineEdit* apPassword_;
    QPushButton* ok_;
    QPushButton* cancel_;
    // Addresses are not in the form; they go back as read.
    QString ip_, mask_, gateway_;
    QPointer<QMessageBox> alert_;
};
