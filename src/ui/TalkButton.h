#pragma once

#include "ui/GlyphIcon.h"

#include <QAbstractButton>

namespace pealix {

class LevelMeter;

// The panel's talk button: a tinted circle with the state's symbol, a title
// and a subtitle on a softly rounded background, and, while recording, the
// level meter over its bottom edge. It shows what it is told; the panel
// decides every text and colour.
class TalkButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TalkButton(QWidget *parent = nullptr);

    void setContent(Glyph glyph, IconTone tint, const QString &title, const QString &subtitle);
    QString title() const { return m_title; }
    QString subtitle() const { return m_subtitle; }
    IconTone tint() const { return m_tint; }
    Glyph glyph() const { return m_glyph; }

    LevelMeter *meter() const { return m_meter; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QRect textRect() const;
    void placeMeter();

    Glyph m_glyph = Glyph::Mic;
    IconTone m_tint = IconTone::Accent;
    QString m_title;
    QString m_subtitle;
    bool m_hovered = false;
    LevelMeter *m_meter;
};

} // namespace pealix
