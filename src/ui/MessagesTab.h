#pragma once

#include "model/SavedMessage.h"

#include <QList>
#include <QWidget>

class QLineEdit;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace pealix {

class MessageRecorderVM;
class MessageStore;
class StyledLabel;

// Records reusable messages, gives each a title, saves and deletes them. It
// never broadcasts: the panel plays what is saved here.
class MessagesTab : public QWidget
{
    Q_OBJECT
public:
    // The tab owns `recorder` (a default one when null).
    MessagesTab(MessageStore *messages, MessageRecorderVM *recorder = nullptr, QWidget *parent = nullptr);

    MessageRecorderVM *recorder() const { return m_recorder; }

    void refresh();
    void save();

    // What "Save" looks at: the title without spaces and tabs at either end
    // (line breaks count as text).
    static bool titleIsBlank(const QString &title);

private:
    void rebuildRows();

    MessageStore *m_messages;
    MessageRecorderVM *m_recorder;
    QLineEdit *m_title;
    QPushButton *m_record;
    StyledLabel *m_error;
    QWidget *m_pendingRow;
    QPushButton *m_save;
    QStackedWidget *m_area;
    QVBoxLayout *m_rows;
    QList<SavedMessage> m_rowsFor;
};

} // namespace pealix
