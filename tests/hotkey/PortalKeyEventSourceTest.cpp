// The desktop portal source and the chord logic together, against a fake
// GlobalShortcuts portal on a private session bus. Every step is awaited on
// the event loop; signals from the fake arrive in the order it sent them, so
// once a later one has had its effect, the earlier ones have been handled.
#include "hotkey/portal/PortalKeyEventSource.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/LocalKeyEventSource.h"
#include "support/EventLoopWait.h"
#include "support/FakeGlobalShortcutsPortal.h"
#include "support/PrivateSessionBus.h"
#include "support/TestEnvironment.h"

#include "HoldLog.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;
using test::processEventsUntil;
using Portal = test::FakeGlobalShortcutsPortal;

namespace {

const QString InterfaceXml = QStringLiteral(PEALIX_PORTAL_XML);

// A private bus and our application's connection to it, named afresh for
// each bus: the source names the application once per connection name.
struct Desktop
{
    Desktop() : client(QDBusConnection::connectToBus(bus.address(), u"pealix-under-test-%1"_s.arg(++count)))
    {
    }
    ~Desktop()
    {
        const QString name = client.name();
        client = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(name);
    }
    static inline int count = 0;
    bool ready() const { return bus.isRunning() && client.isConnected() && QFile::exists(InterfaceXml); }

    test::PrivateSessionBus bus;
    QDBusConnection client;
};

// A manager watching through the portal and, when given, our own windows' source.
test::HoldLog watching(const QDBusConnection &bus, const HotkeyConfig &chord = {},
                       KeyEventSource *local = nullptr)
{
    return test::HoldLog(chord, {new PortalKeyEventSource(bus), local});
}

#define REQUIRE_DESKTOP(desktop)                                                                             \
    PEALIX_REQUIRE((desktop).ready(), "needs dbus-daemon and xdg-desktop-portal-dev's interface files: " +   \
                                          (desktop).bus.error().toStdString())

TEST(PortalHotkey, WaylandSessionsAreToldByEitherVariable)
{
    // clang-format off
    const std::tuple<const char *, const char *, const char *, bool> rows[] = {
        {"X11 session",                          "",          "x11",     false},
        {"Wayland socket named",                 "wayland-0", "",        true},
        {"session type alone says Wayland",      "",          "wayland", true},
        {"Wayland socket under a stale type",    "wayland-1", "x11",     true},
        {"nothing set (a service, a bare X)",    "",          "",        false},
    };
    // clang-format on
    for (const auto &[what, display, type, wayland] : rows)
        EXPECT_EQ(isWaylandSession(display, type), wayland) << what;
}

TEST(PortalHotkey, BindsTheStoredChordAsTheDesktopsShortcutTextAndShowsItsAnswer)
{
    Desktop desktop;
    REQUIRE_DESKTOP(desktop);
    Portal portal(desktop.bus.address(), InterfaceXml);
    ASSERT_TRUE(portal.isServing());

    constexpr quint32 Command = HotkeyConfig::Command, Shift = HotkeyConfig::Shift,
                      Option = HotkeyConfig::Option, Control = HotkeyConfig::Control;
    // clang-format off
    const std::tuple<const char *, HotkeyConfig, std::optional<QString>> rows[] = {
        {"the default chord, Alt+Super+`",         {50, Option | Command},                     u"ALT+LOGO+grave"_s},
        {"Control+Shift+F13",                      {105, Control | Shift},                     u"CTRL+SHIFT+F13"_s},
        {"Space alone",                            {49, 0},                                    u"space"_s},
        {"all four modifiers with T",              {17, Control | Option | Shift | Command},   u"CTRL+ALT+SHIFT+LOGO+t"_s},
        {"a key the text cannot name (Num Lock)",  {0x47, Option},                             std::nullopt},
    };
    // clang-format on
    for (const auto &[what, chord, trigger] : rows) {
        {
            auto rig = watching(desktop.client, chord);
            rig.manager.start();
            ASSERT_TRUE(processEventsUntil([&] { return rig.manager.isMonitoring(); }))
                << what << ": " << rig.manager.monitoringProblem().toStdString();
            ASSERT_FALSE(portal.bindings.empty()) << what;
            EXPECT_EQ(portal.bindings.back().preferredTrigger, trigger) << what;
            EXPECT_EQ(rig.manager.triggerDescription(), Portal::describe(trigger)) << what;
        }
        // The manager is gone, and with it the desktop's binding.
        EXPECT_TRUE(processEventsUntil([&] { return portal.sessions.back().closed; })) << what;
    }
    // The application names itself once per connection, before anything else.
    EXPECT_EQ(portal.registeredApplications, QStringList{u"org.pealix.Pealix"_s});
    EXPECT_EQ(portal.calls.mid(0, 4),
              (QStringList{u"Register"_s, u"CreateSession"_s, u"BindShortcuts"_s, u"Close"_s}));
    EXPECT_EQ(portal.calls.size(), 1 + 3 * qsizetype(std::size(rows)));
    EXPECT_EQ(portal.violations.join(u"; "_s).toStdString(), "");
}

TEST(PortalHotkey, ActivationsBecomeOneHoldAndTheDesktopEndingTheSessionEndsIt)
{
    Desktop desktop;
    REQUIRE_DESKTOP(desktop);
    Portal portal(desktop.bus.address(), InterfaceXml);
    ASSERT_TRUE(portal.isServing());
    auto *window = new LocalKeyEventSource; // our own windows, fed by hand
    auto rig = watching(desktop.client, HotkeyConfig::defaultChord(), window);
    const auto windowKey = [&](bool pressed) {
        Q_EMIT window->keyEvent({50, HotkeyConfig::Option | HotkeyConfig::Command, 0}, pressed);
    };
    rig.manager.start();
    ASSERT_TRUE(processEventsUntil([&] { return rig.manager.isMonitoring(); }));

    // Our window sees the chord before the desktop says so: while the desktop
    // watches, that copy begins nothing, so the window's X11-style repeats
    // (release/press pairs) cannot end the hold either.
    windowKey(true);
    EXPECT_EQ(rig.log, "");
    portal.activate(1000);
    ASSERT_TRUE(processEventsUntil([&] { return rig.log == "P"; }));
    windowKey(false);
    windowKey(true);
    // The desktop repeats the activation; other shortcuts and sessions come and
    // go. Only the desktop's own deactivation ends the hold.
    portal.activate(1030);
    portal.deactivate(1040, u"another-shortcut"_s);
    portal.deactivate(1050, u"push-to-talk"_s, portal.sessions.back().path + u"_other"_s);
    portal.deactivate(2000);
    ASSERT_TRUE(processEventsUntil([&] { return rig.log.size() >= 2; }));
    EXPECT_EQ(rig.log, "PR");

    // The user picks another trigger in the desktop's settings.
    const int changesBefore = rig.changes;
    portal.changeTrigger(u"push-to-talk"_s, u"Ctrl+F9"_s);
    ASSERT_TRUE(processEventsUntil([&] { return rig.manager.triggerDescription() == u"Ctrl+F9"_s; }));
    EXPECT_GT(rig.changes, changesBefore);

    // The desktop ends the session in the middle of a hold: the hold ends with
    // it, our windows take over, and the Hotkey tab hears about it.
    portal.activate(3000);
    ASSERT_TRUE(processEventsUntil([&] { return rig.log == "PRP"; }));
    portal.closeSession();
    ASSERT_TRUE(processEventsUntil([&] { return !rig.manager.isMonitoring(); }));
    EXPECT_EQ(rig.log, "PRPR");
    EXPECT_EQ(rig.manager.monitoringProblem(), noGlobalHotkeyProblem());
    EXPECT_EQ(rig.manager.triggerDescription(), QString());
    portal.activate(4000);
    windowKey(true);
    windowKey(false);
    EXPECT_EQ(rig.log, "PRPRPR");
    EXPECT_EQ(portal.violations.join(u"; "_s).toStdString(), "");
}

TEST(PortalHotkey, EveryWayOfSayingNoGivesTheProblemText)
{
    Desktop desktop;
    REQUIRE_DESKTOP(desktop);
    using B = Portal::Behaviour;
    // clang-format off
    const std::pair<const char *, std::optional<B>> rows[] = {
        {"no portal on the bus",                          std::nullopt},
        {"a portal without the GlobalShortcuts interface", B::LacksInterface},
        {"session refused with an error",                 B::RefusesSession},
        {"the user dismisses the shortcut dialog",        B::UserCancels},
        {"the desktop binds none of the shortcuts",       B::BindsNothing},
    };
    // clang-format on
    const QString problem = noGlobalHotkeyProblem();
    for (const auto &[what, behaviour] : rows) {
        std::optional<Portal> portal;
        if (behaviour) {
            portal.emplace(desktop.bus.address(), InterfaceXml, *behaviour);
            ASSERT_TRUE(portal->isServing()) << what;
        }
        auto rig = watching(desktop.client);
        rig.manager.start();
        const int changesAtStart = rig.changes;
        EXPECT_TRUE(processEventsUntil([&] { return rig.manager.monitoringProblem() == problem; }))
            << what << ": " << rig.manager.monitoringProblem().toStdString();
        EXPECT_FALSE(rig.manager.isMonitoring()) << what;
        EXPECT_GT(rig.changes, changesAtStart) << what << ": the Hotkey tab must hear of the answer";
        if (portal) {
            // A session the desktop made is not left behind.
            EXPECT_TRUE(processEventsUntil([&] {
                return portal->sessions.empty() || portal->sessions.back().closed;
            })) << what;
            EXPECT_EQ(portal->violations.join(u"; "_s).toStdString(), "") << what;
        }
    }
}

} // namespace
