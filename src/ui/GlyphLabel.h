#pragma once

#include "ui/GlyphIcon.h"

#include <QWidget>

namespace pealix {

// A symbol on its own, painted at a fixed size in a palette tone.
class GlyphLabel : public QWidget
{
    Q_OBJECT
public:
    GlyphLabel(Glyph glyph, IconTone tone, int pixelSize, QWidget *parent = nullptr);

    void setGlyph(Glyph glyph, IconTone tone);
    Glyph glyph() const { return m_glyph; }
    IconTone tone() const { return m_tone; }

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Glyph m_glyph;
    IconTone m_tone;
    int m_size;
};

// A rounded surface in the palette's base colour that groups rows, the way an
// inset list does.
class Card : public QWidget
{
    Q_OBJECT
public:
    explicit Card(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace pealix
