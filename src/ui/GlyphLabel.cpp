#include "ui/GlyphLabel.h"

#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QPainter>

namespace pealix {

GlyphLabel::GlyphLabel(Glyph glyph, IconTone tone, int pixelSize, QWidget *parent)
    : QWidget(parent), m_glyph(glyph), m_tone(tone), m_size(pixelSize)
{
    setFixedSize(pixelSize, pixelSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GlyphLabel::setGlyph(Glyph glyph, IconTone tone)
{
    if (glyph == m_glyph && tone == m_tone)
        return;
    m_glyph = glyph;
    m_tone = tone;
    update();
}

void GlyphLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor colour = iconColour(m_tone, palette());
    if (!isEnabled())
        colour = style::withAlpha(colour, 0.38);
    paintGlyph(painter, rect(), m_glyph, colour);
}

Card::Card(QWidget *parent) : QWidget(parent) {}

void Card::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(style::withAlpha(palette().color(QPalette::WindowText), 0.12), 1));
    // On a dark desktop the base colour is darker than the window, and check
    // boxes (filled with it) would vanish on it: lift the card instead.
    const QPalette &pal = palette();
    painter.setBrush(style::isDark(pal) ? pal.color(QPalette::Window).lighter(125)
                                        : pal.color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), metrics::ListCornerRadius,
                            metrics::ListCornerRadius);
}

} // namespace pealix
