#include "model/SpeakerStore.h"

#include "model/CodePointOrder.h"

#include <QHash>
#include <QPointer>

#include <algorithm>

namespace pealix {

namespace {

QCoro::Task<QList<Speaker>> nothingFound()
{
    co_return QList<Speaker>{};
}

} // namespace

SpeakerStore::SpeakerStore(Discover sonos, Discover cast, Preferences &preferences, QObject *parent)
    : QObject(parent), m_discoverSonos(std::move(sonos)), m_discoverCast(std::move(cast)),
      m_preferences(preferences)
{
    // A missing key or a value of another type means nothing is switched on.
    if (const auto saved = m_preferences.readStringList(Preferences::EnabledSpeakerIDsKey))
        m_enabledIDs = QSet<QString>(saved->cbegin(), saved->cend());
}

QList<Speaker> SpeakerStore::enabledSpeakers() const
{
    QList<Speaker> enabled;
    for (const Speaker &speaker : m_speakers) {
        if (m_enabledIDs.contains(speaker.id))
            enabled << speaker;
    }
    return enabled;
}

QList<Speaker> SpeakerStore::mergeAndSort(const QList<Speaker> &first, const QList<Speaker> &second)
{
    QHash<QString, Speaker> byId;
    for (const QList<Speaker> *list : {&first, &second}) {
        for (const Speaker &speaker : *list)
            byId.insert(speaker.id, speaker);
    }
    QList<Speaker> merged(byId.cbegin(), byId.cend());
    std::sort(merged.begin(), merged.end(), [](const Speaker &a, const Speaker &b) {
        const int byName = compareCodePoints(a.name, b.name);
        if (byName != 0)
            return byName < 0;
        return compareCodePoints(a.id, b.id) < 0;
    });
    return merged;
}

QCoro::Task<> SpeakerStore::scan()
{
    // The check and the set happen together on the main thread, so scans never overlap.
    if (m_isScanning)
        co_return;
    setScanning(true);

    QPointer<SpeakerStore> self(this);
    // Tasks start when made: both discoveries run while we wait for the first.
    auto sonosTask = m_discoverSonos ? m_discoverSonos(ScanWindowSeconds) : nothingFound();
    auto castTask = m_discoverCast ? m_discoverCast(ScanWindowSeconds) : nothingFound();
    const QList<Speaker> sonos = co_await sonosTask;
    const QList<Speaker> cast = co_await castTask;
    if (!self)
        co_return;

    QList<Speaker> found = mergeAndSort(sonos, cast);
    if (found != m_speakers) {
        m_speakers = std::move(found);
        Q_EMIT speakersChanged();
    }
    setScanning(false);
}

void SpeakerStore::toggle(const QString &id)
{
    if (!m_enabledIDs.remove(id))
        m_enabledIDs.insert(id);
    QStringList saved(m_enabledIDs.cbegin(), m_enabledIDs.cend());
    // Any order would do; a fixed one keeps the settings file stable between saves.
    std::sort(saved.begin(), saved.end(), codePointLess);
    m_preferences.write(Preferences::EnabledSpeakerIDsKey, saved);
    Q_EMIT enabledIDsChanged();
}

void SpeakerStore::setScanning(bool scanning)
{
    if (m_isScanning == scanning)
        return;
    m_isScanning = scanning;
    Q_EMIT isScanningChanged();
}

} // namespace pealix
