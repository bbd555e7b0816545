#include "house/DelayedLink.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <deque>
#include <vector>

namespace pealix::house {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kQueueFrames = 4096; // about what a home router's queue holds
constexpr size_t kLargestFrame = 65536;
constexpr int kFramesPerTurn = 64; // one direction cannot starve the other

struct Frame
{
    Clock::time_point due;
    std::vector<unsigned char> bytes;
};

} // namespace

DelayedLink::DelayedLink(int houseTap, int appTap, std::chrono::microseconds oneWay)
    : m_taps{houseTap, appTap}, m_oneWay(oneWay)
{
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { run(); });
}

DelayedLink::~DelayedLink()
{
    if (m_wake[1] >= 0)
        (void)!write(m_wake[1], "x", 1);
    m_thread.join();
    for (int fd : {m_taps[0], m_taps[1], m_wake[0], m_wake[1]})
        if (fd >= 0)
            close(fd);
}

void DelayedLink::run()
{
    std::array<std::deque<Frame>, 2> waiting; // [i]: read from tap i, to be written to the other
    std::vector<unsigned char> buffer(kLargestFrame);
    for (;;) {
        Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        for (int from = 0; from < 2; ++from) {
            std::deque<Frame> &queue = waiting[from];
            while (!queue.empty() && queue.front().due <= now) {
                (void)!write(m_taps[1 - from], queue.front().bytes.data(), queue.front().bytes.size());
                queue.pop_front();
            }
            if (!queue.empty() && queue.front().due < next)
                next = queue.front().due;
        }
        pollfd fds[3] = {{m_taps[0], POLLIN, 0}, {m_taps[1], POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        timespec wait = {};
        if (next != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now);
            wait.tv_sec = time_t(left.count() / 1'000'000'000);
            wait.tv_nsec = long(left.count() % 1'000'000'000);
        }
        if (ppoll(fds, 3, next == Clock::time_point::max() ? nullptr : &wait, nullptr) < 0 && errno != EINTR)
            return;
        if (fds[2].revents != 0 || m_wake[0] < 0 ||
            ((fds[0].revents | fds[1].revents) & (POLLERR | POLLHUP | POLLNVAL)))
            return;
        now = Clock::now();
        for (int from = 0; from < 2; ++from) {
            if (!(fds[from].revents & POLLIN))
                continue;
            for (int n = 0; n < kFramesPerTurn; ++n) {
                const ssize_t got = read(m_taps[from], buffer.data(), buffer.size());
                if (got <= 0)
                    break;
                if (waiting[from].size() < kQueueFrames)
                    waiting[from].push_back({now + m_oneWay, {buffer.begin(), buffer.begin() + got}});
            }
        }
    }
}

} // namespace pealix::house
