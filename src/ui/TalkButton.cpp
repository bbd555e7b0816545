#include "ui/TalkButton.h"

#include "ui/LevelMeter.h"
#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextLayout>

namespace pealix {

using namespace metrics;

namespace {
QFont titleFont(const QWidget *widget)
{
    return style::font(style::TextFont::Emphasis, widget->font());
}
QFont subtitleFont(const QWidget *widget)
{
    return style::font(style::TextFont::Caption, widget->font());
}
} // namespace

TalkButton::TalkButton(QWidget *parent) : QAbstractButton(parent), m_meter(new LevelMeter(this))
{
    setObjectName(QStringLiteral("talkButton"));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    m_meter->hide();
}

void TalkButton::setContent(Glyph glyph, IconTone tint, const QString &title, const QString &subtitle)
{
    if (glyph == m_glyph && tint == m_tint && title == m_title && subtitle == m_subtitle)
        return;
    const bool textChanged = title != m_title || subtitle != m_subtitle;
    m_glyph = glyph;
    m_tint = tint;
    m_title = title;
    m_subtitle = subtitle;
    setText(title);
    setAccessibleName(title);
    setAccessibleDescription(subtitle);
    if (textChanged)
        updateGeometry();
    update();
}

QSize TalkButton::sizeHint() const
{
    const QFontMetrics titleMetrics(titleFont(this));
    const QFontMetrics subtitleMetrics(subtitleFont(this));
    const int textWidth =
        qMax(titleMetrics.horizontalAdvance(m_title), subtitleMetrics.horizontalAdvance(m_subtitle));
    const int width = TalkPadding * 2 + TalkCircle + TalkSpacing + textWidth + TalkPadding;
    return {width, heightForWidth(width)};
}

QSize TalkButton::minimumSizeHint() const
{
    return {TalkPadding * 2 + TalkCircle + TalkSpacing + 120, TalkPadding * 2 + TalkCircle};
}

int TalkButton::heightForWidth(int width) const
{
    // The subtitle may wrap on a narrow panel; the title never does.
    const int textWidth = qMax(1, width - TalkPadding * 2 - TalkCircle - TalkSpacing);
    const QFontMetrics titleMetrics(titleFont(this));
    const QFontMetrics subtitleMetrics(subtitleFont(this));
    const QRect subtitle =
        subtitleMetrics.boundingRect(QRect(0, 0, textWidth, 10000), Qt::TextWordWrap, m_subtitle);
    const int text = titleMetrics.height() + TalkTextSpacing + subtitle.height();
    return TalkPadding * 2 + qMax(TalkCircle, text);
}

QRect TalkButton::textRect() const
{
    const int left = TalkPadding + TalkCircle + TalkSpacing;
    return QRect(left, TalkPadding, width() - left - TalkPadding, height() - TalkPadding * 2);
}

void TalkButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // While broadcasting the button is off, yet what it says is the news:
    // the text keeps the active colours and only the whole fades a little.
    QPalette pal = palette();
    pal.setCurrentColorGroup(QPalette::Active);
    if (!isEnabled())
        painter.setOpacity(0.75);

    // Background: the text colour, faint, a little stronger under the pointer
    // and while pressed.
    qreal wash = 0.05;
    if (isEnabled() && isDown())
        wash = 0.12;
    else if (isEnabled() && m_hovered)
        wash = 0.08;
    const QRectF background = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::withAlpha(pal.color(QPalette::WindowText), wash));
    painter.drawRoundedRect(background, TalkCornerRadius, TalkCornerRadius);
    // The ring marks keyboard focus only, as the desktop's own buttons do.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(style::accent(pal), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(background.adjusted(1, 1, -1, -1), TalkCornerRadius - 1,
                                TalkCornerRadius - 1);
    }

    // The circle, vertically centred.
    const QColor tint = iconColour(m_tint, pal);
    const QRectF circle(TalkPadding, (height() - TalkCircle) / 2.0, TalkCircle, TalkCircle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::withAlpha(tint, 0.18));
    painter.drawEllipse(circle);
    const qreal glyphInset = (TalkCircle - TalkGlyphSize) / 2.0;
    paintGlyph(painter, circle.adjusted(glyphInset, glyphInset, -glyphInset, -glyphInset), m_glyph, tint);

    // Title and subtitle, as a block centred beside the circle.
    const QRect text = textRect();
    const QFont title = titleFont(this);
    const QFont subtitle = subtitleFont(this);
    const QFontMetrics titleMetrics(title);
    const QRect subtitleBox =
        QFontMetrics(subtitle).boundingRect(QRect(0, 0, text.width(), 10000), Qt::TextWordWrap, m_subtitle);
    const int blockHeight = titleMetrics.height() + TalkTextSpacing + subtitleBox.height();
    const int top = text.top() + (text.height() - blockHeight) / 2;
    painter.setPen(pal.color(QPalette::WindowText));
    painter.setFont(title);
    painter.drawText(QRect(text.left(), top, text.width(), titleMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(m_title, Qt::ElideRight, text.width()));
    painter.setPen(style::tone(style::TextTone::Secondary, pal));
    painter.setFont(subtitle);
    painter.drawText(
        QRect(text.left(), top + titleMetrics.height() + TalkTextSpacing, text.width(), subtitleBox.height()),
        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_subtitle);
}

void TalkButton::resizeEvent(QResizeEvent *event)
{
    QAbstractButton::resizeEvent(event);
    placeMeter();
}

void TalkButton::placeMeter()
{
    m_meter->setGeometry(MeterInset, height() - MeterHeight - MeterLift, qMax(0, width() - MeterInset * 2),
                         MeterHeight);
}

void TalkButton::changeEvent(QEvent *event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange)
        updateGeometry();
}

void TalkButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TalkButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace pealix
