#pragma once

#include <QMessageBox>
#include <QPointer>

#include <functional>

namespace vexo::ui {

// A window-modal alert with one button; `closed` runs when it goes away.
// An alert already up under `slot` is replaced.
inline void showAlert(QPointer<QMessageBox>& slot, QWidget* parent, const QString& title, const QString& text,
                      const QString& button, std::function<void()> closed = {})
{
    if (slot)
        slot->close();
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    box->setObjectName(QStringLiteral("alert"));
    box->addButton(button, QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (closed)
        QObject::connect(box, &QMessageBox::finished, box, [closed = std::move(closed)] { closed(); });
    slot = box;
    box->open();
}

}  // namespace vexo::ui
