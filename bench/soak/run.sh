#!/usr/bin/env bash
# bench/soak/run.sh [BUILD_DIR]: announcements in a row through the whole
# engine (house-driver: the stores and the broadcaster as the application
# makes them) against the simulated house of bench/soak/house.json, inside
# pealix-house's namespaces. Prints the driver's open descriptors, resident
# memory, heap, live QObjects and timers after the scan, after the first
# announcement and after every EVERY; whether they stay flat after the first
# EVERY; which announcements did not end; which Sonos player was not put back.
#
#   ANNOUNCEMENTS (200)  how many
#   EVERY (50)           figures after every this many
#   HOUSE                another house description
#   SAY ("Soak")         the words of the clip, spoken by espeak-ng (0.66 s)
#   KEEP                 a folder to keep the JSON lines in
#
# Needs the targets house-driver and pealix-house, espeak-ng and python3, and
# whatever pealix-house needs (network namespaces: root, or user namespaces).
set -eu
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
house=$build/tools/pealix-house
driver=$build/tests/house/house-driver
ANNOUNCEMENTS=${ANNOUNCEMENTS:-200}
EVERY=${EVERY:-50}
HOUSE=${HOUSE:-$here/house.json}
SAY=${SAY:-Soak}
for program in espeak-ng python3; do
    command -v "$program" >/dev/null || { echo "$program is not installed (scripts/install-deps.sh)"; exit 1; }
done
[ -x "$house" ] && [ -x "$driver" ] || { echo "build the targets pealix-house and house-driver first"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
speakers=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))["rooms"]))' "$HOUSE")

echo "$ANNOUNCEMENTS announcements to the $speakers rooms of $HOUSE"
started=$(date +%s)
status=0
# The house ends with the driver; its own lines for people go to a file.
"$house" "$HOUSE" --json "$work/house.jsonl" -- \
    "$driver" --say "$SAY" --announcements "$ANNOUNCEMENTS" --expect "$speakers" --report-every 1 \
    --volume 35 --limit 60 --results "$work/driver.jsonl" >"$work/house.log" 2>&1 || status=$?
echo "house and driver ended with status $status after $(($(date +%s) - started)) s"
if [ -n "${KEEP:-}" ]; then
    mkdir -p "$KEEP"
    cp "$work/house.jsonl" "$work/driver.jsonl" "$work/house.log" "$KEEP/"
fi
if [ "$status" -ne 0 ]; then
    tail -n 20 "$work/house.log"
fi
python3 "$here/soak.py" "$work/driver.jsonl" "$work/house.jsonl" "$ANNOUNCEMENTS" "$EVERY" || status=1
exit "$status"
