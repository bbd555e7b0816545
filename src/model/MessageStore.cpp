#include "model/MessageStore.h"

#include "model/AtomicFile.h"
#include "model/CodePointOrder.h"
#include "model/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace pealix {

namespace {
const QString kExtension = QStringLiteral("m4a");
// Enough numbered names for any real use; stops a loop over a folder that
// refuses every name (or is full of them) from running without end.
constexpr int kMaxNumber = 100000;

bool isMessageFile(const QFileInfo &entry)
{
    // A name that is only a dot and an extension (".m4a") has no extension.
    const QString name = entry.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && QStringView(name).mid(dot + 1) == kExtension && entry.isFile();
}
} // namespace

MessageStore::MessageStore(QObject *parent) : MessageStore(defaultFolder(), parent) {}

MessageStore::MessageStore(const QString &folder, QObject *parent) : QObject(parent), m_folder(folder)
{
    makePrivateFolder(m_folder);
    reload();
}

QString MessageStore::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Pealix/Messages");
}

void MessageStore::reload()
{
    QList<SavedMessage> found;
    const QDir dir(m_folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        if (!isMessageFile(entry))
            continue;
        const QString name = entry.fileName();
        found.append(SavedMessage{name, name.chopped(kExtension.size() + 1),
                                  QUrl::fromLocalFile(entry.absoluteFilePath())});
    }
    std::stable_sort(found.begin(), found.end(), [](const SavedMessage &a, const SavedMessage &b) {
        return codePointLess(a.title, b.title);
    });
    if (found != m_messages) {
        m_messages = found;
        Q_EMIT messagesChanged();
    }
}

QString MessageStore::fileBase(const QString &title)
{
    QString base = title.isEmpty() ? QStringLiteral("Message") : title;
    base.replace(QLatin1Char('/'), QLatin1Char('-'));
    base.replace(QLatin1Char(':'), QLatin1Char('-'));
    return base;
}

QString MessageStore::fileName(const QString &base, int n, int maxBytes)
{
    const QString suffix =
        (n > 1 ? QStringLiteral(" %1").arg(n) : QString()) + QLatin1Char('.') + kExtension;
    const qsizetype room = maxBytes - suffix.toUtf8().size();
    QString cut = base;
    // Drop whole characters (a surrogate pair counts as one) until the name fits.
    while (!cut.isEmpty() && cut.toUtf8().size() > room) {
        const qsizetype drop = cut.size() >= 2 && cut.back().isLowSurrogate()
                                       && cut[cut.size() - 2].isHighSurrogate()
                                   ? 2
                                   : 1;
        cut.chop(drop);
    }
    return cut + suffix;
}

void MessageStore::save(const QString &clipPath, const QString &title)
{
    const QString base = fileBase(title);
    const QDir dir(m_folder);
    if (dir.exists()) {
        for (int n = 1; n <= kMaxNumber; ++n) {
            const QString candidate = dir.filePath(fileName(base, n));
            if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
                continue;
            const CopyResult result = copyFileWithoutReplacing(clipPath, candidate);
            // Another writer took the name between our look and our rename: try the next.
            if (result != CopyResult::TargetExists)
                break;
        }
    }
    reload();
}

void MessageStore::deleteMessage(const SavedMessage &message)
{
    QFile::remove(message.url.toLocalFile());
    reload();
}

} // namespace pealix
