#pragma once

#include "hotkey/KeyEventSource.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <functional>

namespace pealix {

// The push-to-talk chord watched by the desktop itself, through the
// org.freedesktop.portal.GlobalShortcuts interface of xdg-desktop-portal: the
// way a Wayland desktop lets an application have a global key. The source
// opens a shortcuts session, binds one shortcut with the chord as its preferred
// trigger, and turns the shortcut's Activated and Deactivated signals into the
// chord's key going down and up. The desktop may let the user pick another
// trigger; triggerDescription() tells which one it reports.
//
// Every portal call is asynchronous: a method returns a request object at once
// and its Response signal brings the result later, possibly after a dialog.
// Nothing here waits on the bus.
class PortalKeyEventSource : public KeyEventSource
{
    Q_OBJECT
public:
    static constexpr auto ShortcutId = "push-to-talk";
    // Matches the basename of the installed .desktop file, which portals use
    // to name the application to the user.
    static constexpr auto ApplicationId = "org.pealix.Pealix";

    explicit PortalKeyEventSource(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QObject *parent = nullptr);
    ~PortalKeyEventSource() override;

    bool start() override;
    void stop() override;
    bool isActive() const override { return m_state == State::Bound; }
    bool isGlobal() const override { return true; }
    void setChord(const HotkeyConfig &chord) override { m_chord = chord; }
    QString triggerDescription() const override { return m_triggerDescription; }

private Q_SLOTS:
    void onResponse(const QDBusMessage &message);
    void onActivated(const QDBusMessage &message);
    void onDeactivated(const QDBusMessage &message);
    void onShortcutsChanged(const QDBusMessage &message);
    void onSessionClosed(const QDBusMessage &message);

private:
    enum class State { Idle, Registering, CreatingSession, Binding, Bound, Failed };

    void registerApplication();
    void createSession();
    void bindShortcut();
    void followRequest(const QDBusMessage &reply);
    void sessionCreated(const QVariantMap &results);
    void shortcutBound(const QVariantMap &results);
    void fail();

    using ReplyHandler = std::function<void(const QDBusMessage &reply)>;
    void callPortal(const QDBusMessage &call, ReplyHandler handler);
    QDBusMessage portalCall(const QString &interface, const char *method) const;
    static QString newToken();
    // The object path the portal gives a request or session made with `token`.
    QString handlePath(const char *kind, const QString &token) const;
    void awaitResponse(const QString &requestPath);
    void forgetRequest();
    void watchSession(bool watch);
    void emitKey(const QDBusMessage &message, bool pressed);
    bool updateTrigger(const QVariant &shortcuts);

    QDBusConnection m_bus;
    HotkeyConfig m_chord;
    State m_state = State::Idle;
    // Bumped by start() and stop(): replies to an older round are dropped.
    quint64 m_round = 0;
    QString m_requestPath; // the request whose Response is awaited
    QString m_sessionPath;
    bool m_watchingSession = false;
    QString m_triggerDescription;
};

} // namespace pealix
