#pragma once

#include "model/HotkeyConfig.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace pealix {

class GlyphLabel;
class HotkeyManager;
class Preferences;
class StyledLabel;

// Edits the push-to-talk chord. The chord being edited lives only here until
// "Save", which stores it and restarts the application's one hotkey manager
// with the stored chord. The note at the bottom says whether keys pressed in
// other applications reach Pealix, as the manager reports it.
class HotkeyTab : public QWidget
{
    Q_OBJECT
public:
    // `hotkey` may be null: saving then only stores the chord.
    HotkeyTab(Preferences &preferences, HotkeyManager *hotkey, QWidget *parent = nullptr);

    // The chord as the check boxes and the picker show it now.
    HotkeyConfig pendingChord() const;

    // Replaces the edits by the stored chord.
    void load();
    void save();
    void refresh();

    // The note under the divider for the manager's current state.
    static QString monitoringNote(const HotkeyManager *hotkey);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    Preferences &m_preferences;
    QPointer<HotkeyManager> m_hotkey;
    QCheckBox *m_ctrl;
    QCheckBox *m_alt;
    QCheckBox *m_shift;
    QCheckBox *m_super;
    QComboBox *m_key;
    // Kept apart from the picker: a stored code that is not in the list
    // survives a save untouched.
    quint32 m_keyCode = HotkeyConfig::defaultChord().keyCode;
    QLabel *m_current;
    QPushButton *m_save;
    GlyphLabel *m_noteGlyph;
    StyledLabel *m_note;
};

} // namespace pealix
