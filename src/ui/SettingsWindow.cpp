#include "ui/SettingsWindow.h"

#include "ui/AboutTab.h"
#include "ui/GlyphIcon.h"
#include "ui/HotkeyTab.h"
#include "ui/MessagesTab.h"
#include "ui/SpeakersTab.h"
#include "ui/UiMetrics.h"

#include <QTabWidget>
#include <QVBoxLayout>

namespace pealix {

SettingsWindow::SettingsWindow(SpeakerStore *speakers, MessageStore *messages, HotkeyManager *hotkey,
                               Preferences &preferences, QWidget *parent)
    : QWidget(parent, Qt::Window), m_tabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Pealix Settings"));
    setWindowIcon(trayIcon());
    setFixedSize(metrics::SettingsWidth, metrics::SettingsHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->setDocumentMode(true);
    m_tabs->addTab(new SpeakersTab(speakers, preferences), glyphIcon(Glyph::Speakers),
                   QStringLiteral("Speakers"));
    m_tabs->addTab(new HotkeyTab(preferences, hotkey), glyphIcon(Glyph::Keyboard), QStringLiteral("Hotkey"));
    m_tabs->addTab(new MessagesTab(messages), glyphIcon(Glyph::Waveform), QStringLiteral("Messages"));
    m_tabs->addTab(new AboutTab, glyphIcon(Glyph::Info), QStringLiteral("About"));
    layout->addWidget(m_tabs);
}

void SettingsWindow::open()
{
    if (!isVisible()) {
        m_tabs->setCurrentIndex(0);
        show();
    }
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

} // namespace pealix
