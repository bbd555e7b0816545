#pragma once

#include "model/Speaker.h"
#include "ui/AutostartEntry.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;
class QVBoxLayout;

namespace pealix {

class BusySpinner;
class Preferences;
class SpeakerStore;

// Which speakers hear announcements, a new search for them, and how they play
// an announcement (volume, resuming what they played), and whether Pealix
// starts at log-in. Redraws from the store; the two playback options are read
// from and written to the preferences, the last from the autostart entry.
class SpeakersTab : public QWidget
{
    Q_OBJECT
public:
    SpeakersTab(SpeakerStore *speakers, Preferences &preferences, QWidget *parent = nullptr);

    void refresh();

    // "Keep" for 0, otherwise the percentage.
    static QString volumeText(int volume);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void rebuildRows();
    QWidget *buildSection(const QString &heading, const QList<Speaker> &members);
    void chainTabOrder();

    SpeakerStore *m_speakers;
    Preferences &m_preferences;
    QPushButton *m_rescan;
    BusySpinner *m_spinner;
    QStackedWidget *m_area;
    QWidget *m_emptyState;
    QWidget *m_listPage;
    QVBoxLayout *m_listLayout;
    QCheckBox *m_restore;
    QSlider *m_volume;
    QLabel *m_volumeText;
    // "Start Pealix when I log in", with the autostart entry it stands for.
    QCheckBox *m_autostart;
    AutostartEntry m_autostartEntry;
    // The speakers the rows were built for: rows are rebuilt only when these
    // change, so a toggle keeps the keyboard focus where it is.
    QList<Speaker> m_rowsFor;
    QList<QCheckBox *> m_toggles;
};

} // namespace pealix
