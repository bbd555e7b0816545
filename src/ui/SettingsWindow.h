#pragma once

#include <QWidget>

class QTabWidget;

namespace pealix {

class HotkeyManager;
class MessageStore;
class Preferences;
class SpeakerStore;

// The settings window: Speakers, Hotkey, Messages and About, at a fixed size.
class SettingsWindow : public QWidget
{
    Q_OBJECT
public:
    SettingsWindow(SpeakerStore *speakers, MessageStore *messages, HotkeyManager *hotkey,
                   Preferences &preferences, QWidget *parent = nullptr);

    // Shows the window on its first tab, or brings it forward as it is.
    void open();

    QTabWidget *tabs() const { return m_tabs; }

private:
    QTabWidget *m_tabs;
};

} // namespace pealix
