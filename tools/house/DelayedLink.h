#pragma once

#include <chrono>
#include <thread>

namespace pealix::house {

// The link between the house and Pealix's side with a delay on it, for
// measuring what a round trip costs: two TAP devices, one in each namespace,
// and a thread that carries every Ethernet frame from one to the other
// `oneWay` after it left. It is what `tc qdisc ... netem delay` does on a
// veth pair, for kernels built without netem. Frames wait in order; a
// direction that holds more than a link's queue drops the newest, as a
// full queue does.
class DelayedLink
{
public:
    // Takes both descriptors (non-blocking TAP devices without packet info).
    DelayedLink(int houseTap, int appTap, std::chrono::microseconds oneWay);
    ~DelayedLink();
    DelayedLink(const DelayedLink &) = delete;
    DelayedLink &operator=(const DelayedLink &) = delete;

private:
    void run();

    int m_taps[2];
    int m_wake[2] = {-1, -1}; // a pipe: a byte in it ends the thread
    std::chrono::microseconds m_oneWay;
    std::thread m_thread;
};

} // namespace pealix::house
