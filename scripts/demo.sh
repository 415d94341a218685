#!/usr/bin/env bash
# The main job, end to end: installs what the build needs, builds the `pelorin` program, makes a
# demonstration pair of folders and keeps them in step with `pelorin folders`, twice:
#   1. a first "synchronize" run copies what is new on each side to the other;
#   2. after a change, an addition and a deletion on each side, a second run carries all of them
#      over (the deletions too, thanks to the lists saved by the first run).
# Safe to run again: the demonstration folders are made afresh each time. Needs no terminal: every
# question is answered by --yes. PELORIN_DEMO_DIR chooses where the folders go (default build/demo).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target pelorin

demo=${PELORIN_DEMO_DIR:-build/demo}
rm -rf "$demo"
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
left="$demo/Library"
right="$demo/Player"

write() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" >"$1"; touch -d "$3" "$1"; }
write "$left/Artist A/Album 1/01 First Song.mp3" "first song" "2024-01-01 10:00"
write "$left/Artist A/Album 1/02 Second Song.mp3" "second song" "2024-01-01 10:00"
write "$left/Artist B/Single.mp3" "single" "2024-01-02 10:00"
write "$right/Artist C/Live/01 Opening.mp3" "opening" "2024-01-03 10:00"
write "$right/Playlists/Road Trip.txt" "road trip" "2024-01-03 10:00"

run() {
    echo
    echo "\$ pelorin folders Library Player --type synchronize --yes"
    build/pelorin folders "$left" "$right" --type synchronize --yes --state "$demo/demo.state" \
        --log "$demo/sync.log"
}
show() {
    echo "Library: $(cd "$left" && find . -type f | sort | sed 's|^\./||' | paste -sd ',' - | sed 's/,/, /g')"
    echo "Player:  $(cd "$right" && find . -type f | sort | sed 's|^\./||' | paste -sd ',' - | sed 's/,/, /g')"
}

echo "Before:"; show
run
echo "After the first run:"; show

# Changes on both sides between the runs.
write "$left/Artist B/Single.mp3" "single, remastered" "2024-02-01 10:00"
rm "$right/Playlists/Road Trip.txt"
write "$right/Artist D/New Find.mp3" "new find" "2024-02-02 10:00"
rm "$left/Artist A/Album 1/02 Second Song.mp3"
echo
echo "Changed: Single.mp3 on the Library side, Road Trip.txt deleted and New Find.mp3 added on the"
echo "Player side, 02 Second Song.mp3 deleted on the Library side."
run
echo "After the second run:"; show
echo
echo "The run log is in $demo/sync.log; the sync's state in $demo/demo.state."
