#pragma once
// ScriptInterpreter: runs a parsed script against the library's object model:
//
//   application  name, version; its sources; its playlists and tracks are those of the library
//   source       name, kind (library or iPod); its playlists; its tracks are its library playlist's
//   playlist     name, smart, special kind; its tracks, in the playlist's order
//   track        name, artist, album artist, album, genre, composer, show, kind, location, size,
//                duration, bit rate, sample rate, track number and count, disc number and count,
//                year, compilation, podcast, database ID; its artworks
//   artwork      data, format
//
// A property of several objects is the list of that property of each. "every track of ..." is
// read from the source only when a property or a count of it is asked, so a list of one property
// of every track of a playlist is one read. A script's changes happen inside one transaction of
// every source it touches: the script's first failure ends it, and then every change it made is
// undone. The reply is the value of the last statement run. The library's own store is locked for
// writing only by a script that changes it.

#include "musiclib/ScriptTree.h"
#include "musiclib/ScriptValue.h"

#include <string>

class MusicLibrary;

class ScriptInterpreter {
public:
    explicit ScriptInterpreter(MusicLibrary& served) : library(served) {}

    // 0 and the script's reply in `result`; else an error code, `error` set, and no change kept.
    int Run(const ScriptProgram& program, ScriptValue& result, std::string& error);

private:
    int RunOnce(const ScriptProgram& program, bool libraryWrites, ScriptValue& result, std::string& error);

    MusicLibrary& library;
};
