// The demuxing check on libavformat: a read-only AVIOContext over the item's
// bytes in memory, the checker's demuxer forced (no probing), every packet
// read without parsers. Bounded by the bytes handed in, a packet count, a
// deadline and the largest single allocation; the library's log is silent.
//
// libavformat and the libraries it needs (some 130, codecs and network
// libraries among them) take a tenth of a second to load: they are loaded
// when the first media item is checked, not when hound starts.
#include "host/check/demux.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavformat/version_major.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
#include <libavutil/mem.h>
}

namespace {

// The functions used, found in libavformat and the libraries it loads.
struct Library {
    decltype(&av_find_input_format) find_input_format;
    decltype(&av_free) free;
    decltype(&av_freep) freep;
    decltype(&av_log_set_callback) log_set_callback;
    decltype(&av_malloc) malloc;
    decltype(&av_max_alloc) max_alloc;
    decltype(&av_packet_alloc) packet_alloc;
    decltype(&av_packet_free) packet_free;
    decltype(&av_packet_unref) packet_unref;
    decltype(&av_read_frame) read_frame;
    decltype(&avformat_alloc_context) alloc_context;
    decltype(&avformat_close_input) close_input;
    decltype(&avformat_index_get_entries_count) index_get_entries_count;
    decltype(&avformat_open_input) open_input;
    decltype(&avio_alloc_context) io_alloc_context;
    decltype(&avio_context_free) io_context_free;
};

// The soname of the libavformat that hound was built against.
constexpr char kLibraryName[] = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);

using Clock = std::chrono::steady_clock;

// A film of some hours from a slow disk takes a minute to read: beyond the
// deadline or the packet count the item is unchecked, never invalid. A
// header may claim tables of any size; the library allocates what it
// claims, so one allocation is capped (a real index of hours of video
// stays far below it).
constexpr auto kTimeLimit = std::chrono::seconds(30);
constexpr uint64_t kMaxPackets = uint64_t{1} << 22;
constexpr size_t kMaxAllocation = size_t{256} << 20;
constexpr int kBufferBytes = 64 << 10;

// The item's bytes as the demuxer reads them, and the check's deadline.
struct Input {
    const uint8_t* data;
    uint64_t size;
    uint64_t at;
    Clock::time_point deadline;
    bool late;  // once set, every read fails: the demuxer stops soon
};

bool Late(Input* input) {
    if (!input->late && Clock::now() > input->deadline) input->late = true;
    return input->late;
}

int Read(void* opaque, uint8_t* buffer, int count) {
    Input* input = static_cast<Input*>(opaque);
    if (Late(input)) return AVERROR_EXIT;
    if (count <= 0 || input->at >= input->size) return AVERROR_EOF;
    const uint64_t n = std::min(uint64_t(count), input->size - input->at);
    std::memcpy(buffer, input->data + input->at, n);
    input->at += n;
    return static_cast<int>(n);
}

// Any position within the bytes, their end included; none past them, so
// that an index pointing behind the item fails its seek.
int64_t Seek(void* opaque, int64_t offset, int whence) {
    Input* input = static_cast<Input*>(opaque);
    const auto size = static_cast<int64_t>(input->size);
    if (whence & AVSEEK_SIZE) return size;
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: break;
        case SEEK_CUR: base = static_cast<int64_t>(input->at); break;
        case SEEK_END: base = size; break;
        default: return AVERROR(EINVAL);
    }
    if (offset < -base || offset > size - base) return AVERROR(EINVAL);
    input->at = static_cast<uint64_t>(base + offset);
    return base + offset;
}

int Interrupted(void* opaque) { return Late(static_cast<Input*>(opaque)) ? 1 : 0; }

// References to other files (a movie's data references) open nothing: the
// item's bytes are all the demuxer may read.
int OpenNothing(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

void Silent(void*, int, const char*, va_list) {}

// The library, loaded once with its process-wide settings made; null where
// it cannot be loaded.
const Library* Loaded() {
    static const Library* const library = []() -> const Library* {
        void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return nullptr;
        static Library loaded;
        bool found = true;
        auto bind = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            found = found && function != nullptr;
        };
        bind(loaded.find_input_format, "av_find_input_format");
        bind(loaded.free, "av_free");
        bind(loaded.freep, "av_freep");
        bind(loaded.log_set_callback, "av_log_set_callback");
        bind(loaded.malloc, "av_malloc");
        bind(loaded.max_alloc, "av_max_alloc");
        bind(loaded.packet_alloc, "av_packet_alloc");
        bind(loaded.packet_free, "av_packet_free");
        bind(loaded.packet_unref, "av_packet_unref");
        bind(loaded.read_frame, "av_read_frame");
        bind(loaded.alloc_context, "avformat_alloc_context");
        bind(loaded.close_input, "avformat_close_input");
        bind(loaded.index_get_entries_count, "avformat_index_get_entries_count");
        bind(loaded.open_input, "avformat_open_input");
        bind(loaded.io_alloc_context, "avio_alloc_context");
        bind(loaded.io_context_free, "avio_context_free");
        if (!found) return nullptr;
        loaded.log_set_callback(Silent);
        loaded.max_alloc(kMaxAllocation);
        return &loaded;
    }();
    return library;
}

struct IoFree {
    void operator()(AVIOContext* io) const {
        Loaded()->freep(&io->buffer);  // the library may have replaced the buffer handed in
        Loaded()->io_context_free(&io);
    }
};
struct InputClose {
    void operator()(AVFormatContext* context) const { Loaded()->close_input(&context); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { Loaded()->packet_free(&packet); }
};

// A library error as a verdict: its own gaps and limits, else otherwise.
Demuxed Failed(int error, Demuxed otherwise) {
    if (error == AVERROR(ENOMEM)) return Demuxed::kNoMemory;
    if (error == AVERROR_EXIT) return Demuxed::kTimeLimit;
    if (error == AVERROR_PATCHWELCOME || error == AVERROR(ENOSYS)) return Demuxed::kNotSupported;
    return otherwise;
}

// Every packet, counted per stream; each stream must give at least the
// packets that its index (built from the headers) holds, else the demuxer
// stopped short of them. Streams the demuxer keeps to itself (a movie's
// chapter titles) give none.
Demuxed ReadPackets(const Library& av, AVFormatContext* context, Input* input) {
    std::unique_ptr<AVPacket, PacketFree> packet(av.packet_alloc());
    if (packet == nullptr) return Demuxed::kNoMemory;
    std::vector<uint64_t> packets;
    uint64_t total = 0;
    int status;
    while ((status = av.read_frame(context, packet.get())) >= 0) {
        const bool corrupt = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        const auto stream = static_cast<size_t>(packet->stream_index);
        av.packet_unref(packet.get());
        if (corrupt) return Demuxed::kCorruptPacket;
        if (++total > kMaxPackets) return Demuxed::kPacketLimit;
        if (Late(input)) return Demuxed::kTimeLimit;
        if (stream >= packets.size()) packets.resize(stream + 1);
        ++packets[stream];
    }
    if (status != AVERROR_EOF) return Failed(status, Demuxed::kReadError);
    if (total == 0) return Demuxed::kNoPackets;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        const auto indexed = static_cast<uint64_t>(std::max(av.index_get_entries_count(stream), 0));
        const uint64_t read = i < packets.size() ? packets[i] : 0;
        if (stream->discard != AVDISCARD_ALL && read < indexed) return Demuxed::kPacketsMissing;
    }
    return Demuxed::kWhole;
}

Demuxed Run(const Library& av, const char* demuxer, Input* input) {
    const AVInputFormat* format = av.find_input_format(demuxer);
    if (format == nullptr) return Demuxed::kNotSupported;
    auto* buffer = static_cast<uint8_t*>(av.malloc(kBufferBytes));
    if (buffer == nullptr) return Demuxed::kNoMemory;
    std::unique_ptr<AVIOContext, IoFree> io(av.io_alloc_context(buffer, kBufferBytes, 0, input, Read, nullptr, Seek));
    if (io == nullptr) {
        av.free(buffer);
        return Demuxed::kNoMemory;
    }
    AVFormatContext* opened = av.alloc_context();
    if (opened == nullptr) return Demuxed::kNoMemory;
    opened->pb = io.get();
    opened->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_NOPARSE;
    opened->interrupt_callback = {Interrupted, input};
    opened->io_open = OpenNothing;
    // On failure the library frees the context itself.
    const int status = av.open_input(&opened, nullptr, format, nullptr);
    if (status < 0) return Failed(status, Demuxed::kCannotOpen);
    std::unique_ptr<AVFormatContext, InputClose> context(opened);
    // A demuxer that makes its streams as packets come (FLV, say) has none
    // yet; it then gives no packets if it finds none.
    if (context->nb_streams == 0 && (context->ctx_flags & AVFMTCTX_NOHEADER) == 0) return Demuxed::kNoStreams;
    return ReadPackets(av, context.get(), input);
}

}  // namespace

Demuxed Demux(const uint8_t* data, uint64_t size, const char* demuxer) {
    const Library* av = Loaded();
    if (av == nullptr) return Demuxed::kNotSupported;
    Input input = {data, size, 0, Clock::now() + kTimeLimit, false};
    const Demuxed demuxed = Run(*av, demuxer, &input);
    // Past the deadline, reads fail and whatever went wrong after is no
    // fault of the data.
    return demuxed != Demuxed::kWhole && input.late ? Demuxed::kTimeLimit : demuxed;
}

CheckResult DemuxResult(Demuxed demuxed, uint8_t first_reason, uint64_t end) {
    if (demuxed == Demuxed::kWhole) return CheckValid(end);
    const auto reason = static_cast<uint8_t>(first_reason + static_cast<uint8_t>(demuxed) -
                                             static_cast<uint8_t>(Demuxed::kCannotOpen));
    return demuxed >= Demuxed::kNotSupported ? CheckUnknown(reason) : CheckInvalid(reason);
}
