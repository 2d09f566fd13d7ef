#pragma once

#include <QString>

namespace vexo::ui {

// The window's words by localisation key, in Chinese or English after the
// system language. A key with no entry is shown as the key itself.
QString text(const QString& key);

}  // namespace vexo::ui
