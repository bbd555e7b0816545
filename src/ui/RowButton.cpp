#include "ui/RowButton.h"

#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QPainter>

namespace pealix {

namespace {
constexpr int Padding = 4;
constexpr int GlyphGap = 8;
constexpr int Radius = 6;
} // namespace

RowButton::RowButton(Glyph glyph, IconTone tone, const QString &text, QWidget *parent)
    : QAbstractButton(parent), m_glyph(glyph), m_tone(tone)
{
    setText(text);
    setAccessibleName(text);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize RowButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int height = qMax(metrics::RowGlyphSize, metrics.height()) + Padding * 2;
    return {Padding * 2 + metrics::RowGlyphSize + GlyphGap + metrics.horizontalAdvance(text()), height};
}

void RowButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    if (isEnabled() && (m_hovered || isDown())) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(style::withAlpha(pal.color(QPalette::WindowText), isDown() ? 0.12 : 0.06));
        painter.drawRoundedRect(QRectF(rect()), Radius, Radius);
    }
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(style::accent(pal), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), Radius, Radius);
    }
    const qreal opacity = isEnabled() ? 1.0 : 0.45;
    painter.setOpacity(opacity);
    const QRectF glyph(Padding, (height() - metrics::RowGlyphSize) / 2.0, metrics::RowGlyphSize,
                       metrics::RowGlyphSize);
    paintGlyph(painter, glyph, m_glyph, iconColour(m_tone, pal));
    const int left = Padding + metrics::RowGlyphSize + GlyphGap;
    const QRect textBox(left, 0, width() - left - Padding, height());
    painter.setPen(pal.color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, textBox.width()));
}

void RowButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void RowButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace pealix
