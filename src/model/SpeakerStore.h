#pragma once

#include "model/Preferences.h"
#include "model/Speaker.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

namespace pealix {

// The application's one list of speakers and of the user's choice among them.
// The discoveries come in from outside so this folder depends on no network code:
// the application passes functions that make a fresh discovery object per scan.
class SpeakerStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<pealix::Speaker> speakers READ speakers NOTIFY speakersChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(QSet<QString> enabledIDs READ enabledIDs NOTIFY enabledIDsChanged)

public:
    // Finds speakers for `timeoutSeconds`; never fails, an empty list means none.
    using Discover = std::function<QCoro::Task<QList<Speaker>>(double timeoutSeconds)>;

    static constexpr double ScanWindowSeconds = 3.0;

    // `sonos` and `cast` run side by side on every scan; a Cast speaker replaces a
    // Sonos one with the same id. The enabled ids are loaded from `preferences` here.
    SpeakerStore(Discover sonos, Discover cast, Preferences &preferences, QObject *parent = nullptr);

    const QList<Speaker> &speakers() const { return m_speakers; }
    bool isScanning() const { return m_isScanning; }
    const QSet<QString> &enabledIDs() const { return m_enabledIDs; }
    bool isEnabled(const QString &id) const { return m_enabledIDs.contains(id); }

    // The members of `speakers` that are switched on, in the order of `speakers`.
    QList<Speaker> enabledSpeakers() const;

    // Returns at once while another scan runs.
    QCoro::Task<> scan();

    // Switches `id` on or off and saves the whole set at once.
    void toggle(const QString &id);

    // Merged by id (a later speaker replaces an earlier one), then sorted by name and id.
    static QList<Speaker> mergeAndSort(const QList<Speaker> &first, const QList<Speaker> &second);

Q_SIGNALS:
    void speakersChanged();
    void isScanningChanged();
    void enabledIDsChanged();

private:
    void setScanning(bool scanning);

    Discover m_discoverSonos;
    Discover m_discoverCast;
    Preferences &m_preferences;
    QList<Speaker> m_speakers;
    bool m_isScanning = false;
    QSet<QString> m_enabledIDs;
};

} // namespace pealix
