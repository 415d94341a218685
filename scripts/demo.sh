#!/usr/bin/env bash
# The main job, end to end: installs what the build needs, builds the `pelorin` program, makes a
# demonstration with `pelorin demo` (a volumes folder holding an iPod with an empty database, a
# folder of generated songs, and a music library holding them with the iPod attached), syncs the
# library with the iPod with `pelorin sync`, and shows the iPod with `pelorin ipods`; a second sync
# then finds nothing left to do. Each sync ends with the line
# that says what it did ("Copied 39 songs (2.2 MB) to Demo iPod; removed 0; 0 errors."), and so
# does this script.
# Safe to run again: the demonstration is made afresh each time. Needs no terminal: every question
# is answered by --yes. PELORIN_DEMO_DIR chooses where it goes (default build/demo); nothing outside
# it is written (the iPod's state file goes into the demonstration's own data folder).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target pelorin

demo=${PELORIN_DEMO_DIR:-build/demo}
# Only an earlier demonstration (or an empty folder) is cleared away: PELORIN_DEMO_DIR pointed at a
# folder of one's own must not cost its contents.
if [ -d "$demo" ] && [ -n "$(ls -A "$demo")" ]; then
    if [ ! -d "$demo/Volumes/DEMOPOD" ] || [ ! -d "$demo/Songs" ]; then
        echo "$demo is not an earlier demonstration and not empty: choose another PELORIN_DEMO_DIR." >&2
        exit 1
    fi
fi
rm -rf "$demo"
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)

echo
echo "\$ pelorin demo $demo"
build/pelorin demo "$demo"

# The demonstration's volumes folder stands for /media/$USER, its library for ~/Music/iTunes, and
# its data folder for ~/.local/share, where the iPod's state file is kept.
export PELORIN_VOLUMES="$demo/Volumes"
export PELORIN_LIBRARY="$demo/Library"
export XDG_DATA_HOME="$demo/data"

echo
echo "\$ pelorin ipods"
build/pelorin ipods

run_sync() {
    echo
    echo "\$ pelorin sync --type copy-to-ipod --yes"
    # The run's progress lines are left out here; the log has every step.
    if ! build/pelorin sync --type copy-to-ipod --yes --log "$demo/sync.log" >"$demo/sync.out"; then
        cat "$demo/sync.out"
        echo "The sync failed; see $demo/sync.log." >&2
        exit 1
    fi
    grep -v -e '^Action ' -e '^Loading iPod Song Data' -e '^Reading ' "$demo/sync.out" || true
}
run_sync

echo
echo "\$ pelorin ipods"
build/pelorin ipods

echo
echo "On the iPod: $(find "$demo/Volumes/DEMOPOD/iPod_Control/Music" -type f | wc -l) song files in" \
    "iPod_Control/Music, listed in iPod_Control/iTunes/iTunesDB (and iTunesSD)."
echo "The run log is in $demo/sync.log; the iPod's state file in $XDG_DATA_HOME/Veltrano/Ondrivel/."
echo
echo "A second sync finds nothing left to do; like every sync, it ends with what it did:"
run_sync
