#pragma once

#include "model/SavedMessage.h"

#include <QList>
#include <QObject>
#include <QString>

namespace pealix {

// The user's saved messages: one .m4a file per message in a folder of its own,
// with no index beside it. File-system failures are swallowed; the list after
// the next reload shows the real state.
class MessageStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<pealix::SavedMessage> messages READ messages NOTIFY messagesChanged)

public:
    // Over "Pealix/Messages" in the per-user data location.
    explicit MessageStore(QObject *parent = nullptr);
    // Over a folder of the caller's choosing.
    explicit MessageStore(const QString &folder, QObject *parent = nullptr);

    static QString defaultFolder();

    const QList<SavedMessage> &messages() const { return m_messages; }
    const QString &folder() const { return m_folder; }

    void reload();
    // Copies the clip in under a free name made from the title; the clip stays where it is.
    void save(const QString &clipPath, const QString &title);
    void deleteMessage(const SavedMessage &message);

    // The file name base for a title: "Message" for an empty one, "/" and ":" as "-".
    static QString fileBase(const QString &title);
    // base + (n > 1 ? " n" : "") + ".m4a", with base cut on a character boundary
    // so that the whole name fits in `maxBytes` bytes of UTF-8.
    static QString fileName(const QString &base, int n, int maxBytes = 255);

Q_SIGNALS:
    void messagesChanged();

private:
    QString m_folder;
    QList<SavedMessage> m_messages;
};

} // namespace pealix
