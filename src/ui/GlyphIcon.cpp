#include "ui/GlyphIcon.h"

#include "ui/UiStyle.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace pealix {

namespace {

const QString GlyphFamily = QStringLiteral("Material Icons");
// Where Debian puts the font, for a session whose font configuration has not
// picked it up (a freshly installed package, a minimal container).
const QString GlyphFontFile =
    QStringLiteral("/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf");

const QString &family()
{
    static const QString name = [] {
        if (QFontDatabase::families().contains(GlyphFamily))
            return GlyphFamily;
        const int id = QFontDatabase::addApplicationFont(GlyphFontFile);
        const QStringList added = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
        return added.isEmpty() ? GlyphFamily : added.first();
    }();
    return name;
}

QString text(Glyph glyph)
{
    return QString(QChar(char16_t(glyph)));
}

// Paints a glyph in the tone's colour of the palette current at paint time.
class GlyphIconEngine : public QIconEngine
{
public:
    GlyphIconEngine(Glyph glyph, IconTone tone) : m_glyph(glyph), m_tone(tone) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette palette = QGuiApplication::palette();
        QColor colour = iconColour(m_tone, palette);
        if (mode == QIcon::Disabled)
            colour = style::withAlpha(colour, 0.38);
        paintGlyph(*painter, rect, m_glyph, colour);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            paint(&painter, QRect(QPoint(0, 0), size * scale), mode, state);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QIconEngine *clone() const override { return new GlyphIconEngine(m_glyph, m_tone); }
    QString key() const override { return QStringLiteral("pealix-glyph"); }

private:
    Glyph m_glyph;
    IconTone m_tone;
};

class TrayIconEngine : public QIconEngine
{
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        const QPalette palette = QGuiApplication::palette();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal side = qMin(rect.width(), rect.height());
        const QRectF disc(rect.x() + (rect.width() - side) / 2.0 + 0.5,
                          rect.y() + (rect.height() - side) / 2.0 + 0.5, side - 1, side - 1);
        painter->setPen(Qt::NoPen);
        painter->setBrush(style::accent(palette));
        painter->drawEllipse(disc);
        const qreal inset = side * 0.18;
        paintGlyph(*painter, disc.adjusted(inset, inset, -inset, -inset), Glyph::Megaphone,
                   palette.color(QPalette::HighlightedText));
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QIconEngine *clone() const override { return new TrayIconEngine; }
    QString key() const override { return QStringLiteral("pealix-tray"); }
};

} // namespace

QFont glyphFont(int pixelSize)
{
    QFont font(family());
    font.setPixelSize(qMax(1, pixelSize));
    font.setStyleStrategy(QFont::NoFontMerging);
    return font;
}

bool glyphAvailable(Glyph glyph)
{
    const QFont font = glyphFont(24);
    return QFontInfo(font).family() == family() && QFontMetrics(font).inFont(QChar(char16_t(glyph)));
}

QColor iconColour(IconTone tone, const QPalette &palette)
{
    switch (tone) {
    case IconTone::Text:
        return palette.color(QPalette::WindowText);
    case IconTone::Secondary:
        return style::tone(style::TextTone::Secondary, palette);
    case IconTone::Accent:
        return style::accent(palette);
    case IconTone::Red:
    case IconTone::Destructive:
        return style::red(palette);
    case IconTone::Green:
        return style::green(palette);
    }
    return palette.color(QPalette::WindowText);
}

void paintGlyph(QPainter &painter, const QRectF &rect, Glyph glyph, const QColor &colour)
{
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Material symbols fill their em square: the pixel size is the side.
    painter.setFont(glyphFont(int(qMin(rect.width(), rect.height()))));
    painter.setPen(colour);
    painter.drawText(rect, Qt::AlignCenter, text(glyph));
    painter.restore();
}

QIcon glyphIcon(Glyph glyph, IconTone tone)
{
    return QIcon(new GlyphIconEngine(glyph, tone));
}

QIcon trayIcon()
{
    return QIcon(new TrayIconEngine);
}

} // namespace pealix
