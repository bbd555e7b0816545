#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QRect>

namespace pealix {

class PanelView;

// The top-level window around the panel: a frameless popup placed at the tray
// icon (or at the pointer when the tray gives no geometry), closing when the
// user clicks elsewhere; or, with no tray to anchor to, a small ordinary window.
class PanelWindow : public QFrame
{
    Q_OBJECT
public:
    explicit PanelWindow(PanelView *panel, QWidget *parent = nullptr);

    PanelView *panel() const { return m_panel; }

    // As a popup next to `anchor` (global coordinates); an empty anchor means
    // the pointer's position.
    void popUpAt(const QRect &anchor);
    // As an ordinary window, brought forward.
    void showAsWindow();
    bool isPopup() const { return windowFlags().testFlag(Qt::Popup); }

    // True right after a click on the anchor closed the popup, so the tray's
    // own handling of that click does not open it again at once.
    bool justClosedByAnchor() const;

    // Where a popup of `size` goes: centred on the anchor, below it when the
    // anchor is in the upper half of the screen and above it otherwise, kept
    // inside `available`.
    static QPoint popupPosition(const QSize &size, const QRect &anchor, const QRect &screen,
                                const QRect &available);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setMode(bool popup);

    PanelView *m_panel;
    QRect m_anchor;
    QElapsedTimer m_closedByAnchor;
};

} // namespace pealix
