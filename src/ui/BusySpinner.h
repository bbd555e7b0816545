#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace pealix {

// A small spinning arc. It animates only while it is shown, so a hidden
// spinner never wakes the process.
class BusySpinner : public QWidget
{
    Q_OBJECT
public:
    explicit BusySpinner(QWidget *parent = nullptr);

    bool isAnimating() const { return m_timer.isActive(); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    QBasicTimer m_timer;
    int m_angle = 0;
};

} // namespace pealix
