#include "ACommon/sources/AudioTranscoder.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AString.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

// Every classic iPod plays up to 48 kHz, two channels, 16 bits.
constexpr int kMaxSampleRate = 48000;

// ---- FFmpeg's libraries -------------------------------------------------------------------------
// Loaded at the first conversion rather than at every start: they pull in some 120 further libraries
// (codecs, image formats, TLS, X11) whose loading and relocation would otherwise make up most of the
// start of every run. Each function is called through a pointer of its own declared type.

#define PELORIN_STRINGIFY(x) #x
#define PELORIN_SONAME(name, major) "lib" name ".so." PELORIN_STRINGIFY(major)

enum Library { kFormat, kCodec, kResample, kUtil, kLibraryCount };

// The libraries the first conversion loads: by default the ones the program was built against.
std::vector<std::string>& LibraryNames()
{
    static std::vector<std::string> names = {
        PELORIN_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
        PELORIN_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
        PELORIN_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR),
        PELORIN_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
    };
    return names;
}

// clang-format off
#define PELORIN_FFMPEG_FUNCTIONS(X) \
    X(kFormat, avformat_close_input) \
    X(kFormat, avio_closep) \
    X(kFormat, avformat_free_context) \
    X(kFormat, avformat_open_input) \
    X(kFormat, avformat_find_stream_info) \
    X(kFormat, av_find_best_stream) \
    X(kFormat, avformat_alloc_output_context2) \
    X(kFormat, avformat_new_stream) \
    X(kFormat, avio_open) \
    X(kFormat, avformat_write_header) \
    X(kFormat, av_interleaved_write_frame) \
    X(kFormat, av_read_frame) \
    X(kFormat, av_write_trailer) \
    X(kCodec, avcodec_free_context) \
    X(kCodec, av_packet_free) \
    X(kCodec, avcodec_alloc_context3) \
    X(kCodec, avcodec_parameters_to_context) \
    X(kCodec, avcodec_open2) \
    X(kCodec, avcodec_find_encoder) \
    X(kCodec, avcodec_parameters_from_context) \
    X(kCodec, avcodec_parameters_copy) \
    X(kCodec, av_packet_clone) \
    X(kCodec, avcodec_send_frame) \
    X(kCodec, av_packet_alloc) \
    X(kCodec, avcodec_receive_packet) \
    X(kCodec, av_packet_rescale_ts) \
    X(kCodec, avcodec_send_packet) \
    X(kCodec, avcodec_receive_frame) \
    X(kCodec, av_packet_unref) \
    X(kResample, swr_free) \
    X(kResample, swr_alloc_set_opts2) \
    X(kResample, swr_init) \
    X(kResample, swr_get_out_samples) \
    X(kResample, swr_convert) \
    X(kUtil, av_audio_fifo_free) \
    X(kUtil, av_frame_free) \
    X(kUtil, av_dict_get) \
    X(kUtil, av_dict_set) \
    X(kUtil, av_channel_layout_default) \
    X(kUtil, av_audio_fifo_alloc) \
    X(kUtil, av_dict_copy) \
    X(kUtil, av_audio_fifo_size) \
    X(kUtil, av_frame_alloc) \
    X(kUtil, av_channel_layout_copy) \
    X(kUtil, av_frame_get_buffer) \
    X(kUtil, av_audio_fifo_read) \
    X(kUtil, av_audio_fifo_write) \
    X(kUtil, av_frame_unref) \
    X(kUtil, av_rescale) \
    X(kUtil, av_log_set_level)
// clang-format on

struct FFmpegFunctions {
#define PELORIN_DECLARE(library, name) decltype(&::name) name = nullptr;
    PELORIN_FFMPEG_FUNCTIONS(PELORIN_DECLARE)
#undef PELORIN_DECLARE
};

// Fills `into` from the libraries `sonames` (in the order of Library). 0, or kErrNotSupported with
// `why` naming the library that is missing or lacks a function; nothing stays loaded then.
int LoadFFmpeg(const std::vector<std::string>& sonames, FFmpegFunctions& into, std::string& why)
{
    if (sonames.size() != kLibraryCount) {
        why = "FFmpeg's libraries are not named";
        return kErrNotSupported;
    }
    void* handles[kLibraryCount] = {};
    auto release = [&handles] {
        for (void* handle : handles)
            if (handle)
                dlclose(handle);
    };
    for (int i = 0; i < kLibraryCount; ++i) {
        handles[i] = dlopen(sonames[static_cast<std::size_t>(i)].c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handles[i]) {
            const char* reason = dlerror();
            why = "FFmpeg's " + sonames[static_cast<std::size_t>(i)] + " is not installed (" +
                  (reason ? reason : "not found") + ")";
            release();
            return kErrNotSupported;
        }
    }
    FFmpegFunctions loaded;
#define PELORIN_RESOLVE(library, name)                                                                       \
    loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(handles[library], #name));                       \
    if (!loaded.name) {                                                                                      \
        why = "FFmpeg's " + sonames[library] + " has no " #name;                                             \
        release();                                                                                           \
        return kErrNotSupported;                                                                             \
    }
    PELORIN_FFMPEG_FUNCTIONS(PELORIN_RESOLVE)
#undef PELORIN_RESOLVE
    into = loaded;
    return 0; // the handles stay open for the rest of the run
}

// The functions every conversion calls, once LoadedFFmpeg has returned 0.
FFmpegFunctions av;

int LoadedFFmpeg(std::string& why)
{
    static std::once_flag once;
    static int result = 0;
    static std::string failure;
    std::call_once(once, [] { result = LoadFFmpeg(LibraryNames(), av, failure); });
    why = failure;
    return result;
}

struct InputCloser {
    void operator()(AVFormatContext* c) const { av.avformat_close_input(&c); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const
    {
        if (c && c->pb)
            av.avio_closep(&c->pb);
        av.avformat_free_context(c);
    }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { av.avcodec_free_context(&c); }
};
struct ResamplerCloser {
    void operator()(SwrContext* c) const { av.swr_free(&c); }
};
struct FifoCloser {
    void operator()(AVAudioFifo* f) const { av.av_audio_fifo_free(f); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av.av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av.av_packet_free(&p); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketCloser>;

// "3" and a separate total "12" become "3/12", which the M4A writer stores as number and count.
void JoinNumberAndCount(AVDictionary** metadata, const char* key, const char* totalA, const char* totalB)
{
    const AVDictionaryEntry* number = av.av_dict_get(*metadata, key, nullptr, 0);
    const AVDictionaryEntry* total = av.av_dict_get(*metadata, totalA, nullptr, 0);
    if (!total)
        total = av.av_dict_get(*metadata, totalB, nullptr, 0);
    if (!number || !total || std::strchr(number->value, '/'))
        return;
    const std::string joined = std::string(number->value) + "/" + total->value;
    av.av_dict_set(metadata, key, joined.c_str(), 0);
}

// ---- The gapless item ---------------------------------------------------------------------------
// An MP4 atom: 32-bit big-endian size (header included), 4-character type, the payload. meta is a
// full atom: 4 bytes of version and flags before its children. The item goes into
// moov/udta/meta/ilst as "----" { mean "com.apple.iTunes", name "iTunSMPB", data (UTF-8 text) },
// the containers made where missing. The movie atom must be the file's last, so that no chunk
// offset moves.

std::uint32_t U32BE(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

void PutU32BE(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::vector<std::uint8_t> MakeAtom(const char* type, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> atom(8);
    PutU32BE(atom, 0, static_cast<std::uint32_t>(8 + payload.size()));
    std::memcpy(atom.data() + 4, type, 4);
    atom.insert(atom.end(), payload.begin(), payload.end());
    return atom;
}

std::vector<std::uint8_t> Bytes(const std::string& text, std::size_t zeros)
{
    std::vector<std::uint8_t> out(zeros, 0);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

// `item` wrapped in the containers of `path` from `depth` on, as a new child.
std::vector<std::uint8_t> Wrapped(const std::vector<const char*>& path, std::size_t depth,
                                  std::vector<std::uint8_t> item)
{
    for (std::size_t i = path.size(); i-- > depth;) {
        std::vector<std::uint8_t> payload;
        if (std::strcmp(path[i], "meta") == 0) {
            // Version and flags, then the handler the iTunes metadata needs.
            payload.assign(4, 0);
            std::vector<std::uint8_t> handler = Bytes("mdirappl", 8);
            handler.resize(handler.size() + 9, 0);
            std::vector<std::uint8_t> hdlr = MakeAtom("hdlr", handler);
            payload.insert(payload.end(), hdlr.begin(), hdlr.end());
        }
        payload.insert(payload.end(), item.begin(), item.end());
        item = MakeAtom(path[i], payload);
    }
    return item;
}

// Puts `item` at the end of the atom at `at` (of type path[depth]) or of its descendants along
// `path`, growing every size on the way. False for a damaged tree.
bool InsertInto(std::vector<std::uint8_t>& tree, std::size_t at, const std::vector<const char*>& path,
                std::size_t depth, const std::vector<std::uint8_t>& item)
{
    const std::uint32_t size = U32BE(tree, at);
    if (size < 8 || at + size > tree.size())
        return false;
    std::vector<std::uint8_t> added;
    std::size_t insertAt = at + size;
    if (depth + 1 == path.size()) {
        added = item;
    } else {
        std::size_t child = at + 8 + (std::strcmp(path[depth], "meta") == 0 ? 4 : 0);
        bool found = false;
        while (child + 8 <= at + size) {
            const std::uint32_t childSize = U32BE(tree, child);
            if (childSize < 8 || child + childSize > at + size)
                return false;
            if (std::memcmp(tree.data() + child + 4, path[depth + 1], 4) == 0) {
                found = true;
                break;
            }
            child += childSize;
        }
        if (found) {
            const std::size_t before = tree.size();
            if (!InsertInto(tree, child, path, depth + 1, item))
                return false;
            PutU32BE(tree, at, static_cast<std::uint32_t>(size + (tree.size() - before)));
            return true;
        }
        added = Wrapped(path, depth + 1, item);
    }
    tree.insert(tree.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());
    PutU32BE(tree, at, static_cast<std::uint32_t>(size + added.size()));
    return true;
}

// Writes the gapless item into the finished M4A at `path`. kErrIO when the file cannot be read or
// written; a file whose movie atom is not last is left as it is (its players see no gaps).
int AddGaplessItem(const std::string& path, std::uint32_t delay, std::uint32_t padding, std::uint64_t samples)
{
    FILE* file = std::fopen(path.c_str(), "r+b");
    if (!file)
        return kErrIO;
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, std::fclose);
    // The top-level atoms: the last must be moov.
    std::uint64_t position = 0, moovAt = 0;
    bool moovLast = false;
    if (std::fseek(file, 0, SEEK_END) != 0)
        return kErrIO;
    const long end = std::ftell(file);
    while (end > 0 && position + 8 <= static_cast<std::uint64_t>(end)) {
        std::vector<std::uint8_t> head(8);
        if (std::fseek(file, static_cast<long>(position), SEEK_SET) != 0 ||
            std::fread(head.data(), 1, 8, file) != 8)
            return kErrIO;
        const std::uint32_t size = U32BE(head, 0);
        if (size < 8)
            return 0; // 64-bit or open-ended atoms: left as written
        moovLast = std::memcmp(head.data() + 4, "moov", 4) == 0 &&
                   position + size == static_cast<std::uint64_t>(end);
        moovAt = position;
        position += size;
    }
    if (!moovLast)
        return 0;
    std::vector<std::uint8_t> moov(static_cast<std::size_t>(static_cast<std::uint64_t>(end) - moovAt));
    if (std::fseek(file, static_cast<long>(moovAt), SEEK_SET) != 0 ||
        std::fread(moov.data(), 1, moov.size(), file) != moov.size())
        return kErrIO;

    char text[160];
    std::snprintf(
        text, sizeof text,
        " 00000000 %08X %08X %016llX 00000000 00000000 00000000 00000000 00000000 00000000 00000000 "
        "00000000",
        delay, padding, static_cast<unsigned long long>(samples));
    std::vector<std::uint8_t> inner = MakeAtom("mean", Bytes("com.apple.iTunes", 4));
    for (const std::vector<std::uint8_t>& part :
         {MakeAtom("name", Bytes("iTunSMPB", 4)),
          MakeAtom("data", Bytes(std::string("\x00\x00\x00\x01", 4) + std::string(4, '\0') + text, 0))})
        inner.insert(inner.end(), part.begin(), part.end());
    if (!InsertInto(moov, 0, {"moov", "udta", "meta", "ilst"}, 0, MakeAtom("----", inner)))
        return 0;
    if (std::fseek(file, static_cast<long>(moovAt), SEEK_SET) != 0 ||
        std::fwrite(moov.data(), 1, moov.size(), file) != moov.size() || std::fflush(file) != 0)
        return kErrIO;
    return 0;
}

class Conversion {
public:
    Conversion(const std::function<bool()>& isCancelled, const std::function<void(double)>& report)
        : cancelled(isCancelled), progress(report)
    {
    }
    int Run(const std::string& input, const std::string& output, AudioTranscoder::Codec codec, int aacKbps,
            std::uint64_t sourceSamples);

private:
    int OpenInput(const std::string& input);
    int OpenEncoder(AudioTranscoder::Codec codec, int aacKbps);
    int OpenOutput(const std::string& output);
    int Decode(AVPacket* packet);
    int EncodeFromFifo(bool flush);
    int WriteEncoded(AVFrame* frame);
    // Queues up to `made` resampled samples, none past the music's end.
    int Queue(std::uint8_t** data, int made);

    const std::function<bool()>& cancelled;
    const std::function<void(double)>& progress;
    std::unique_ptr<AVFormatContext, InputCloser> in;
    std::unique_ptr<AVFormatContext, OutputCloser> out;
    std::unique_ptr<AVCodecContext, CodecCloser> decoder, encoder;
    std::unique_ptr<SwrContext, ResamplerCloser> resampler;
    std::unique_ptr<AVAudioFifo, FifoCloser> fifo;
    int audioIndex = -1;
    int pictureIndex = -1;
    AVStream* outAudio = nullptr;
    AVStream* outPicture = nullptr;
    std::int64_t nextPts = 0; // the samples given to the encoder so far
    std::int64_t packets = 0; // the packets it gave back
    std::int64_t queued = 0;  // the samples put into the queue
    std::int64_t limit = -1;  // the music's length at the output rate, when known
    double totalSeconds = 0;
};

int Conversion::OpenInput(const std::string& input)
{
    AVFormatContext* context = nullptr;
    if (av.avformat_open_input(&context, input.c_str(), nullptr, nullptr) < 0)
        return kErrFileType;
    in.reset(context);
    if (av.avformat_find_stream_info(in.get(), nullptr) < 0)
        return kErrFileType;
    const AVCodec* codec = nullptr;
    audioIndex = av.av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (audioIndex < 0 || !codec)
        return kErrFileType;
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if ((in->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) && pictureIndex < 0 &&
            (in->streams[i]->codecpar->codec_id == AV_CODEC_ID_MJPEG ||
             in->streams[i]->codecpar->codec_id == AV_CODEC_ID_PNG))
            pictureIndex = static_cast<int>(i);
    decoder.reset(av.avcodec_alloc_context3(codec));
    if (!decoder || av.avcodec_parameters_to_context(decoder.get(), in->streams[audioIndex]->codecpar) < 0 ||
        av.avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return kErrFileType;
    if (in->duration > 0)
        totalSeconds = static_cast<double>(in->duration) / AV_TIME_BASE;
    return 0;
}

int Conversion::OpenEncoder(AudioTranscoder::Codec codec, int aacKbps)
{
    const AVCodec* encoderCodec =
        av.avcodec_find_encoder(codec == AudioTranscoder::Codec::kALAC ? AV_CODEC_ID_ALAC : AV_CODEC_ID_AAC);
    if (!encoderCodec)
        return kErrIO;
    encoder.reset(av.avcodec_alloc_context3(encoderCodec));
    if (!encoder)
        return kErrOutOfMemory;
    const int channels = decoder->ch_layout.nb_channels >= 2 ? 2 : 1;
    av.av_channel_layout_default(&encoder->ch_layout, channels);
    encoder->sample_rate = decoder->sample_rate > kMaxSampleRate ? kMaxSampleRate : decoder->sample_rate;
    encoder->sample_fmt = codec == AudioTranscoder::Codec::kALAC ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_FLTP;
    if (codec == AudioTranscoder::Codec::kAAC) {
        encoder->bit_rate = static_cast<std::int64_t>(aacKbps) * 1000;
        encoder->profile = FF_PROFILE_AAC_LOW;
    }
    encoder->time_base = AVRational{1, encoder->sample_rate};
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (av.avcodec_open2(encoder.get(), encoderCodec, nullptr) < 0)
        return kErrIO;

    SwrContext* swr = nullptr;
    if (av.swr_alloc_set_opts2(&swr, &encoder->ch_layout, encoder->sample_fmt, encoder->sample_rate,
                               &decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate, 0,
                               nullptr) < 0)
        return kErrIO;
    resampler.reset(swr);
    if (av.swr_init(resampler.get()) < 0)
        return kErrIO;
    fifo.reset(av.av_audio_fifo_alloc(encoder->sample_fmt, channels, 1));
    return fifo ? 0 : kErrOutOfMemory;
}

int Conversion::OpenOutput(const std::string& output)
{
    AVFormatContext* context = nullptr;
    if (av.avformat_alloc_output_context2(&context, nullptr, "ipod", output.c_str()) < 0)
        return kErrIO;
    out.reset(context);
    // The tags: the file's, then the audio stream's (where Ogg keeps its comments).
    av.av_dict_copy(&out->metadata, in->metadata, 0);
    av.av_dict_copy(&out->metadata, in->streams[audioIndex]->metadata, AV_DICT_DONT_OVERWRITE);
    JoinNumberAndCount(&out->metadata, "track", "TRACKTOTAL", "TOTALTRACKS");
    JoinNumberAndCount(&out->metadata, "disc", "DISCTOTAL", "TOTALDISCS");
    av.av_dict_set(&out->metadata, "encoder", nullptr, 0);

    outAudio = av.avformat_new_stream(out.get(), nullptr);
    if (!outAudio || av.avcodec_parameters_from_context(outAudio->codecpar, encoder.get()) < 0)
        return kErrIO;
    outAudio->time_base = encoder->time_base;
    if (pictureIndex >= 0) {
        outPicture = av.avformat_new_stream(out.get(), nullptr);
        if (!outPicture ||
            av.avcodec_parameters_copy(outPicture->codecpar, in->streams[pictureIndex]->codecpar) < 0)
            return kErrIO;
        outPicture->disposition = AV_DISPOSITION_ATTACHED_PIC;
        outPicture->codecpar->codec_tag = 0;
    }
    if (av.avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE) < 0)
        return kErrIO;
    if (av.avformat_write_header(out.get(), nullptr) < 0)
        return kErrIO;
    if (outPicture) {
        AVPacket* picture = av.av_packet_clone(&in->streams[pictureIndex]->attached_pic);
        if (!picture)
            return kErrOutOfMemory;
        PacketPtr owned(picture);
        picture->stream_index = outPicture->index;
        if (av.av_interleaved_write_frame(out.get(), picture) < 0)
            return kErrIO;
    }
    return 0;
}

int Conversion::WriteEncoded(AVFrame* frame)
{
    if (av.avcodec_send_frame(encoder.get(), frame) < 0)
        return kErrIO;
    PacketPtr packet(av.av_packet_alloc());
    if (!packet)
        return kErrOutOfMemory;
    for (;;) {
        const int got = av.avcodec_receive_packet(encoder.get(), packet.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return 0;
        if (got < 0)
            return kErrIO;
        ++packets;
        packet->stream_index = outAudio->index;
        av.av_packet_rescale_ts(packet.get(), encoder->time_base, outAudio->time_base);
        if (av.av_interleaved_write_frame(out.get(), packet.get()) < 0)
            return kErrIO;
    }
}

// Hands the encoder frames of exactly its frame size (the last one may be shorter).
int Conversion::EncodeFromFifo(bool flush)
{
    const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 4096;
    while (av.av_audio_fifo_size(fifo.get()) >= frameSize ||
           (flush && av.av_audio_fifo_size(fifo.get()) > 0)) {
        const int n = std::min(av.av_audio_fifo_size(fifo.get()), frameSize);
        FramePtr frame(av.av_frame_alloc());
        if (!frame)
            return kErrOutOfMemory;
        frame->nb_samples = n;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        if (av.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
            av.av_frame_get_buffer(frame.get(), 0) < 0)
            return kErrOutOfMemory;
        if (av.av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), n) < n)
            return kErrIO;
        frame->pts = nextPts;
        nextPts += n;
        if (int err = WriteEncoded(frame.get()); err != 0)
            return err;
    }
    return 0;
}

int Conversion::Queue(std::uint8_t** data, int made)
{
    if (limit >= 0)
        made = static_cast<int>(std::max<std::int64_t>(0, std::min<std::int64_t>(made, limit - queued)));
    if (made == 0)
        return 0;
    if (av.av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(data), made) < made)
        return kErrOutOfMemory;
    queued += made;
    return 0;
}

// Decodes `packet` (null: drains the decoder), resamples and queues the samples.
int Conversion::Decode(AVPacket* packet)
{
    if (av.avcodec_send_packet(decoder.get(), packet) < 0 && packet)
        return 0; // a damaged packet is skipped, as players do
    FramePtr frame(av.av_frame_alloc());
    if (!frame)
        return kErrOutOfMemory;
    for (;;) {
        const int got = av.avcodec_receive_frame(decoder.get(), frame.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            break;
        if (got < 0)
            return kErrFileType;
        const int room = av.swr_get_out_samples(resampler.get(), frame->nb_samples);
        if (room <= 0) {
            av.av_frame_unref(frame.get());
            continue;
        }
        FramePtr converted(av.av_frame_alloc());
        if (!converted)
            return kErrOutOfMemory;
        converted->nb_samples = room;
        converted->format = encoder->sample_fmt;
        if (av.av_channel_layout_copy(&converted->ch_layout, &encoder->ch_layout) < 0 ||
            av.av_frame_get_buffer(converted.get(), 0) < 0)
            return kErrOutOfMemory;
        const int made =
            av.swr_convert(resampler.get(), converted->data, room,
                           const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (made < 0)
            return kErrIO;
        if (int err = Queue(converted->data, made); err != 0)
            return err;
        av.av_frame_unref(frame.get());
    }
    return EncodeFromFifo(false);
}

int Conversion::Run(const std::string& input, const std::string& output, AudioTranscoder::Codec codec,
                    int aacKbps, std::uint64_t sourceSamples)
{
    if (int err = OpenInput(input); err != 0)
        return err;
    if (int err = OpenEncoder(codec, aacKbps); err != 0)
        return err;
    if (sourceSamples > 0 && decoder->sample_rate > 0)
        limit = av.av_rescale(static_cast<std::int64_t>(sourceSamples), encoder->sample_rate,
                              decoder->sample_rate);
    if (int err = OpenOutput(output); err != 0)
        return err;
    PacketPtr packet(av.av_packet_alloc());
    if (!packet)
        return kErrOutOfMemory;
    const AVRational timeBase = in->streams[audioIndex]->time_base;
    while (av.av_read_frame(in.get(), packet.get()) >= 0) {
        if (cancelled && cancelled()) {
            av.av_packet_unref(packet.get());
            return kErrUserCancel;
        }
        int err = 0;
        if (packet->stream_index == audioIndex) {
            err = Decode(packet.get());
            if (progress && totalSeconds > 0 && packet->pts != AV_NOPTS_VALUE)
                progress(std::min(1.0, static_cast<double>(packet->pts) * av_q2d(timeBase) / totalSeconds));
        }
        av.av_packet_unref(packet.get());
        if (err != 0)
            return err;
    }
    if (int err = Decode(nullptr); err != 0)
        return err;
    // What the resampler still holds, then the encoder's own delay.
    for (;;) {
        FramePtr rest(av.av_frame_alloc());
        if (!rest)
            return kErrOutOfMemory;
        rest->nb_samples = 4096;
        rest->format = encoder->sample_fmt;
        if (av.av_channel_layout_copy(&rest->ch_layout, &encoder->ch_layout) < 0 ||
            av.av_frame_get_buffer(rest.get(), 0) < 0)
            return kErrOutOfMemory;
        const int made = av.swr_convert(resampler.get(), rest->data, 4096, nullptr, 0);
        if (made <= 0)
            break;
        if (int err = Queue(rest->data, made); err != 0)
            return err;
    }
    if (int err = EncodeFromFifo(true); err != 0)
        return err;
    if (int err = WriteEncoded(nullptr); err != 0)
        return err;
    if (av.av_write_trailer(out.get()) < 0)
        return kErrIO;
    if (av.avio_closep(&out->pb) < 0)
        return kErrIO;
    // The gapless facts: AAC frames hold 1024 samples, the first `initial_padding` of them the
    // encoder's priming; Apple Lossless frames hold the music alone.
    if (nextPts > 0) {
        std::uint32_t delay = 0, padding = 0;
        if (codec == AudioTranscoder::Codec::kAAC && encoder->frame_size > 0) {
            delay = static_cast<std::uint32_t>(std::max(0, encoder->initial_padding));
            const std::int64_t coded = packets * encoder->frame_size - delay - nextPts;
            padding = coded > 0 ? static_cast<std::uint32_t>(coded) : 0;
        }
        if (int err = AddGaplessItem(output, delay, padding, static_cast<std::uint64_t>(nextPts)); err != 0)
            return err;
    }
    if (progress)
        progress(1.0);
    return 0;
}

} // namespace

int AudioTranscoder::Convert(const std::string& input, const std::string& output, Codec codec, int aacKbps,
                             std::uint64_t sourceSamples, const std::function<bool()>& cancelled,
                             const std::function<void(double)>& progress)
{
    std::string why;
    if (int err = LoadedFFmpeg(why); err != 0) {
        AError::NoteFailure(err, AString::FromUTF8("cannot convert " + input + ": " + why));
        std::remove(output.c_str());
        return err;
    }
    av.av_log_set_level(AV_LOG_ERROR);
    int err = 0;
    {
        Conversion conversion(cancelled, progress);
        err = conversion.Run(input, output, codec, aacKbps, sourceSamples);
    }
    if (err != 0)
        std::remove(output.c_str());
    return err;
}

void AudioTranscoder::UseLibraries(std::vector<std::string> sonames) { LibraryNames() = std::move(sonames); }
