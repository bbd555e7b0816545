#include "ui/UiStyle.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>

namespace pealix::style {

QFont font(TextFont role, const QFont &base)
{
    QFont result = base;
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    switch (role) {
    case TextFont::Body:
        break;
    case TextFont::Headline:
        result.setWeight(QFont::Bold);
        break;
    case TextFont::Title:
        result.setPointSizeF(size * 1.6);
        result.setWeight(QFont::Bold);
        break;
    case TextFont::Emphasis:
        result.setPointSizeF(size * 1.05);
        result.setWeight(QFont::DemiBold);
        break;
    case TextFont::Caption:
        result.setPointSizeF(size * 0.9);
        break;
    case TextFont::Caption2:
        result.setPointSizeF(size * 0.82);
        break;
    }
    return result;
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(float(alpha));
    return colour;
}

namespace {
QColor blend(const QColor &over, const QColor &under, qreal amount)
{
    const auto mix = [amount](float a, float b) { return float(a * amount + b * (1 - amount)); };
    return QColor::fromRgbF(mix(over.redF(), under.redF()), mix(over.greenF(), under.greenF()),
                            mix(over.blueF(), under.blueF()));
}
} // namespace

QColor tone(TextTone role, const QPalette &palette)
{
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    switch (role) {
    case TextTone::Primary:
        return text;
    case TextTone::Secondary:
        return blend(text, window, 0.68);
    case TextTone::Tertiary:
        return blend(text, window, 0.48);
    case TextTone::Error:
        return isDark(palette) ? QColor(0xff, 0x6b, 0x62) : QColor(0xc4, 0x1e, 0x1a);
    case TextTone::Link:
        return palette.color(QPalette::Link);
    }
    return text;
}

QColor red(const QPalette &palette)
{
    return isDark(palette) ? QColor(0xff, 0x45, 0x3a) : QColor(0xe5, 0x35, 0x2b);
}

QColor green(const QPalette &palette)
{
    return isDark(palette) ? QColor(0x30, 0xd1, 0x58) : QColor(0x1f, 0xa8, 0x48);
}

QColor accent(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QWidget *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

} // namespace pealix::style

namespace pealix {

StyledLabel::StyledLabel(style::TextFont font, style::TextTone tone, QWidget *parent)
    : StyledLabel(QString(), font, tone, parent)
{
}

StyledLabel::StyledLabel(const QString &text, style::TextFont font, style::TextTone tone, QWidget *parent)
    : QLabel(text, parent), m_font(font), m_tone(tone)
{
    apply();
}

void StyledLabel::setTone(style::TextTone tone)
{
    if (tone == m_tone)
        return;
    m_tone = tone;
    apply();
}

void StyledLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ApplicationFontChange)
        apply();
}

void StyledLabel::apply()
{
    // Derived from the application's palette and font, not our own: setting
    // ours would otherwise feed back into this handler.
    QPalette palette = QApplication::palette(this);
    const QColor colour = style::tone(m_tone, palette);
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    setPalette(palette);
    setFont(style::font(m_font, QApplication::font(this)));
}

} // namespace pealix
