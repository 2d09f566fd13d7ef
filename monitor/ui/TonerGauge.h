#pragma once

#include <QWidget>

#include <optional>

// The toner ring: a faint full circle and over it an arc for the level,
// starting at the top, with the percentage in the middle. An unknown level
// shows the faint circle alone and "--": never a level nobody read.
class TonerGauge : public QWidget {
    Q_OBJECT

public:
    explicit TonerGauge(QWidget* parent = nullptr);

    std::optional<qint64> toner() const { return toner_; }
    void setToner(std::optional<qint64> percent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<qint64> toner_;
};
