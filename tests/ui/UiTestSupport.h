#pragma once

// Shared pieces of the user-interface tests: a network of fake speakers behind
// the store's discoveries, a key source the test drives, preferences in a file
// of the test's own, and lookups of widgets by objectName.

#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyEventSource.h"
#include "model/MessageStore.h"
#include "model/Preferences.h"
#include "model/SpeakerStore.h"
#include "ui/SettingsWindow.h"

#include <QApplication>
#include <QCoro/QCoroSignal>
#include <QLabel>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

namespace pealix::test {

// What the discoveries find; while `held` is true a scan waits for release()
// (the Sonos discovery waits; the store waits for both).
class FakeNetwork : public QObject
{
    Q_OBJECT
public:
    QList<Speaker> sonos;
    QList<Speaker> cast;
    bool held = false;
    int scans = 0;

    SpeakerStore::Discover discoverSonos()
    {
        return [this](double) { return found(this, true); };
    }
    SpeakerStore::Discover discoverCast()
    {
        return [this](double) { return found(this, false); };
    }

    void release()
    {
        held = false;
        Q_EMIT released();
    }

Q_SIGNALS:
    void released();

private:
    static QCoro::Task<QList<Speaker>> found(FakeNetwork *network, bool sonos)
    {
        // Copies: QCoro moves from an lvalue handed to co_return.
        if (!sonos)
            co_return QList<Speaker>(network->cast);
        ++network->scans;
        if (network->held)
            co_await qCoro(network, &FakeNetwork::released);
        co_return QList<Speaker>(network->sonos);
    }
};

inline Speaker sonosSpeaker(const QString &id, const QString &name,
                            const QString &host = QStringLiteral("127.0.0.1"))
{
    return {QStringLiteral("sonos:") + id, SpeakerKind::Sonos, name, host, 1400, id};
}

inline Speaker castSpeaker(const QString &id, const QString &name,
                           const QString &host = QStringLiteral("127.0.0.1"))
{
    return {QStringLiteral("cast:") + id, SpeakerKind::Chromecast, name, host, 8009, std::nullopt};
}

// A system-wide key source whose keys the test types; it can be made to fail.
class ScriptedKeySource : public KeyEventSource
{
    Q_OBJECT
public:
    int starts = 0;
    QString failure; // non-empty: start() fails with this problem
    QString waiting; // non-empty: start() succeeds, but watching begins at grant()

    bool start() override
    {
        ++starts;
        if (!failure.isEmpty()) {
            setProblem(failure);
            return false;
        }
        setProblem(waiting);
        m_active = waiting.isEmpty();
        return true;
    }
    // The desktop has said yes.
    void grant()
    {
        setProblem(QString());
        m_active = true;
        Q_EMIT stateChanged();
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    bool isGlobal() const override { return true; }

    void type(quint32 keyCode, quint32 modifiers, bool pressed)
    {
        Q_EMIT keyEvent({keyCode, modifiers, 0}, pressed);
    }

private:
    bool m_active = false;
};

// Preferences over an INI file in a folder of the test's own.
struct TestPreferences
{
    QTemporaryDir dir;
    Preferences preferences{
        std::make_unique<QSettings>(dir.filePath(QStringLiteral("Pealix.conf")), QSettings::IniFormat)};
};

// The settings window over fake discoveries, an empty Messages folder and a
// hotkey manager whose key source the test types into (it counts presses).
struct SettingsRig
{
    explicit SettingsRig(ScriptedKeySource *source = new ScriptedKeySource) : keys(source)
    {
        std::vector<std::unique_ptr<KeyEventSource>> sources;
        sources.emplace_back(source);
        hotkey = std::make_unique<HotkeyManager>(prefs.preferences.hotkey(), std::move(sources));
        hotkey->setOnPress([this] { presses++; });
        hotkey->start();
        window = std::make_unique<SettingsWindow>(&store, &messages, hotkey.get(), prefs.preferences);
    }
    void selectTab(int index) { window->tabs()->setCurrentIndex(index); }
    bool awaitScanEnd()
    {
        return QTest::qWaitFor([this] { return !store.isScanning(); }, 5000);
    }

    TestPreferences prefs;
    FakeNetwork network;
    SpeakerStore store{network.discoverSonos(), network.discoverCast(), prefs.preferences};
    QTemporaryDir messagesDir;
    MessageStore messages{messagesDir.path()};
    ScriptedKeySource *keys;
    std::unique_ptr<HotkeyManager> hotkey;
    int presses = 0;
    std::unique_ptr<SettingsWindow> window;
};

// Lets posted layout requests run, so widgets added a moment ago have their
// geometry before a click is aimed at them.
inline void settleLayouts()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents();
}

template <typename T = QWidget> T *child(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << "no widget named " << name;
    return found;
}

template <typename T = QWidget> QList<T *> children(const QObject *parent, const char *name)
{
    return parent->findChildren<T *>(QLatin1String(name));
}

inline QStringList visibleTexts(const QObject *parent, const char *name)
{
    QStringList texts;
    for (const QLabel *label : parent->findChildren<QLabel *>(QLatin1String(name))) {
        if (label->isVisible())
            texts << label->text();
    }
    return texts;
}

} // namespace pealix::test
