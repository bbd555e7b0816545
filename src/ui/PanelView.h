#pragma once

#include "model/SavedMessage.h"

#include <QList>
#include <QWidget>

class QPushButton;
class QVBoxLayout;

namespace pealix {

class Broadcaster;
class MessageStore;
class Preferences;
class SpeakerStore;
class StyledLabel;
class TalkButton;

// The tray panel: what the broadcaster is doing, the talk button, the last
// error and how the last broadcast went, the saved messages, Settings and
// Quit. It keeps no state of its own: refresh() derives everything from the
// three shared objects and runs on each of their change signals; a tap calls
// the broadcaster and lets the signals redraw.
class PanelView : public QWidget
{
    Q_OBJECT
public:
    PanelView(SpeakerStore *speakers, MessageStore *messages, Broadcaster *broadcaster,
              Preferences &preferences, QWidget *parent = nullptr);

    void refresh();

    // As wide as its content (at least the design's minimum), and exactly as
    // tall as that width needs: wrapped lines count, no slack is spread around.
    QSize sizeHint() const override;
    // What a tap on the talk button does (also `pealix --talk`).
    void talk();

    // "No speakers" or "3 selected".
    static QString speakerSummary(qsizetype enabled);

Q_SIGNALS:
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void play(const SavedMessage &message);
    void rebuildRows();

    SpeakerStore *m_speakers;
    MessageStore *m_messages;
    Broadcaster *m_broadcaster;
    Preferences &m_preferences;
    StyledLabel *m_summary;
    TalkButton *m_talk;
    StyledLabel *m_error;
    StyledLabel *m_deliveryHeadline;
    StyledLabel *m_deliveryMissing;
    StyledLabel *m_hint;
    QVBoxLayout *m_rows;
    QPushButton *m_settings;
    QPushButton *m_quit;
    QList<SavedMessage> m_rowsFor;
};

} // namespace pealix
