#include "house/Relay.h"

#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>

namespace pealix::house {

namespace {

volatile pid_t g_passTo = 0;

void passOn(int number)
{
    if (g_passTo > 0)
        kill(g_passTo, number);
}

[[noreturn]] void die(const char *what)
{
    fprintf(stderr, "pealix-house relay: %s: %s\n", what, strerror(errno));
    _exit(127);
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

// Passes the ending signals on to `child`, reaps whatever ends, and ends with the child's status.
[[noreturn]] void relayTo(pid_t child)
{
    g_passTo = child;
    struct sigaction action = {};
    action.sa_handler = passOn;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2})
        sigaction(number, &action, nullptr);
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(-1, &status, 0);
        if (ended == child)
            break;
        if (ended < 0 && errno == ECHILD)
            _exit(127);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

struct Plan
{
    enum class User { Stay, Drop, Nested } user = User::Stay;
    uid_t uid = 0;
    gid_t gid = 0;
    const char *name = nullptr;
    char **program = nullptr;
};

void becomeThePerson(const Plan &plan)
{
    if (plan.user == Plan::User::Drop) {
        std::vector<gid_t> groups(256);
        int count = int(groups.size());
        if (!plan.name || !*plan.name || getgrouplist(plan.name, plan.gid, groups.data(), &count) < 0)
            groups = {plan.gid}, count = 1;
        if (setgroups(size_t(count), groups.data()) != 0 || setresgid(plan.gid, plan.gid, plan.gid) != 0 ||
            setresuid(plan.uid, plan.uid, plan.uid) != 0)
            die("cannot become the person who ran sudo");
    } else if (plan.user == Plan::User::Nested) {
        // Root in the house's user namespace, the person again in this one:
        // their session bus and sound server expect their own ids.
        if (unshare(CLONE_NEWUSER) != 0 || !writeFile("/proc/self/setgroups", "deny") ||
            !writeFile("/proc/self/gid_map", std::to_string(plan.gid) + " 0 1") ||
            !writeFile("/proc/self/uid_map", std::to_string(plan.uid) + " 0 1"))
            die("cannot take the person's ids");
    }
}

} // namespace

int runRelay(int argc, char **argv)
{
    Plan plan;
    int i = 2;
    if (i + 3 < argc && !strcmp(argv[i], "--drop")) {
        plan = {Plan::User::Drop, uid_t(atoi(argv[i + 1])), gid_t(atoi(argv[i + 2])), argv[i + 3]};
        i += 4;
    } else if (i + 2 < argc && !strcmp(argv[i], "--nested")) {
        plan = {Plan::User::Nested, uid_t(atoi(argv[i + 1])), gid_t(atoi(argv[i + 2]))};
        i += 3;
    }
    if (i + 1 >= argc || strcmp(argv[i], "--") != 0) {
        fputs("pealix-house relay: nothing to run\n", stderr);
        return 127;
    }
    plan.program = argv + i + 1;
    if (unshare(CLONE_NEWPID) != 0)
        die("cannot make a pid namespace");
    const pid_t first = fork();
    if (first < 0)
        die("fork");
    if (first > 0)
        relayTo(first);
    // The namespace's first process: when it ends, the kernel ends the rest.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const pid_t program = fork();
    if (program < 0)
        die("fork");
    if (program > 0)
        relayTo(program);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    becomeThePerson(plan);
    execvp(plan.program[0], plan.program);
    die(plan.program[0]);
}

} // namespace pealix::house
