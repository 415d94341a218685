// pelorin tags FILE...: what Pelorin reads from each file, as the sources and the sync see it.

#include "ACommon/base/AError.h"
#include "ACommon/base/AString.h"
#include "ACommon/tags/ID3.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace cli {

namespace {

const char* const kColumns[] = {"path",       "name",      "artist",   "album",     "genre", "composer",
                                "tvshow",     "track",     "disc",     "disccount", "year",  "compilation",
                                "podcast",    "mediakind", "duration", "bitrate",   "size",  "pictures",
                                "musicstart", "musicend",  "appleid",  "tagkinds",  "result"};

// One value of a line: text, or a number that JSON writes without quotes.
struct Value {
    std::string text;
    bool number = false;
};

Value TextValue(const AString& s) { return {s.ToStdString(), false}; }
Value NumberValue(long long n) { return {std::to_string(n), true}; }

std::string TagKindNames(std::uint32_t kinds)
{
    static const std::pair<std::uint32_t, const char*> kNames[] = {
        {ID3::kID3v10, "ID3v1.0"},
        {ID3::kID3v11, "ID3v1.1"},
        {ID3::kID3v22, "ID3v2.2"},
        {ID3::kID3v23, "ID3v2.3"},
        {ID3::kID3v24, "ID3v2.4"},
        {ID3::kMP4, "MP4"},
        {ID3::kVorbisComment, "Vorbis comment"},
        {ID3::kRIFFInfo, "RIFF INFO"},
    };
    std::string out;
    for (const auto& [bit, name] : kNames) {
        if (!(kinds & bit))
            continue;
        if (!out.empty())
            out += ",";
        out += name;
    }
    return out;
}

std::vector<Value> ReadFile(const std::string& argument, int& result)
{
    ID3 tags;
    result = tags.SetFilePath(AString::FromUTF8(argument));
    AString name, artist, album, genre, composer, tvShow, appleID;
    tags.GetName(name);
    tags.GetArtist(artist);
    tags.GetAlbum(album);
    tags.GetGenre(genre);
    tags.GetComposer(composer);
    tags.GetTVShow(tvShow);
    tags.GetAppleID(appleID);
    long track = 0, disc = 0, discCount = 0, duration = 0, bitRate = 0;
    tags.GetTrackNumber(track);
    tags.GetDiskNumber(disc);
    tags.GetDiskCount(discCount);
    tags.GetDuration(duration);
    tags.GetBitrate(bitRate);
    unsigned long long musicStart = 0, musicEnd = 0;
    tags.GetMusicRange(&musicStart, &musicEnd);
    return {
        {argument, false},
        TextValue(name),
        TextValue(artist),
        TextValue(album),
        TextValue(genre),
        TextValue(composer),
        TextValue(tvShow),
        NumberValue(track),
        NumberValue(disc),
        NumberValue(discCount),
        NumberValue(tags.GetYear()),
        NumberValue(tags.GetCompilation()),
        NumberValue(tags.GetPodcast()),
        NumberValue(tags.GetMediaKind()),
        NumberValue(duration),
        NumberValue(bitRate),
        NumberValue(tags.GetFileSize()),
        NumberValue(tags.GetImageCount()),
        NumberValue(static_cast<long long>(musicStart)),
        NumberValue(static_cast<long long>(musicEnd)),
        TextValue(appleID),
        {TagKindNames(tags.GetTagKinds()), false},
        NumberValue(result),
    };
}

// Tab-separated, each value as the terminal may show it (a tab inside a value is written as \t).
std::string TabSeparated(const std::vector<Value>& values)
{
    std::string line;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += '\t';
        line += TerminalText(values[i].text);
    }
    return line;
}

// The length of the UTF-8 sequence that starts at `at`, or 0 when the bytes there are not one.
std::size_t UTF8SequenceLength(const std::string& s, std::size_t at)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char first = byte(at);
    std::size_t length =
        first < 0x80 ? 1
                     : (first >= 0xC2 && first < 0xE0
                            ? 2
                            : (first >= 0xE0 && first < 0xF0 ? 3 : (first >= 0xF0 && first < 0xF5 ? 4 : 0)));
    if (length == 0 || at + length > s.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    if (length == 3) {
        unsigned second = byte(at + 1);
        if ((first == 0xE0 && second < 0xA0) || (first == 0xED && second >= 0xA0))
            return 0; // overlong, or a surrogate
    } else if (length == 4) {
        unsigned second = byte(at + 1);
        if ((first == 0xF0 && second < 0x90) || (first == 0xF4 && second >= 0x90))
            return 0;
    }
    return length;
}

// A JSON string: quotes, backslashes and control characters escaped; bytes that are not UTF-8
// (possible only in a path given on the command line) become U+FFFD.
std::string JSONString(const std::string& s)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            static const char* const kShort[] = {"\\b", "\\t", "\\n", nullptr, "\\f", "\\r"};
            if (c >= 8 && c <= 13 && kShort[c - 8]) {
                out += kShort[c - 8];
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            }
            ++i;
        } else if (std::size_t length = UTF8SequenceLength(s, i); length > 0) {
            out.append(s, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string JSONObject(const std::vector<Value>& values)
{
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ",";
        out += JSONString(kColumns[i]);
        out += ":";
        out += values[i].number ? values[i].text : JSONString(values[i].text);
    }
    out += "}";
    return out;
}

int RunTags(const std::vector<std::string>& files, bool json)
{
    if (!json) {
        std::vector<Value> header;
        for (const char* column : kColumns)
            header.push_back({column, false});
        std::cout << TabSeparated(header) << '\n';
    }
    int status = kExitOk;
    for (const std::string& file : files) {
        int result = 0;
        std::vector<Value> values = ReadFile(file, result);
        std::cout << (json ? JSONObject(values) : TabSeparated(values)) << '\n';
        if (result != 0) {
            std::cerr << "pelorin tags: " << file << AError::Message(result) << " (" << result << ")\n";
            status = kExitError;
        }
    }
    std::cout.flush();
    return status;
}

} // namespace

void AddTagsCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand("tags", "Show what Pelorin reads from music files");
    command->footer(
        "Prints one line per file under a header line, tab-separated, in the columns:\n"
        "  path name artist album genre composer tvshow track disc disccount year compilation\n"
        "  podcast mediakind duration bitrate size pictures musicstart musicend appleid tagkinds\n"
        "  result\n"
        "duration is in seconds, bitrate in kbit/s, size in bytes; musicstart and musicend enclose\n"
        "the audio data (0 when unknown); mediakind is -1 when the file does not say; tagkinds\n"
        "names the tags that were read (ID3v1.0, ID3v1.1, ID3v2.2, ID3v2.3, ID3v2.4, MP4); result\n"
        "is 0 when the file was read, else the error code (also explained on stderr). A tab, line\n"
        "break or backslash inside a value is written as \\t, \\n, \\r or \\\\.\n"
        "With --json, one JSON object per file with the same keys, and no header line.\n"
        "Exit status: 0 when every file was read, 1 when any was not, 2 for bad arguments.");
    auto files = std::make_shared<std::vector<std::string>>();
    auto json = std::make_shared<bool>(false);
    command->add_option("FILE", *files, "Music files: MP3, MP4 family (m4a, m4b, m4p, mp4, m4v), AIFF")
        ->required();
    command->add_flag("--json", *json, "Print one JSON object per file instead of tab-separated lines");
    command->callback([files, json, &exitStatus]() { exitStatus = RunTags(*files, *json); });
}

} // namespace cli
