#pragma once

#include "hotkey/KeyEvent.h"
#include "model/HotkeyConfig.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <memory>

namespace pealix {

// A monitor of key-down and key-up events. Sources only translate what the
// window system reports into KeyEvents; deciding what a chord is belongs to
// HotkeyManager. Events are passed on, never consumed.
class KeyEventSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Begins watching. False when this source cannot watch on this desktop;
    // problem() then says why. A source may still be getting ready after a
    // true answer: isActive() and stateChanged() tell when it watches.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    // True when the source also sees keys aimed at other applications.
    virtual bool isGlobal() const = 0;

    // The chord to watch, given before start(). Sources that see every key
    // ignore it; one that asks the desktop for a single shortcut needs it.
    virtual void setChord(const HotkeyConfig &chord) { Q_UNUSED(chord); }

    // How the desktop says the chord is triggered, in its own words; empty
    // when the desktop says nothing.
    virtual QString triggerDescription() const { return {}; }

    QString problem() const { return m_problem; }

Q_SIGNALS:
    void keyEvent(const pealix::KeyEvent &event, bool pressed);
    // isActive(), problem() or triggerDescription() changed on their own.
    void stateChanged();

protected:
    void setProblem(const QString &problem) { m_problem = problem; }

private:
    QString m_problem;
};

// What the user reads when the desktop will not watch a global chord for us.
QString noGlobalHotkeyProblem();

// True when the session is a Wayland one, from the values of WAYLAND_DISPLAY
// and XDG_SESSION_TYPE.
bool isWaylandSession(QByteArrayView waylandDisplay, QByteArrayView sessionType);

// The system-wide source of this build and desktop, or null when there is none:
// the desktop portal on Wayland, X11 elsewhere.
std::unique_ptr<KeyEventSource> createSystemKeyEventSource();

// The X11 source, or null in a build without X11. The build picks the backend
// file that defines it.
std::unique_ptr<KeyEventSource> createX11KeyEventSource();

} // namespace pealix
