#include "hotkey/x11/X11KeyEventSource.h"

#include "hotkey/KeyCodeMap.h"

#include <QSocketNotifier>

// Xlib last: its macros (None, KeyPress, Bool, Status) clash with Qt names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <algorithm>
#include <vector>

namespace pealix {

namespace {

// Xlib's handler for a broken connection is process-wide, and its default
// prints and ends the process. Ours lets the connections of key sources fail
// alone (their exit handler marks them) and hands every other one (Qt's own)
// to whoever handled them before.
std::vector<Display *> g_sourceDisplays;
XIOErrorHandler g_previousIoErrorHandler = nullptr;

int onIoError(Display *display)
{
    if (std::find(g_sourceDisplays.begin(), g_sourceDisplays.end(), display) != g_sourceDisplays.end())
        return 0;
    return g_previousIoErrorHandler ? g_previousIoErrorHandler(display) : 0;
}

void watchForIoErrors(Display *display)
{
    if (!g_previousIoErrorHandler)
        g_previousIoErrorHandler = XSetIOErrorHandler(&onIoError);
    g_sourceDisplays.push_back(display);
}

void forgetIoErrors(Display *display)
{
    g_sourceDisplays.erase(std::remove(g_sourceDisplays.begin(), g_sourceDisplays.end(), display),
                           g_sourceDisplays.end());
}

} // namespace

X11KeyEventSource::X11KeyEventSource(QByteArray displayName, QObject *parent)
    : KeyEventSource(parent), m_displayName(std::move(displayName))
{
}

X11KeyEventSource::~X11KeyEventSource()
{
    stop();
}

bool X11KeyEventSource::start()
{
    if (m_display)
        return true;
    m_display = XOpenDisplay(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
    if (!m_display) {
        setProblem(QStringLiteral("No X display is reachable, so keys pressed in other applications "
                                  "cannot be seen."));
        return false;
    }
    m_connectionLost = false;
    // A lost server must end this source, not the process (Xlib's default).
    watchForIoErrors(m_display);
    XSetIOErrorExitHandler(m_display, &X11KeyEventSource::onConnectionLost, this);

    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    // XWayland hands out keys only while one of its own windows has the
    // focus, so it cannot serve as a global monitor however it answers.
    int xwaylandOpcode = 0;
    if (XQueryExtension(m_display, "XWAYLAND", &xwaylandOpcode, &event, &error)) {
        closeConnection();
        setProblem(noGlobalHotkeyProblem());
        return false;
    }
    if (!XQueryExtension(m_display, "XInputExtension", &m_xiOpcode, &event, &error) ||
        XIQueryVersion(m_display, &major, &minor) != Success || major < 2) {
        closeConnection();
        setProblem(QStringLiteral("The X server lacks the XInput 2 extension, so keys pressed in other "
                                  "applications cannot be seen."));
        return false;
    }

    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
    XISelectEvents(m_display, DefaultRootWindow(m_display), &mask, 1);

    learnHeldModifiers();
    XFlush(m_display);
    setProblem({});

    m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11KeyEventSource::readEvents);
    // Round trips above may already have queued events that the socket will
    // not announce again.
    readEvents();
    return isActive();
}

void X11KeyEventSource::stop()
{
    closeConnection();
}

void X11KeyEventSource::closeConnection()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        // It may be the sender of the signal being handled.
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_display) {
        XCloseDisplay(m_display);
        forgetIoErrors(m_display);
        m_display = nullptr;
    }
    m_heldModifier.fill(0);
}

void X11KeyEventSource::onConnectionLost(_XDisplay *, void *source)
{
    static_cast<X11KeyEventSource *>(source)->m_connectionLost = true;
}

quint32 X11KeyEventSource::heldModifiers() const
{
    quint32 held = 0;
    for (const quint32 bit : m_heldModifier)
        held |= bit;
    return held;
}

void X11KeyEventSource::readEvents()
{
    QPointer<X11KeyEventSource> self(this);
    while (self && m_display && !m_connectionLost && XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        XGenericEventCookie *cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != m_xiOpcode)
            continue;
        if (cookie->evtype != XI_RawKeyPress && cookie->evtype != XI_RawKeyRelease)
            continue;
        if (!XGetEventData(m_display, cookie))
            continue;
        const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
        const unsigned keycode = static_cast<unsigned>(raw->detail);
        const quint64 time = raw->time;
        const bool pressed = cookie->evtype == XI_RawKeyPress;
        XFreeEventData(m_display, cookie);
        // May end this source or its owner.
        handleRawKey(keycode, pressed, time);
    }
    if (self && m_connectionLost) {
        closeConnection();
        setProblem(QStringLiteral("The connection to the X display was lost."));
        Q_EMIT stateChanged();
    }
}

void X11KeyEventSource::handleRawKey(unsigned keycode, bool pressed, quint64 time)
{
    if (keycode >= m_heldModifier.size())
        return;
    if (const quint32 modifier = modifierOf(keycode))
        m_heldModifier[keycode] = pressed ? modifier : 0;
    if (const auto code = keyCodeOf(keycode))
        Q_EMIT keyEvent(KeyEvent{*code, heldModifiers(), time}, pressed);
}

unsigned long X11KeyEventSource::keysymOf(unsigned keycode) const
{
    // The unshifted symbol of the first group: the key's name, not what it types.
    return XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(keycode), 0, 0);
}

quint32 X11KeyEventSource::modifierOf(unsigned keycode) const
{
    // The keysym first, so a key the user remapped (Caps Lock as Control)
    // counts as what it now is.
    if (const quint32 modifier = KeyCodeMap::modifierOfKeysym(static_cast<quint32>(keysymOf(keycode))))
        return modifier;
    if (keycode < KeyCodeMap::XKeycodeOffset)
        return 0;
    return KeyCodeMap::modifierOfLinuxKey(keycode - KeyCodeMap::XKeycodeOffset);
}

std::optional<quint32> X11KeyEventSource::keyCodeOf(unsigned keycode) const
{
    if (keycode >= KeyCodeMap::XKeycodeOffset) {
        if (const auto code = KeyCodeMap::fromLinuxKey(keycode - KeyCodeMap::XKeycodeOffset))
            return code;
    }
    return KeyCodeMap::fromKeysym(static_cast<quint32>(keysymOf(keycode)));
}

void X11KeyEventSource::learnHeldModifiers()
{
    // Modifiers already down when watching begins are known from the server;
    // afterwards their own raw events keep the record.
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    for (unsigned keycode = 0; keycode < m_heldModifier.size(); ++keycode) {
        const bool down = (static_cast<unsigned char>(keys[keycode / 8]) >> (keycode % 8)) & 1;
        m_heldModifier[keycode] = down ? modifierOf(keycode) : 0;
    }
}

std::unique_ptr<KeyEventSource> createX11KeyEventSource()
{
    return std::make_unique<X11KeyEventSource>();
}

} // namespace pealix
