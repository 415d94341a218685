#pragma once
// What every sample-file writer needs: byte strings, big-endian appends (the music formats store
// their numbers that way) and writing a whole file.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace samples {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, const Bytes& more);
void AppendText(Bytes& out, const std::string& text); // the characters, without a terminator
void AppendU16BE(Bytes& out, std::uint32_t value);
void AppendU24BE(Bytes& out, std::uint32_t value);
void AppendU32BE(Bytes& out, std::uint32_t value);
void AppendU32sBE(Bytes& out, std::initializer_list<std::uint32_t> values);
void AppendU64BE(Bytes& out, std::uint64_t value);

// Writes a new file at `path`, creating its folders; throws std::runtime_error when it cannot.
// Samples are new files: they are written plainly, not flushed one by one.
void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, const std::string& text);

} // namespace samples
