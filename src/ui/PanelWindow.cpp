#include "ui/PanelWindow.h"

#include "ui/GlyphIcon.h"
#include "ui/PanelView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace pealix {

namespace {
constexpr int AnchorGap = 4;
// A click on the tray icon that closes the popup reaches the tray right after.
constexpr int ReopenGuardMs = 300;
} // namespace

PanelWindow::PanelWindow(PanelView *panel, QWidget *parent) : QFrame(parent), m_panel(panel)
{
    setObjectName(QStringLiteral("panelWindow"));
    setWindowTitle(QStringLiteral("Pealix"));
    setWindowIcon(trayIcon());
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Plain);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(panel);
}

void PanelWindow::setMode(bool popup)
{
    const Qt::WindowFlags flags = popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window;
    if (windowFlags() != flags) {
        const bool wasVisible = isVisible();
        setWindowFlags(flags);
        setFrameShape(popup ? QFrame::StyledPanel : QFrame::NoFrame);
        if (wasVisible)
            hide();
    }
}

QPoint PanelWindow::popupPosition(const QSize &size, const QRect &anchor, const QRect &screen,
                                  const QRect &available)
{
    const QPoint middle(anchor.left() + anchor.width() / 2, anchor.top() + anchor.height() / 2);
    int x = middle.x() - size.width() / 2;
    int y = middle.y() < screen.top() + screen.height() / 2 ? anchor.bottom() + 1 + AnchorGap
                                                            : anchor.top() - AnchorGap - size.height();
    x = qBound(available.left(), x, qMax(available.left(), available.right() + 1 - size.width()));
    y = qBound(available.top(), y, qMax(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

void PanelWindow::popUpAt(const QRect &anchor)
{
    setMode(true);
    m_anchor = anchor.isValid() && !anchor.isEmpty() ? anchor : QRect(QCursor::pos(), QSize(1, 1));
    setAttribute(Qt::WA_NoMouseReplay, false);
    adjustSize();
    QScreen *screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        move(popupPosition(sizeHint(), m_anchor, screen->geometry(), screen->availableGeometry()));
    show();
    activateWindow();
    m_panel->setFocus(Qt::PopupFocusReason);
}

void PanelWindow::showAsWindow()
{
    const bool wasWindow = !isPopup() && isVisible();
    setMode(false);
    if (!wasWindow) {
        adjustSize();
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            move(available.center() - QPoint(sizeHint().width() / 2, sizeHint().height() / 2));
        }
    }
    show();
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

bool PanelWindow::justClosedByAnchor() const
{
    return m_closedByAnchor.isValid() && m_closedByAnchor.elapsed() < ReopenGuardMs;
}

void PanelWindow::mousePressEvent(QMouseEvent *event)
{
    if (isPopup() && !rect().contains(event->position().toPoint())) {
        // A click outside closes the popup. On the tray icon itself that click
        // must not be replayed to the icon, or it would open the panel again.
        if (m_anchor.contains(event->globalPosition().toPoint())) {
            setAttribute(Qt::WA_NoMouseReplay);
            m_closedByAnchor.start();
        }
    }
    QFrame::mousePressEvent(event);
}

void PanelWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace pealix
