#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <utility>

namespace pealix::house {

// Where a child of the house runs and what it is given.
struct ChildPlan
{
    enum class Network { House, App };
    Network network = Network::House;
    // A tmpfs of its own over /run, holding `runFiles`; `binds` then lay files
    // of it over system files. All of it goes with the child.
    bool privateRun = false;
    QList<std::pair<QByteArray, QByteArray>> runFiles; // name under /run, contents
    QList<std::pair<QByteArray, QByteArray>> binds;    // name under /run, the file it covers
    // Runs as the person who started the house rather than as root.
    bool asUser = false;
    // Gives the child the app namespace's descriptor under this number (for `ip`).
    int appNamespaceFd = -1;
};

// The house's network namespaces, made without a name anywhere: the house
// process sits in the house namespace and holds the app namespace by a
// descriptor. Every child it starts is a relay (this same program) that dies
// with the house and runs the real program in a pid namespace of its own, so
// whatever ends the house, even SIGKILL, takes every child, every grandchild,
// both network namespaces and the link between them down with it. Without
// root the house first makes a user namespace in which it is root.
class Sandbox
{
public:
    // Makes the namespaces and enters the house one. Call before any thread
    // exists. Null with the reason when the system does not allow it.
    static std::unique_ptr<Sandbox> enter(QString *problem);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // The option that makes the house's own binary a relay (see Relay.h).
    static constexpr const char *kRelayOption = "--relay";

    // How to start `program` as a child: through the relay, which puts it in a
    // pid namespace of its own and, when `plan` says so, gives it the person's ids.
    QStringList command(const ChildPlan &plan, const QString &program, const QStringList &arguments) const;
    // To be run in the child between fork and exec (QProcess's child process
    // modifier): the network namespace, the private /run, the parent's death.
    std::function<void()> childSetup(const ChildPlan &plan) const;

    // A TAP device named `name` in the `where` namespace, non-blocking, frames
    // without packet info; -1 with the reason when it cannot be made (it
    // takes root: /dev/net/tun is root's alone).
    int openTap(const char *name, ChildPlan::Network where, QString *problem) const;

    bool inUserNamespace() const { return m_userNamespace; }
    quint64 houseNetwork() const { return m_houseInode; }
    quint64 appNetwork() const { return m_appInode; }

private:
    Sandbox() = default;

    bool m_userNamespace = false;
    uid_t m_uid = 0; // the person's own ids, outside any namespace of ours
    gid_t m_gid = 0;
    int m_houseFd = -1;
    int m_appFd = -1;
    quint64 m_houseInode = 0, m_appInode = 0;
};

} // namespace pealix::house
