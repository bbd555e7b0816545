#pragma once

#include "hotkey/KeyEvent.h"
#include "model/HotkeyConfig.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace pealix {

class KeyEventSource;

// Turns the push-to-talk chord into exactly one press and one release per hold,
// however long the key is held and however often it repeats. Key events come
// from KeyEventSources: a system-wide one when the desktop offers it, and one
// for our own windows, whose keys count only while no system-wide source
// watches. A hold ends at the source that began it. Lives on the main thread,
// as do its callbacks.
class HotkeyManager : public QObject
{
    Q_OBJECT
public:
    using Callback = std::function<void()>;

    // Watches with this desktop's system-wide source and our own windows.
    explicit HotkeyManager(const HotkeyConfig &config = HotkeyConfig::defaultChord(),
                           QObject *parent = nullptr);
    // Watches with the given sources, installed in this order by start().
    HotkeyManager(const HotkeyConfig &config, std::vector<std::unique_ptr<KeyEventSource>> sources,
                  QObject *parent = nullptr);
    ~HotkeyManager() override;

    void setOnPress(Callback callback) { m_onPress = std::move(callback); }
    void setOnRelease(Callback callback) { m_onRelease = std::move(callback); }

    HotkeyConfig config() const { return m_config; }
    // Used from the next event on; callers that change the chord call start(),
    // which also hands it to a desktop that binds the chord itself.
    void setConfig(const HotkeyConfig &config) { m_config = config; }

    bool isDown() const { return m_isDown; }

    // (Re)installs every source that can run here; a held chord is forgotten
    // without a release.
    void start();
    // Removes every source and forgets a held chord.
    void stop();

    // True while a source that sees other applications' keys is watching.
    bool isMonitoring() const;
    // Why keys aimed at other applications cannot be seen; empty while monitoring.
    QString monitoringProblem() const;
    // How the desktop says the chord is triggered (it may have let the user
    // pick another); empty when the desktop does not say.
    QString triggerDescription() const;

    // The chord logic, on an event already translated into the chord's numbering.
    void handle(const KeyEvent &event, bool pressed);

    // The four modifier bits of `flags`; anything else a source reports is dropped.
    static quint32 chordModifiers(quint32 flags);

Q_SIGNALS:
    // isMonitoring(), monitoringProblem() or triggerDescription() may have changed.
    void monitoringChanged();

private:
    void receive(KeyEventSource *source, const KeyEvent &event, bool pressed);
    void sourceStateChanged(KeyEventSource *source);

    Callback m_onPress;
    Callback m_onRelease;
    HotkeyConfig m_config;
    std::vector<std::unique_ptr<KeyEventSource>> m_sources;
    std::vector<KeyEventSource *> m_monitors;
    bool m_isDown = false;
    // The source whose press began the current hold; only its release ends it.
    KeyEventSource *m_holdSource = nullptr;
};

} // namespace pealix
