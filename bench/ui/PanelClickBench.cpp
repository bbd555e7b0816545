// ui_panel_click_bench X Y [ROUNDS]: clicks the tray icon at X,Y through XTest
// and times each click until the X server maps Pealix's panel, then closes the
// panel with a click elsewhere. Prints every round and the median and worst.
// Run by bench/ui/run.sh under a private Xvfb with a tray host.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int WaitLimitMs = 3000;
constexpr int PanelMinimumWidth = 60; // wider than any tray icon

bool isPealixPanel(Display *display, Window window)
{
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint))
        return false;
    const bool ours = hint.res_name && std::strcmp(hint.res_name, "pealix") == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    XWindowAttributes attributes{};
    return ours && XGetWindowAttributes(display, window, &attributes) && attributes.width > PanelMinimumWidth;
}

// The next event of `type` (MapNotify or UnmapNotify) for a panel of ours.
std::optional<Window> awaitPanel(Display *display, int type, Clock::time_point deadline)
{
    while (Clock::now() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == type && type == MapNotify && isPealixPanel(display, event.xmap.window))
                return event.xmap.window;
            if (event.type == type && type == UnmapNotify)
                return event.xunmap.window;
        }
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        poll(&fd, 1, int(std::max<long long>(left, 0)));
    }
    return std::nullopt;
}

// A popup takes the pointer a moment after it is mapped; a click before that
// would miss it. True once another client holds the pointer.
bool awaitPointerGrab(Display *display, Clock::time_point deadline)
{
    while (Clock::now() < deadline) {
        const int result = XGrabPointer(display, DefaultRootWindow(display), False, ButtonPressMask,
                                        GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
        if (result == AlreadyGrabbed)
            return true;
        if (result == GrabSuccess)
            XUngrabPointer(display, CurrentTime);
        XSync(display, False);
        pollfd none{-1, 0, 0};
        poll(&none, 0, 1);
    }
    return false;
}

void click(Display *display, int x, int y)
{
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ICON_X ICON_Y [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    Display *display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!display || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "no X display with the XTest extension\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        click(display, x, y);
        const auto panel = awaitPanel(display, MapNotify, start + std::chrono::milliseconds(WaitLimitMs));
        if (!panel) {
            std::fprintf(stderr, "round %d: no panel within %d ms\n", round + 1, WaitLimitMs);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::printf("round %2d: click -> panel mapped %.2f ms\n", round + 1, times.back());
        // Close it with a click far from the icon and wait until it is gone.
        if (!awaitPointerGrab(display, Clock::now() + std::chrono::milliseconds(WaitLimitMs))) {
            std::fprintf(stderr, "round %d: the panel never took the pointer\n", round + 1);
            return 1;
        }
        click(display, 40, DisplayHeight(display, DefaultScreen(display)) - 40);
        if (!awaitPanel(display, UnmapNotify, Clock::now() + std::chrono::milliseconds(WaitLimitMs))) {
            std::fprintf(stderr, "round %d: the panel did not close\n", round + 1);
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "click -> panel shown over %d rounds: median %.2f ms, worst %.2f ms, best %.2f ms (goal: <= 50 ms)\n",
        rounds, times[times.size() / 2], times.back(), times.front());
    XCloseDisplay(display);
    return 0;
}
