#include "house/Sandbox.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace pealix::house {

namespace {

using namespace Qt::StringLiterals;

quint64 inode(const char *path)
{
    struct stat info = {};
    return stat(path, &info) == 0 ? quint64(info.st_ino) : 0;
}

bool writeFile(const char *path, const std::string &text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool whole = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    return whole;
}

QString reason(const char *what)
{
    return QString::fromLatin1(what) + u": "_s + QString::fromLocal8Bit(strerror(errno));
}

// Only async-signal-safe calls from here on: the child of a threaded process
// (which shares its memory until exec, as QProcess starts it) may not allocate.
[[noreturn]] void childFails(const char *what)
{
    const char *prefix = "pealix-house: cannot set up a child: ";
    (void)!write(2, prefix, strlen(prefix));
    (void)!write(2, what, strlen(what));
    (void)!write(2, "\n", 1);
    _exit(127);
}

struct Prepared
{
    pid_t parent = 0;
    int networkFd = -1;
    int appFd = -1;
    int passAppAs = -1;
    bool privateRun = false;
    std::vector<std::pair<std::string, std::string>> files; // path, contents
    std::vector<std::pair<std::string, std::string>> binds; // source, target
};

void setUpChild(const Prepared &p)
{
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != p.parent)
        childFails("the house is gone");
    setsid(); // the terminal's Ctrl+C is for the house, which ends its children in order
    if (p.networkFd >= 0 && setns(p.networkFd, CLONE_NEWNET) != 0)
        childFails("setns");
    if (p.passAppAs >= 0 && dup2(p.appFd, p.passAppAs) < 0)
        childFails("dup2");
    if (p.privateRun) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
            childFails("a private /run");
        for (const auto &[path, contents] : p.files) {
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || write(fd, contents.data(), contents.size()) != ssize_t(contents.size()))
                childFails(path.c_str());
            close(fd);
        }
        for (const auto &[source, target] : p.binds)
            if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
                childFails(target.c_str());
        // Services of the machine itself are not the house's to publish.
        if (access("/etc/avahi/services", F_OK) == 0)
            mount("tmpfs", "/etc/avahi/services", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755");
    }
}

} // namespace

std::unique_ptr<Sandbox> Sandbox::enter(QString *problem)
{
    std::unique_ptr<Sandbox> box(new Sandbox);
    box->m_uid = getuid();
    box->m_gid = getgid();
    const quint64 outside = inode("/proc/self/ns/net");
    if (geteuid() != 0) {
        if (unshare(CLONE_NEWUSER) != 0) {
            *problem = reason("cannot make a user namespace (unprivileged user namespaces are off here; "
                              "run it with sudo)");
            return nullptr;
        }
        box->m_userNamespace = true;
        if (!writeFile("/proc/self/setgroups", "deny") ||
            !writeFile("/proc/self/gid_map", "0 " + std::to_string(box->m_gid) + " 1") ||
            !writeFile("/proc/self/uid_map", "0 " + std::to_string(box->m_uid) + " 1")) {
            *problem = reason("cannot map ids in the user namespace");
            return nullptr;
        }
    }
    if (unshare(CLONE_NEWNET) != 0) {
        *problem = reason("cannot make the house's network namespace");
        return nullptr;
    }
    box->m_houseFd = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (unshare(CLONE_NEWNET) != 0) {
        *problem = reason("cannot make the app's network namespace");
        return nullptr;
    }
    box->m_appFd = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    box->m_appInode = inode("/proc/self/ns/net");
    if (box->m_houseFd < 0 || box->m_appFd < 0 || setns(box->m_houseFd, CLONE_NEWNET) != 0) {
        *problem = reason("cannot hold the network namespaces");
        return nullptr;
    }
    box->m_houseInode = inode("/proc/self/ns/net");
    if (box->m_houseInode == outside || box->m_appInode == outside || box->m_houseInode == 0) {
        *problem = u"the network namespaces did not come apart from the machine's own"_s;
        return nullptr;
    }

    return box;
}

Sandbox::~Sandbox()
{
    for (int fd : {m_houseFd, m_appFd})
        if (fd >= 0)
            close(fd);
}

QStringList Sandbox::command(const ChildPlan &plan, const QString &program,
                             const QStringList &arguments) const
{
    QStringList relay{QCoreApplication::applicationFilePath(), QString::fromLatin1(kRelayOption)};
    if (plan.asUser && m_userNamespace) {
        relay << u"--nested"_s << QString::number(m_uid) << QString::number(m_gid);
    } else if (plan.asUser && qEnvironmentVariableIntValue("SUDO_UID") > 0) {
        // Started through sudo: the person is the one who ran sudo.
        relay << u"--drop"_s << qEnvironmentVariable("SUDO_UID") << qEnvironmentVariable("SUDO_GID")
              << qEnvironmentVariable("SUDO_USER");
    }
    return relay << u"--"_s << program << arguments;
}

std::function<void()> Sandbox::childSetup(const ChildPlan &plan) const
{
    auto p = std::make_shared<Prepared>();
    p->parent = getpid();
    p->networkFd = plan.network == ChildPlan::Network::App ? m_appFd : -1;
    p->appFd = m_appFd;
    p->passAppAs = plan.appNamespaceFd;
    p->privateRun = plan.privateRun;
    for (const auto &[name, contents] : plan.runFiles)
        p->files.emplace_back("/run/" + name.toStdString(), contents.toStdString());
    for (const auto &[name, target] : plan.binds)
        p->binds.emplace_back("/run/" + name.toStdString(), target.toStdString());
    return [p] { setUpChild(*p); };
}

int Sandbox::openTap(const char *name, ChildPlan::Network where, QString *problem) const
{
    // A device belongs to the namespace of the thread that makes it.
    const bool app = where == ChildPlan::Network::App;
    if (app && setns(m_appFd, CLONE_NEWNET) != 0) {
        *problem = reason("cannot enter the app's network namespace");
        return -1;
    }
    int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ifreq request = {};
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if (fd < 0 || ioctl(fd, TUNSETIFF, &request) != 0) {
        *problem = reason("cannot make a TAP device (it takes root)");
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    if (app && setns(m_houseFd, CLONE_NEWNET) != 0) {
        *problem = reason("cannot go back to the house's network namespace");
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

} // namespace pealix::house
