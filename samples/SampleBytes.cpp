#include "samples/SampleBytes.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace samples {

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

void AppendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void AppendU16BE(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void AppendU24BE(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    AppendU16BE(out, value);
}

void AppendU32BE(Bytes& out, std::uint32_t value)
{
    AppendU16BE(out, value >> 16);
    AppendU16BE(out, value);
}

void AppendU32sBE(Bytes& out, std::initializer_list<std::uint32_t> values)
{
    for (std::uint32_t value : values)
        AppendU32BE(out, value);
}

void AppendU64BE(Bytes& out, std::uint64_t value)
{
    AppendU32BE(out, static_cast<std::uint32_t>(value >> 32));
    AppendU32BE(out, static_cast<std::uint32_t>(value));
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (error || !out)
        throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text)
{
    WriteFile(path, Bytes(text.begin(), text.end()));
}

} // namespace samples
