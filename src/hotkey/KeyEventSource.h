#pragma once

#include "hotkey/KeyEvent.h"

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
    // problem() then says why.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    // True when the source also sees keys aimed at other applications.
    virtual bool isGlobal() const = 0;

    QString problem() const { return m_problem; }

Q_SIGNALS:
    void keyEvent(const pealix::KeyEvent &event, bool pressed);

protected:
    void setProblem(const QString &problem) { m_problem = problem; }

private:
    QString m_problem;
};

// The system-wide source of this build and desktop, or null when there is none.
// The build picks the backend file that defines it.
std::unique_ptr<KeyEventSource> createSystemKeyEventSource();

} // namespace pealix
