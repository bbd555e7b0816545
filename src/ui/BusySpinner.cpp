#include "ui/BusySpinner.h"

#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QPainter>
#include <QTimerEvent>

namespace pealix {

namespace {
constexpr int FrameMilliseconds = 50;
constexpr int DegreesPerFrame = 30;
constexpr int ArcDegrees = 100;
} // namespace

BusySpinner::BusySpinner(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(metrics::SpinnerSize, metrics::SpinnerSize);
}

QSize BusySpinner::sizeHint() const
{
    return {metrics::SpinnerSize, metrics::SpinnerSize};
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = 2.0;
    const QRectF box = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.setPen(QPen(style::withAlpha(palette().color(QPalette::ButtonText), 0.18), pen));
    painter.drawEllipse(box);
    painter.setPen(QPen(palette().color(QPalette::ButtonText), pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -m_angle * 16, ArcDegrees * 16);
}

void BusySpinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start(FrameMilliseconds, this);
}

void BusySpinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void BusySpinner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QWidget::timerEvent(event);
    m_angle = (m_angle + DegreesPerFrame) % 360;
    update();
}

} // namespace pealix
