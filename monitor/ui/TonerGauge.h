#pragma once

#include <QWidget>

// The toner ring: a faint full circle and over it an arc for the level,
// starting at the top, with the percentage in the middle.
class TonerGauge : public QWidget {
    Q_OBJECT

public:
    explicit TonerGauge(QWidget* parent = nullptr);

    qint64 toner() const { return toner_; }
    void setToner(qint64 percent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qint64 toner_ = 0;
};
