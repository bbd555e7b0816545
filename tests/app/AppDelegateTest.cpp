// The start-up wiring: the chord reaches the broadcaster with the speakers
// enabled when each task runs, and the first scan starts at launch.
#include "engine/AppDelegate.h"
#include "broadcast/FakeRecorder.h"
#include "engine/Broadcaster.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyEventSource.h"
#include "model/SpeakerStore.h"
#include "support/EventLoopWait.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {

// A discovery that finds `found` once the test opens `gate`, counting its scans.
QCoro::Task<QList<Speaker>> discoverWhenOpened(net::OneShot<QList<Speaker>> gate, int *scans, double)
{
    ++*scans;
    co_return co_await gate;
}

QCoro::Task<QList<Speaker>> discoverNothing(double)
{
    co_return QList<Speaker>{};
}

TEST(AppDelegate, ChordRecordsAndSendsToTheSpeakersEnabledWhenEachTaskRuns)
{
    QTemporaryDir dir;
    Preferences preferences(std::make_unique<QSettings>(dir.filePath(u"prefs.ini"_s), QSettings::IniFormat));
    // A player nothing listens for: switched on, so a broadcast reaches for it and gets no answer.
    const Speaker kitchen{u"sonos:RINCON_K"_s, SpeakerKind::Sonos, u"Kitchen"_s, u"127.0.0.1"_s, 1,
                          u"RINCON_K"_s};
    preferences.write(Preferences::EnabledSpeakerIDsKey, QStringList{kitchen.id});
    const HotkeyConfig chord{49, HotkeyConfig::Control};
    preferences.setHotkey(chord);

    net::OneShot<QList<Speaker>> scanDone;
    int scans = 0;
    auto *recorder = new test::FakeRecorder;
    recorder->clipPath = QCoreApplication::applicationFilePath(); // never served: no speaker at release
    recorder->clipSeconds = 0.5;

    AppDelegate::Parts parts;
    parts.discoverSonos = std::bind(discoverWhenOpened, scanDone, &scans, std::placeholders::_1);
    parts.discoverCast = discoverNothing;
    parts.preferences = &preferences;
    parts.messagesFolder = dir.filePath(u"Messages"_s);
    parts.broadcaster.recorder.reset(recorder);
    parts.broadcaster.holdPadding = std::chrono::milliseconds(100);
    parts.broadcaster.localAddressFor = [](const QHostAddress &) { return std::optional(u"127.0.0.1"_s); };
    parts.makeHotkey = [](const HotkeyConfig &config) {
        return std::make_unique<HotkeyManager>(config, std::vector<std::unique_ptr<KeyEventSource>>());
    };
    AppDelegate app(std::move(parts));
    Broadcaster &broadcaster = app.broadcaster();
    app.launch();
    EXPECT_EQ(scans, 1);

    // Chord down and up before the scan has found anything: nothing is enabled yet.
    app.hotkey().handle({49, HotkeyConfig::Control, 0}, true);
    ASSERT_TRUE(test::processEventsUntil(
        [&] { return broadcaster.status().kind == Broadcaster::Status::Kind::Recording; }));
    app.hotkey().handle({49, HotkeyConfig::Control, 0}, false);
    ASSERT_TRUE(test::processEventsUntil([&] { return !broadcaster.lastError().isNull(); }));
    EXPECT_EQ(broadcaster.lastError(), Broadcaster::noSpeakersText);

    // Once the scan has found the kitchen, the next press reads it.
    scanDone.complete({kitchen});
    ASSERT_TRUE(test::processEventsUntil([&] { return !app.speakers().isScanning(); }));
    broadcaster.clearLastError();
    recorder->clipPath = dir.filePath(u"clip.m4a"_s);
    QFile clip(recorder->clipPath);
    ASSERT_TRUE(clip.open(QIODevice::WriteOnly) && clip.write("clip") == 4);
    clip.close();
    QList<Broadcaster::Status> seen;
    QObject::connect(&broadcaster, &Broadcaster::statusChanged, [&] { seen << broadcaster.status(); });
    app.hotkey().handle({49, HotkeyConfig::Control, 0}, true);
    app.hotkey().handle({49, HotkeyConfig::Control, 0}, false);
    ASSERT_TRUE(test::processEventsUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (QList<Broadcaster::Status>{Broadcaster::Status::recording(),
                                                Broadcaster::Status::broadcasting(u"1 speaker"_s),
                                                Broadcaster::Status::idle()}));
    EXPECT_TRUE(broadcaster.lastError().isNull());
    EXPECT_EQ(broadcaster.deliveries(), (QList<Delivery>{{kitchen, Delivery::Outcome::NoAnswer, {}}}));
    EXPECT_EQ(scans, 1);
}

} // namespace
