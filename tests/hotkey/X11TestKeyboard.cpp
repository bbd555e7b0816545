#include "X11TestKeyboard.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace pealix::test {

X11TestKeyboard::X11TestKeyboard(QByteArray display) : m_display(std::move(display))
{
    m_x = XOpenDisplay(m_display.constData());
}

X11TestKeyboard::~X11TestKeyboard()
{
    if (!m_x)
        return;
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        XChangeKeyboardMapping(m_x, static_cast<int>(it->keycode), static_cast<int>(it->keysyms.size()),
                               it->keysyms.data(), 1);
    }
    XCloseDisplay(m_x);
}

bool X11TestKeyboard::bindKeysym(unsigned keycode, const QString &keysym)
{
    if (!m_x)
        return false;
    KeySym symbol = XStringToKeysym(keysym.toLatin1().constData());
    if (symbol == NoSymbol)
        return false;
    int perKeycode = 0;
    KeySym *old = XGetKeyboardMapping(m_x, static_cast<KeyCode>(keycode), 1, &perKeycode);
    if (!old)
        return false;
    m_saved.push_back({keycode, std::vector<unsigned long>(old, old + perKeycode)});
    XFree(old);
    XChangeKeyboardMapping(m_x, static_cast<int>(keycode), 1, &symbol, 1);
    XSync(m_x, False);
    return true;
}

bool X11TestKeyboard::xdotool(const QStringList &arguments, QString *error) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("xdotool"), arguments);
    const bool done = process.waitForFinished(10000);
    if (done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (!done)
        process.kill();
    if (error) {
        *error = QStringLiteral("xdotool %1: %2 %3")
                     .arg(arguments.join(QLatin1Char(' ')), process.errorString(),
                          QString::fromLocal8Bit(process.readAll()));
    }
    return false;
}

QString X11TestKeyboard::keysymName(unsigned keycode) const
{
    if (!m_x)
        return {};
    const KeySym keysym = XkbKeycodeToKeysym(m_x, static_cast<KeyCode>(keycode), 0, 0);
    if (keysym == NoSymbol)
        return {};
    const char *name = XKeysymToString(keysym);
    return name ? QString::fromLatin1(name) : QString();
}

unsigned long X11TestKeyboard::focusNewWindow()
{
    if (!m_x)
        return 0;
    const Window root = DefaultRootWindow(m_x);
    const Window window = XCreateSimpleWindow(m_x, root, 10, 10, 200, 100, 0, 0, 0);
    // Without a window manager a mapped window is viewable as soon as the
    // server has handled the request, which XSync waits for.
    XMapRaised(m_x, window);
    XSync(m_x, False);
    XSetInputFocus(m_x, window, RevertToPointerRoot, CurrentTime);
    XSync(m_x, False);
    return window;
}

unsigned long X11TestKeyboard::focusedWindow() const
{
    if (!m_x)
        return 0;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_x, &focus, &revert);
    return focus;
}

} // namespace pealix::test
