#include "ui/HotkeyTab.h"

#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyEventSource.h"
#include "model/Preferences.h"
#include "ui/ChordText.h"
#include "ui/GlyphLabel.h"
#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace pealix {

using namespace metrics;
using style::TextFont;
using style::TextTone;

namespace {

struct KeyChoice
{
    const char *label;
    quint32 keyCode;
};

// The keys a chord may use, in the picker's order; the codes are what the
// preferences store.
constexpr KeyChoice KeyChoices[] = {
    {"` (Grave)", 50}, {"Space", 49}, {"B", 11},    {"H", 4},
    {"T", 17},         {"F13", 105},  {"F14", 107}, {"F15", 113},
};

QCheckBox *modifierBox(const QString &text, const char *name)
{
    auto *box = new QCheckBox(text);
    box->setObjectName(QLatin1String(name));
    return box;
}

} // namespace

HotkeyTab::HotkeyTab(Preferences &preferences, HotkeyManager *hotkey, QWidget *parent)
    : QWidget(parent), m_preferences(preferences), m_hotkey(hotkey)
{
    setObjectName(QStringLiteral("hotkeyTab"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(TabPadding, TabPadding, TabPadding, TabPadding);
    layout->setSpacing(HotkeySpacing);

    layout->addWidget(
        new StyledLabel(QStringLiteral("Push-to-talk hotkey"), TextFont::Headline, TextTone::Primary));
    auto *intro = new StyledLabel(
        QStringLiteral("Hold this chord anywhere to record, release to broadcast to your selected speakers."),
        TextFont::Caption, TextTone::Secondary);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *modifiers = new QHBoxLayout;
    modifiers->setSpacing(CheckBoxSpacing);
    m_ctrl = modifierBox(QStringLiteral("Ctrl"), "ctrlBox");
    m_alt = modifierBox(QStringLiteral("Alt"), "altBox");
    m_shift = modifierBox(QStringLiteral("Shift"), "shiftBox");
    m_super = modifierBox(QStringLiteral("Super"), "superBox");
    for (QCheckBox *box : {m_ctrl, m_alt, m_shift, m_super}) {
        modifiers->addWidget(box);
        connect(box, &QCheckBox::toggled, this, &HotkeyTab::refresh);
    }
    modifiers->addStretch();
    layout->addLayout(modifiers);

    auto *keyRow = new QHBoxLayout;
    auto *keyLabel = new QLabel(QStringLiteral("Key"));
    keyRow->addWidget(keyLabel);
    m_key = new QComboBox;
    m_key->setObjectName(QStringLiteral("keyPicker"));
    m_key->setFixedWidth(KeyPickerWidth);
    for (const KeyChoice &choice : KeyChoices)
        m_key->addItem(QString::fromUtf8(choice.label), choice.keyCode);
    keyLabel->setBuddy(m_key);
    keyRow->addWidget(m_key);
    keyRow->addStretch();
    layout->addLayout(keyRow);
    connect(m_key, &QComboBox::activated, this, [this](int index) {
        m_keyCode = m_key->itemData(index).toUInt();
        refresh();
    });

    auto *currentRow = new QHBoxLayout;
    currentRow->addWidget(new StyledLabel(QStringLiteral("Current:"), TextFont::Body, TextTone::Secondary));
    m_current = new QLabel;
    m_current->setObjectName(QStringLiteral("currentChord"));
    m_current->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_current->setTextInteractionFlags(Qt::TextSelectableByMouse);
    currentRow->addWidget(m_current);
    currentRow->addStretch();
    m_save = new QPushButton(QStringLiteral("Save"));
    m_save->setObjectName(QStringLiteral("saveHotkeyButton"));
    m_save->setDefault(true);
    currentRow->addWidget(m_save);
    layout->addLayout(currentRow);
    connect(m_save, &QPushButton::clicked, this, &HotkeyTab::save);

    layout->addWidget(style::divider());
    auto *noteRow = new QHBoxLayout;
    m_noteGlyph = new GlyphLabel(Glyph::Shield, IconTone::Secondary, RowGlyphSize);
    noteRow->addWidget(m_noteGlyph, 0, Qt::AlignTop);
    m_note = new StyledLabel(TextFont::Caption, TextTone::Secondary);
    m_note->setObjectName(QStringLiteral("monitoringNote"));
    m_note->setWordWrap(true);
    noteRow->addWidget(m_note, 1);
    layout->addLayout(noteRow);
    layout->addStretch();

    // The desktop may grant, refuse or rebind the chord at any time.
    if (m_hotkey)
        connect(m_hotkey, &HotkeyManager::monitoringChanged, this, &HotkeyTab::refresh);
    load();
}

HotkeyConfig HotkeyTab::pendingChord() const
{
    quint32 modifiers = 0;
    if (m_ctrl->isChecked())
        modifiers |= HotkeyConfig::Control;
    if (m_alt->isChecked())
        modifiers |= HotkeyConfig::Option;
    if (m_shift->isChecked())
        modifiers |= HotkeyConfig::Shift;
    if (m_super->isChecked())
        modifiers |= HotkeyConfig::Command;
    return {m_keyCode, modifiers};
}

void HotkeyTab::load()
{
    const HotkeyConfig stored = m_preferences.hotkey();
    m_keyCode = stored.keyCode;
    m_ctrl->setChecked(stored.modifiers & HotkeyConfig::Control);
    m_alt->setChecked(stored.modifiers & HotkeyConfig::Option);
    m_shift->setChecked(stored.modifiers & HotkeyConfig::Shift);
    m_super->setChecked(stored.modifiers & HotkeyConfig::Command);
    refresh();
}

void HotkeyTab::save()
{
    m_preferences.setHotkey(pendingChord());
    if (m_hotkey) {
        // The manager gets what was stored, so it watches exactly what the
        // next start of Pealix will read.
        m_hotkey->setConfig(m_preferences.hotkey());
        m_hotkey->start();
    }
    refresh();
}

void HotkeyTab::refresh()
{
    m_key->setCurrentIndex(m_key->findData(m_keyCode));
    m_current->setText(chordText(pendingChord()));
    const bool monitoring = m_hotkey && m_hotkey->isMonitoring();
    m_noteGlyph->setGlyph(monitoring ? Glyph::Shield : Glyph::Warning,
                          monitoring ? IconTone::Secondary : IconTone::Red);
    m_note->setText(monitoringNote(m_hotkey));
}

QString HotkeyTab::monitoringNote(const HotkeyManager *hotkey)
{
    if (!hotkey)
        return QStringLiteral("The push-to-talk hotkey is not running in this copy of Pealix.");
    if (!hotkey->isMonitoring())
        return hotkey->monitoringProblem();
    if (isWaylandSession(qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE"))) {
        const QString trigger = hotkey->triggerDescription();
        if (trigger.isEmpty())
            return QStringLiteral("Your desktop passes the hotkey to Pealix in every application.");
        return QStringLiteral("Your desktop passes the hotkey to Pealix in every application. It triggers it "
                              "with %1.")
            .arg(trigger);
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return QStringLiteral("Pealix sees the keyboard through the X server.");
    return QStringLiteral("Pealix sees the hotkey in every application.");
}

void HotkeyTab::keyPressEvent(QKeyEvent *event)
{
    // A plain window has no default button of its own: Return and Enter that
    // the tab's controls leave alone press Save.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_save->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void HotkeyTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Each time the tab appears (not when the window comes back from being
    // minimised) the stored chord replaces unsaved edits.
    if (!event->spontaneous())
        load();
}

} // namespace pealix
