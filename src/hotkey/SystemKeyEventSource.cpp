#include "hotkey/KeyEventSource.h"
#include "hotkey/portal/PortalKeyEventSource.h"

namespace pealix {

QString noGlobalHotkeyProblem()
{
    return QStringLiteral("This desktop doesn't let applications watch a global hotkey. Bind a keyboard "
                          "shortcut to \u201Cpealix --talk\u201D in your desktop's settings, or use the tray "
                          "panel's talk button.");
}

bool isWaylandSession(QByteArrayView waylandDisplay, QByteArrayView sessionType)
{
    return !waylandDisplay.trimmed().isEmpty() ||
           sessionType.trimmed().compare("wayland", Qt::CaseInsensitive) == 0;
}

std::unique_ptr<KeyEventSource> createSystemKeyEventSource()
{
    // Under Wayland an X11 source reaches only XWayland, which sees keys while
    // one of its own windows has the focus: it would look like a global
    // monitor and be none. The compositor alone can watch a chord everywhere.
    if (isWaylandSession(qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE")))
        return std::make_unique<PortalKeyEventSource>();
    return createX11KeyEventSource();
}

} // namespace pealix
