#!/usr/bin/env python3
"""Reads one soak run back: the driver's JSON lines (announcements and process
figures) and the house's (what each room did), and prints

  - the process figures after the scan, after the first announcement and
    after every `every` announcements, and whether they stay flat after the
    first `every` (each compared as the median of ten readings);
  - the announcements that did not end, or ended with the engine not idle;
  - each Sonos player that was not put back where it was: every time it came
    back, and at the end against how it began.

Exit status 0 when the run was flat, every announcement ended and every
player is back; 1 otherwise.
"""
import json
import sys

FIGURES = [
    ("descriptors", "open fds", 1),
    ("residentKiB", "RSS MiB", 1024),
    ("heapKiB", "heap MiB", 1024),
    ("objects", "QObjects", 1),
    ("timers", "timers", 1),
]
# Resident memory settles as the allocator's arenas and Qt's caches fill; a
# few hundred KiB either way is noise, a leak of objects grows without end.
SLACK = {"residentKiB": 1024, "heapKiB": 256}
# What may be in flight at one reading beyond the first announcement's.
KEPT_SLACK = {"descriptors": 2, "objects": 10, "timers": 5}


def lines(path):
    found = []
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            line = line.strip()
            if line:
                try:
                    found.append(json.loads(line))
                except json.JSONDecodeError:
                    print(f"{path}: not a JSON line: {line[:80]}")
    return found


def figure(stats, key, scale):
    value = stats.get(key, 0)
    return f"{value / scale:.1f}" if scale != 1 else str(value)


def print_table(stats, marks):
    print("| after announcement | " + " | ".join(name for _, name, _ in FIGURES) + " |")
    print("|---" * (len(FIGURES) + 1) + "|")
    for after in marks:
        row = stats[after]
        print(f"| {after} | " + " | ".join(figure(row, key, scale) for key, _, scale in FIGURES) + " |")


def around(stats, mark, key, first, last):
    """The median of `key` over the ten announcements around `mark`, within
    [first, last]: a single reading may catch a request or a connection in
    flight, a leak moves every reading."""
    start = max(first, min(mark - 4, last - 9))
    values = sorted(stats[n].get(key, 0) for n in range(start, start + 10) if n in stats and n <= last)
    return values[len(values) // 2] if values else stats[mark].get(key, 0)


def growth(stats, first, last):
    """Figures (and classes of objects) that rose from `first` to `last`."""
    grown = []
    for key, name, scale in FIGURES:
        rise = around(stats, last, key, first, last) - around(stats, first, key, first, last)
        if rise > SLACK.get(key, 0):
            grown.append(f"{name} +{rise / scale:.1f}" if scale != 1 else f"{name} +{rise}")
    before = stats[first].get("classes", {})
    after = stats[last].get("classes", {})
    classes = sorted(((after[c] - before.get(c, 0), c) for c in after if after[c] > before.get(c, 0)),
                     reverse=True)
    return grown, classes


def check_announcements(results, count):
    problems = []
    ended = {r["announcement"]: r for r in results if "announcement" in r and "ended" in r}
    for r in results:
        if r.get("stuck"):
            problems.append(f"announcement {r['announcement']} did not end")
    for n in range(1, count + 1):
        if n not in ended:
            problems.append(f"announcement {n}: no result")
        elif not ended[n].get("idle"):
            problems.append(f"announcement {n} ended with the engine still busy")
    return problems, ended


def outcomes(ended):
    """How often each room ended each way, e.g. {'Kitchen': {'played': 200}}."""
    rooms = {}
    for r in ended.values():
        for d in r.get("deliveries", []):
            rooms.setdefault(d["name"], {}).setdefault(d["outcome"], 0)
            rooms[d["name"]][d["outcome"]] += 1
    return rooms


def check_players(events):
    problems = []
    sonos = [e for e in events if e.get("event") == "room" and e.get("kind") == "sonos"]
    backs = {}
    for room in sonos:
        name = room["room"]
        began = room["state"]
        finals = [e for e in events if e.get("event") == "final" and e.get("room") == name]
        if len(finals) != 1:
            problems.append(f"{name}: the house did not report how it ended")
            continue
        end = finals[0]["state"]
        for field in ("uri", "metadata", "track", "volume"):
            if end[field] != began[field]:
                problems.append(f"{name}: ends with {field} {end[field]!r}, began with {began[field]!r}")
        playing = began["transportState"] == "PLAYING"
        if (end["transportState"] == "PLAYING") != playing:
            problems.append(f"{name}: ends {end['transportState']}, began {began['transportState']}")
        # A paused position stays; a playing one moves on (h:mm:ss compares as text).
        if not playing and end["position"] != began["position"]:
            problems.append(f"{name}: ends at {end['position']}, began at {began['position']}")
        if playing and end["position"] < began["position"]:
            problems.append(f"{name}: ends at {end['position']}, before where it began ({began['position']})")
        came_back = [e for e in events if e.get("event") == "back" and e.get("room") == name]
        backs[name] = len(came_back)
        # The house's judgement each time it came back; the same difference
        # every time is said once, with how often.
        differences = {}
        for back in came_back:
            if not back.get("same"):
                now, was = back["state"], back["was"]
                fields = ", ".join(f"{field} {now[field]!r} instead of {was[field]!r}"
                                   for field in sorted(was) if now.get(field) != was[field])
                differences.setdefault(fields, []).append(back["t"])
        for fields, times in differences.items():
            problems.append(f"{name}: not back as it was {len(times)} of {len(came_back)} times, "
                            f"first at t={times[0]:.1f}: {fields}")
    return problems, backs


def main():
    if len(sys.argv) != 5:
        print("usage: soak.py DRIVER_RESULTS HOUSE_EVENTS ANNOUNCEMENTS EVERY")
        return 2
    results, events = lines(sys.argv[1]), lines(sys.argv[2])
    count, every = int(sys.argv[3]), int(sys.argv[4])
    ok = True

    stats = {r["stats"]["after"]: r["stats"] for r in results if "stats" in r}
    marks = sorted({0, 1, count} | set(range(every, count + 1, every)))
    missing = [m for m in marks if m not in stats]
    if missing:
        print(f"no process figures after announcements {missing}")
        ok = False
    marks = [m for m in marks if m in stats]
    if marks:
        print_table(stats, marks)
        settled = every if every in stats and every < marks[-1] else marks[0]
        grown, classes = growth(stats, settled, marks[-1])
        if grown:
            ok = False
            print(f"\nNOT flat after announcement {settled}: " + ", ".join(grown))
        else:
            print(f"\nflat after announcement {settled}")
        # By the end of the first announcement every object made once (the
        # network client, its caches) exists; a run that keeps many more
        # alive keeps something of each announcement, if only for a while.
        if 1 in stats and marks[-1] > 1:
            kept = [f"{name} +{around(stats, marks[-1], key, 1, marks[-1]) - stats[1].get(key, 0)}"
                    for key, name, _ in FIGURES if key in KEPT_SLACK and
                    around(stats, marks[-1], key, 1, marks[-1]) - stats[1].get(key, 0) > KEPT_SLACK[key]]
            if kept:
                ok = False
                print("more alive at the end than after the first announcement: " + ", ".join(kept))
                grown, classes = growth(stats, 1, marks[-1])
                settled = 1
        if classes:
            per = max(1, marks[-1] - settled)
            print(f"main-thread objects that grew after announcement {settled}: " +
                  ", ".join(f"{c} +{n} ({n / per:.2f}/announcement)" for n, c in classes[:12]))

    problems, ended = check_announcements(results, count)
    if ended:
        first = min(r["started"] for r in ended.values())
        last = max(r["ended"] for r in ended.values())
        print(f"\n{len(ended)} announcements in {last - first:.0f} s "
              f"({(last - first) / len(ended):.2f} s each)")
    for room, counts in sorted(outcomes(ended).items()):
        print(f"  {room}: " + ", ".join(f"{outcome} {n}" for outcome, n in sorted(counts.items())))
    player_problems, backs = check_players(events)
    for room, n in sorted(backs.items()):
        print(f"  {room}: put back {n} times")
    problems += player_problems
    if problems:
        ok = False
        print(f"\n{len(problems)} problems:")
        for problem in problems[:40]:
            print(f"  {problem}")
    else:
        print("every announcement ended; every Sonos player is back where it was")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
