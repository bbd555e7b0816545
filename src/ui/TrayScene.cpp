#include "ui/TrayScene.h"

#include "ui/CommandLine.h"
#include "ui/GlyphIcon.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsWindow.h"
#include "ui/SingleInstance.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace pealix {

namespace {
const QString ShowCommand = QStringLiteral("show");
const QString TalkCommand = QString::fromLatin1(CommandLine::TalkCommand);
} // namespace

TrayScene::TrayScene(SpeakerStore *speakers, MessageStore *messages, Broadcaster *broadcaster,
                     HotkeyManager *hotkey, Preferences &preferences, QObject *parent)
    : QObject(parent), m_speakers(speakers), m_messages(messages), m_hotkey(hotkey),
      m_preferences(preferences), m_tray(new QSystemTrayIcon(this)), m_menu(new QMenu),
      m_panelWindow(new PanelWindow(new PanelView(speakers, messages, broadcaster, preferences)))
{
    m_tray->setIcon(pealix::trayIcon());
    m_tray->setToolTip(QStringLiteral("Pealix"));

    m_menu->setObjectName(QStringLiteral("trayMenu"));
    m_menu->addAction(glyphIcon(Glyph::Megaphone), QStringLiteral("Open Pealix"), this,
                      &TrayScene::showPanel);
    m_menu->addAction(glyphIcon(Glyph::Settings), QStringLiteral("Settings\u2026"), this,
                      &TrayScene::openSettings);
    m_menu->addSeparator();
    m_menu->addAction(glyphIcon(Glyph::Power), QStringLiteral("Quit"), this, &TrayScene::quitRequested);
    m_tray->setContextMenu(m_menu);

    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel();
    });
    connect(panel(), &PanelView::settingsRequested, this, [this] {
        if (m_panelWindow->isPopup())
            m_panelWindow->close();
        openSettings();
    });
    connect(panel(), &PanelView::quitRequested, this, &TrayScene::quitRequested);
}

TrayScene::~TrayScene()
{
    delete m_settings;
    delete m_panelWindow;
    delete m_menu;
}

void TrayScene::start()
{
    m_tray->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        m_panelWindow->showAsWindow();
}

void TrayScene::listenTo(SingleInstance *instance)
{
    instance->acceptCommand(ShowCommand);
    instance->acceptCommand(TalkCommand);
    connect(instance, &SingleInstance::commandReceived, this, [this](const QString &command) {
        if (command == ShowCommand)
            showPanel();
        else if (command == TalkCommand)
            panel()->talk();
    });
}

PanelView *TrayScene::panel() const
{
    return m_panelWindow->panel();
}

bool TrayScene::trayShown() const
{
    return m_tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayScene::showPanel()
{
    if (trayShown())
        m_panelWindow->popUpAt(m_tray->geometry());
    else
        m_panelWindow->showAsWindow();
}

void TrayScene::togglePanel()
{
    if (m_panelWindow->isVisible() && m_panelWindow->isPopup()) {
        m_panelWindow->close();
        return;
    }
    if (m_panelWindow->justClosedByAnchor())
        return;
    showPanel();
}

SettingsWindow *TrayScene::settingsWindow()
{
    if (!m_settings)
        m_settings = new SettingsWindow(m_speakers, m_messages, m_hotkey, m_preferences);
    return m_settings;
}

void TrayScene::openSettings()
{
    settingsWindow()->open();
}

} // namespace pealix
