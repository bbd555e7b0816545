#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>

class QWidget;

namespace pealix {

// The roles the design names (headline, caption, secondary text, the status
// colours) derived from the desktop's font and palette, so light and dark
// desktops both read well.
namespace style {

enum class TextFont { Body, Headline, Title, Caption, Caption2, Emphasis };
enum class TextTone { Primary, Secondary, Tertiary, Error, Link };

QFont font(TextFont role, const QFont &base);
QColor tone(TextTone role, const QPalette &palette);

bool isDark(const QPalette &palette);
// Status tints: red while recording, green while broadcasting. They are not
// palette roles, so each comes in a light-desktop and a dark-desktop shade.
QColor red(const QPalette &palette);
QColor green(const QPalette &palette);
QColor accent(const QPalette &palette);
QColor withAlpha(QColor colour, qreal alpha);

// A thin line between sections, in the palette's own shade.
QWidget *divider(QWidget *parent = nullptr);

} // namespace style

// A label whose font and colour are design roles; it follows changes of the
// application's palette and font.
class StyledLabel : public QLabel
{
    Q_OBJECT
public:
    StyledLabel(style::TextFont font, style::TextTone tone, QWidget *parent = nullptr);
    StyledLabel(const QString &text, style::TextFont font, style::TextTone tone, QWidget *parent = nullptr);

    void setTone(style::TextTone tone);

protected:
    void changeEvent(QEvent *event) override;

private:
    void apply();

    style::TextFont m_font;
    style::TextTone m_tone;
};

} // namespace pealix
