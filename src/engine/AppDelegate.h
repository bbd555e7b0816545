#pragma once

#include "engine/BroadcasterSetup.h"
#include "model/SpeakerStore.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace pealix {

class Broadcaster;
class HotkeyManager;
class MessageStore;

// The application's long-lived objects, made once in a fixed order, and the
// wiring that makes the engine run without any window: the chord records and
// broadcasts to the enabled speakers that the first scan found. The panel and
// the settings window are handed speakers(), messages() and broadcaster().
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    // What the application is made of; anything left empty is the real thing.
    struct Parts
    {
        SpeakerStore::Discover discoverSonos;
        SpeakerStore::Discover discoverCast;
        Preferences *preferences = nullptr; // Preferences::shared() when null
        QString messagesFolder;             // the standard folder when empty
        BroadcasterSetup broadcaster;
        std::function<std::unique_ptr<HotkeyManager>(const HotkeyConfig &)> makeHotkey;
    };

    // The speaker store, the message store and the broadcaster, in that order.
    explicit AppDelegate(QObject *parent = nullptr);
    explicit AppDelegate(Parts parts, QObject *parent = nullptr);
    ~AppDelegate() override;

    SpeakerStore &speakers() const { return *m_speakers; }
    MessageStore &messages() const { return *m_messages; }
    Broadcaster &broadcaster() const { return *m_broadcaster; }
    // The one push-to-talk monitor, made with the saved chord on first use.
    HotkeyManager &hotkey();

    // Wires the chord to the broadcaster, starts watching for it and starts
    // the first scan. Call once, when the event loop is about to run.
    void launch();

private:
    QCoro::Task<> pressed();
    QCoro::Task<> released();
    QCoro::Task<> firstScan();

    Parts m_parts;
    std::unique_ptr<SpeakerStore> m_speakers;
    std::unique_ptr<MessageStore> m_messages;
    std::unique_ptr<Broadcaster> m_broadcaster;
    std::unique_ptr<HotkeyManager> m_hotkey;
};

} // namespace pealix
