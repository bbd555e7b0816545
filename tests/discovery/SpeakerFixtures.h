#pragma once

#include "model/Speaker.h"

namespace pealix::test {

inline Speaker castSpeaker(const QString &id, const QString &name, qint64 port = 8009,
                           const QString &host = "127.0.0.1")
{
    return {"cast:" + id, SpeakerKind::Chromecast, name, host, port, std::nullopt};
}

} // namespace pealix::test
