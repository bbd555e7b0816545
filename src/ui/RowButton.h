#pragma once

#include "ui/GlyphIcon.h"

#include <QAbstractButton>

namespace pealix {

// A borderless button spanning its row: a symbol, then its text, left-aligned,
// with a faint wash under the pointer.
class RowButton : public QAbstractButton
{
    Q_OBJECT
public:
    RowButton(Glyph glyph, IconTone tone, const QString &text, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    Glyph m_glyph;
    IconTone m_tone;
    bool m_hovered = false;
};

} // namespace pealix
