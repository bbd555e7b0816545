#pragma once

#include <QObject>
#include <QPointer>

class QMenu;
class QSystemTrayIcon;

namespace pealix {

class Broadcaster;
class HotkeyManager;
class MessageStore;
class PanelView;
class PanelWindow;
class Preferences;
class SettingsWindow;
class SingleInstance;
class SpeakerStore;

// Pealix on the desktop: the tray item with its menu, the panel it opens and
// the settings window. Without a tray host the panel is a small window.
class TrayScene : public QObject
{
    Q_OBJECT
public:
    TrayScene(SpeakerStore *speakers, MessageStore *messages, Broadcaster *broadcaster, HotkeyManager *hotkey,
              Preferences &preferences, QObject *parent = nullptr);
    ~TrayScene() override;

    // Shows the tray item, or the panel as a window when there is no tray.
    void start();
    // Answers "show" and "talk" (pealix --talk) from a later copy of Pealix.
    void listenTo(SingleInstance *instance);

    void showPanel();
    void togglePanel();
    void openSettings();

    QSystemTrayIcon *trayIcon() const { return m_tray; }
    PanelWindow *panelWindow() const { return m_panelWindow; }
    PanelView *panel() const;
    SettingsWindow *settingsWindow();

Q_SIGNALS:
    // "Quit" in the panel or the menu; main() ends the event loop on it.
    void quitRequested();

private:
    bool trayShown() const;

    SpeakerStore *m_speakers;
    MessageStore *m_messages;
    HotkeyManager *m_hotkey;
    Preferences &m_preferences;
    QSystemTrayIcon *m_tray;
    QMenu *m_menu;
    PanelWindow *m_panelWindow;
    SettingsWindow *m_settings = nullptr;
};

} // namespace pealix
