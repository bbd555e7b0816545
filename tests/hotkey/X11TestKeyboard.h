#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

struct _XDisplay;

namespace pealix::test {

// Drives the keyboard of a test X server with xdotool (XTEST) and looks at the
// server through a connection of its own.
class X11TestKeyboard
{
public:
    explicit X11TestKeyboard(QByteArray display);
    ~X11TestKeyboard();
    X11TestKeyboard(const X11TestKeyboard &) = delete;
    X11TestKeyboard &operator=(const X11TestKeyboard &) = delete;

    bool isConnected() const { return m_x != nullptr; }

    // Runs xdotool with these arguments; false (with `error`) when it fails.
    bool xdotool(const QStringList &arguments, QString *error = nullptr) const;

    // The name of the first keysym the server maps to this keycode, or empty.
    QString keysymName(unsigned keycode) const;

    // Makes `keysym` the only symbol of this keycode until this object ends, so
    // that xdotool, which looks keys up by symbol, reaches exactly this keycode.
    bool bindKeysym(unsigned keycode, const QString &keysym);

    // Creates a window, maps it and gives it the input focus; its id, or 0.
    unsigned long focusNewWindow();
    unsigned long focusedWindow() const;

private:
    QByteArray m_display;
    _XDisplay *m_x = nullptr;
    struct SavedMapping
    {
        unsigned keycode;
        std::vector<unsigned long> keysyms;
    };
    std::vector<SavedMapping> m_saved;
};

} // namespace pealix::test
