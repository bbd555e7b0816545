#pragma once

// A HotkeyManager over the given sources (it takes them over) whose callbacks
// write "P" for a press and "R" for a release into `log`; `changes` counts
// its monitoringChanged signals.
#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyEventSource.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace pealix::test {

struct HoldLog
{
    HoldLog(const HotkeyConfig &chord, std::initializer_list<KeyEventSource *> sources)
        : manager(chord, own(sources))
    {
        manager.setOnPress([this] { log += 'P'; });
        manager.setOnRelease([this] { log += 'R'; });
        QObject::connect(&manager, &HotkeyManager::monitoringChanged, [this] { ++changes; });
    }
    static std::vector<std::unique_ptr<KeyEventSource>> own(std::initializer_list<KeyEventSource *> sources)
    {
        std::vector<std::unique_ptr<KeyEventSource>> owned;
        for (KeyEventSource *source : sources)
            owned.emplace_back(source);
        std::erase(owned, nullptr);
        return owned;
    }

    std::string log;
    int changes = 0;
    HotkeyManager manager;
};

} // namespace pealix::test
