#include "ui/LevelMeter.h"

#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QPainter>

#include <cmath>

namespace pealix {

LevelMeter::LevelMeter(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setObjectName(QStringLiteral("levelMeter"));
}

void LevelMeter::setLevel(float level)
{
    if (level == m_level)
        return;
    m_level = level;
    update();
}

int LevelMeter::fillWidth() const
{
    // The broadcaster keeps the level within 0..1; anything else must not
    // draw outside the track.
    const float level = std::isfinite(m_level) ? std::clamp(m_level, 0.0f, 1.0f) : 0.0f;
    return qMax(metrics::MeterMinimumFill, int(std::lround(width() * level)));
}

QSize LevelMeter::sizeHint() const
{
    return {100, metrics::MeterHeight};
}

void LevelMeter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal radius = height() / 2.0;
    const QColor secondary = style::tone(style::TextTone::Secondary, palette());
    painter.setBrush(style::withAlpha(secondary, 0.2));
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
    painter.setBrush(style::red(palette()));
    painter.drawRoundedRect(QRectF(0, 0, qMin(fillWidth(), width()), height()), radius, radius);
}

} // namespace pealix
