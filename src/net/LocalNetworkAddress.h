#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace pealix::net {

// One entry of the system's interface list, reduced to what the choice needs.
struct InterfaceAddress
{
    QString name;       // "en0", "enp3s0", "wlp2s0", ...
    unsigned flags = 0; // IFF_* bits
    int family = 0;     // AF_INET, AF_INET6, ...
    QString address;    // numeric text; empty when the entry has none
};

// Picks the IPv4 address speakers on the local network can reach us at:
// interfaces that are up, not loopback, not link-local (169.254/16); "en0"
// first, then any "en*" name (which covers enp3s0, ens1, eno1), then the first.
std::optional<QString> chooseLocalNetworkAddress(const std::vector<InterfaceAddress> &interfaces);

// The same choice over this machine's interfaces, or nothing.
std::optional<QString> localNetworkAddress();

} // namespace pealix::net
