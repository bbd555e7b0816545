#pragma once

#include <QHostAddress>
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

// The IPv4 address this machine would send from to reach `remote`, as the
// kernel's routing table decides it (a UDP socket connected to `remote`, then
// getsockname(); no packet is sent). Nothing when there is no route, when
// `remote` is not IPv4, or when the answer is loopback or link-local, which no
// speaker elsewhere could reach.
std::optional<QString> routedLocalAddress(const QHostAddress &remote);

// The address a speaker at `remote` can fetch from: the routed one, else the
// interface-name choice of localNetworkAddress().
std::optional<QString> localAddressFor(const QHostAddress &remote);

} // namespace pealix::net
