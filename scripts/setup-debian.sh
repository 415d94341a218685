#!/usr/bin/env bash
# Installs every Debian package that Pelorin needs to build, test, benchmark and fuzz.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    libicu-dev libsqlite3-dev libplist-dev libstb-dev libcli11-dev qt6-base-dev qt6-svg-dev
    # SHA-1, HMAC and AES for the signature of later iPods' databases:
    libssl-dev
    # FFmpeg's libraries convert FLAC, Ogg Vorbis and Opus songs for the iPod.
    libavformat-dev libavcodec-dev libswresample-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format
    # Independent peers used only by the tests and benchmarks:
    # libgpod reads and writes iPod databases, TagLib reads tags, rsync plans folder syncs.
    libgpod-dev libtag1-dev rsync
    # The encoders of FLAC, Ogg Vorbis, Opus and Apple Lossless make the files the tag reader is
    # checked on; ffprobe checks converted files; lame, id3v2, eyeD3 and AtomicParsley write tags
    # other than this program does, for the tag cross-check with TagLib.
    flac vorbis-tools opus-tools ffmpeg lame id3v2 eyed3 atomicparsley
    xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
