#pragma once

#include <QHash>
#include <QMetaType>
#include <QString>
#include <QUrl>

namespace pealix {

// One saved message: an .m4a file in the messages folder named after its title.
struct SavedMessage
{
    QString id;    // the file name with its extension, unique within the folder
    QString title; // the file name without its extension
    QUrl url;      // the file's location

    friend bool operator==(const SavedMessage &, const SavedMessage &) = default;
};

inline size_t qHash(const SavedMessage &message, size_t seed = 0) noexcept
{
    return qHashMulti(seed, message.id, message.title, message.url);
}

} // namespace pealix

Q_DECLARE_METATYPE(pealix::SavedMessage)
