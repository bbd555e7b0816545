#pragma once

// The panel over a real broadcaster (a fake microphone, fake Sonos players on
// loopback: the broadcast tests' rig) and real stores.

#include "UiTestSupport.h"

#include "broadcast/BroadcastRig.h"
#include "model/MessageStore.h"
#include "ui/PanelView.h"

namespace pealix::test {

struct PanelRig
{
    PanelRig()
    {
        panel = std::make_unique<PanelView>(&store, &messages, broadcast.broadcaster.get(),
                                            broadcast.preferences);
        panel->show();
    }

    // Finds speakers and switches every one of them on.
    void findAndEnable(const QList<Speaker> &speakers)
    {
        network.sonos = speakers;
        QCoro::waitFor(store.scan());
        for (const Speaker &speaker : speakers)
            store.toggle(speaker.id);
    }

    // A message in the Messages folder, as the Messages tab saves it.
    void saveMessage(const QString &title, const QByteArray &bytes)
    {
        QFile file(messagesDir.filePath(title + u".m4a"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        messages.reload();
    }

    bool awaitStatus(Broadcaster::Status::Kind kind)
    {
        return waitUntil([&] { return broadcast.status().kind == kind; });
    }

    template <typename T = QWidget> T *find(const char *name) const { return child<T>(panel.get(), name); }

    BroadcastRig broadcast;
    FakeNetwork network;
    SpeakerStore store{network.discoverSonos(), network.discoverCast(), broadcast.preferences};
    QTemporaryDir messagesDir;
    MessageStore messages{messagesDir.path()};
    std::unique_ptr<PanelView> panel;
};

} // namespace pealix::test
