// Thumbnails of JPEG (libjpeg: the camera's own thumbnail in the Exif
// segment where there is one, else the picture decoded at the smallest
// scale that still fills the thumbnail), PNG (libspng), GIF (giflib: the first frame) and
// uncompressed BMP pictures (read here: 8, 24 and 32 bits per pixel).
#include "host/report/thumbnail.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <spng.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/base/decoder_memory.h"
#include "host/check/jpeg_memory.h"

namespace {

// The most pixels decoded for one thumbnail (after a JPEG's scaling), and
// held at once for an interlaced PNG.
constexpr uint64_t kMaxPixels = uint64_t{24} << 20;
constexpr uint32_t kMaxSide = 32768;

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // 3 bytes a pixel, rows top down
    bool Allocate(uint64_t w, uint64_t h) {
        if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) return false;
        width = static_cast<uint32_t>(w);
        height = static_cast<uint32_t>(h);
        rgb.assign(w * h * 3, 0);
        return true;
    }
};

// Takes a picture's rows, in any order, into its thumbnail, without holding
// the picture: each thumbnail pixel is the mean of up to 4 x 4 samples
// spread over the pixels it covers (all of them would cost a pass over every
// pixel of a large picture). A picture that fits the thumbnail stays as it is.
class Shrinker {
public:
    bool Start(uint64_t width, uint64_t height) {
        // Bounded in pixels for time: the memory is a row's.
        if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || width * height > kMaxPixels) {
            return false;
        }
        width_ = static_cast<uint32_t>(width);
        height_ = static_cast<uint32_t>(height);
        const uint64_t longest = std::max(width, height);
        const uint64_t side = static_cast<uint64_t>(kThumbnailSide);
        const uint64_t out_w = longest <= side ? width : std::max<uint64_t>(1, width * side / longest);
        const uint64_t out_h = longest <= side ? height : std::max<uint64_t>(1, height * side / longest);
        out_.Allocate(out_w, out_h);
        target_row_.assign(height_, -1);
        for (uint32_t ty = 0; ty < out_.height; ++ty) {
            const uint64_t y0 = uint64_t{ty} * height_ / out_.height;
            const uint64_t y1 = std::max(y0 + 1, uint64_t{ty + 1} * height_ / out_.height);
            const uint64_t step = std::max<uint64_t>(1, (y1 - y0) / 4);
            for (uint64_t y = y0; y < y1; y += step) target_row_[y] = static_cast<int32_t>(ty);
        }
        columns_.clear();
        for (uint32_t tx = 0; tx < out_.width; ++tx) {
            const uint64_t x0 = uint64_t{tx} * width_ / out_.width;
            const uint64_t x1 = std::max(x0 + 1, uint64_t{tx + 1} * width_ / out_.width);
            const uint64_t step = std::max<uint64_t>(1, (x1 - x0) / 4);
            for (uint64_t x = x0; x < x1; x += step) columns_.push_back({static_cast<uint32_t>(x), tx});
        }
        sums_.assign(uint64_t{out_.width} * out_.height * 3, 0);
        counts_.assign(uint64_t{out_.width} * out_.height, 0);
        return true;
    }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // Whether row y is sampled: the others need not be converted.
    bool Wanted(uint32_t y) const { return y < height_ && target_row_[y] >= 0; }
    // Row y: width() pixels of 3 bytes.
    void Row(uint32_t y, const uint8_t* rgb) {
        if (!Wanted(y)) return;
        const uint64_t base = uint64_t{static_cast<uint32_t>(target_row_[y])} * out_.width;
        for (const Column& column : columns_) {
            const uint8_t* at = rgb + uint64_t{column.x} * 3;
            uint32_t* sum = sums_.data() + (base + column.tx) * 3;
            sum[0] += at[0];
            sum[1] += at[1];
            sum[2] += at[2];
            ++counts_[base + column.tx];
        }
    }
    const Picture& Result() {
        for (uint64_t i = 0; i < counts_.size(); ++i) {
            for (int c = 0; c < 3; ++c) {
                out_.rgb[i * 3 + c] = static_cast<uint8_t>(counts_[i] == 0 ? 0 : sums_[i * 3 + c] / counts_[i]);
            }
        }
        return out_;
    }

private:
    struct Column {
        uint32_t x, tx;
    };
    uint32_t width_ = 0, height_ = 0;
    Picture out_;
    std::vector<int32_t> target_row_;  // the thumbnail row of each sampled row; -1: not sampled
    std::vector<Column> columns_;
    std::vector<uint32_t> sums_, counts_;
};

// libjpeg reports errors by calling error_exit, which must not return: it
// jumps back to the function that set the jump, over libjpeg's own frames
// only (nothing there has a destructor to skip).
struct JpegErrors {
    jpeg_error_mgr manager;  // first: libjpeg hands the callbacks this address
    std::jmp_buf exit;
};
[[noreturn]] void JpegExit(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->exit, 1); }
void JpegQuiet(j_common_ptr, int) {}

bool DecodeJpeg(const uint8_t* data, uint64_t size, Shrinker* picture) {
    JpegErrors errors{};
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegExit;
    errors.manager.emit_message = JpegQuiet;
    bool done = false;
    std::vector<uint8_t> row;
    DecoderMemoryHold memory;
    if (setjmp(errors.exit) == 0) {
        jpeg_create_decompress(&info);
        info.mem->max_memory_to_use = static_cast<long>(kJpegRowMemory);
        jpeg_mem_src(&info, data, static_cast<unsigned long>(std::min<uint64_t>(size, ~0UL)));
        jpeg_read_header(&info, TRUE);
        if (!ReserveJpegMemory(&info, &memory)) JpegExit(reinterpret_cast<j_common_ptr>(&info));
        const uint32_t longest = std::max(info.image_width, info.image_height);
        info.scale_num = 1;
        info.scale_denom = 1;
        while (info.scale_denom < 8 && longest / (info.scale_denom * 2) >= kThumbnailSide) info.scale_denom *= 2;
        info.out_color_space = JCS_RGB;
        info.dct_method = JDCT_IFAST;
        jpeg_calc_output_dimensions(&info);
        if (picture->Start(info.output_width, info.output_height)) {
            row.resize(uint64_t{info.output_width} * 3);
            jpeg_start_decompress(&info);
            while (info.output_scanline < info.output_height) {
                const uint32_t y = info.output_scanline;
                JSAMPROW rows[1] = {row.data()};
                jpeg_read_scanlines(&info, rows, 1);
                picture->Row(y, row.data());
            }
            jpeg_finish_decompress(&info);
            done = true;
        }
    }
    jpeg_destroy_decompress(&info);
    return done;
}

// The small JPEG that cameras store in a picture's Exif segment (the
// second image file directory's JPEGInterchangeFormat and its length), when
// there is one: decoding it spares decoding the whole picture.
bool ExifThumbnail(const uint8_t* data, uint64_t size, const uint8_t** thumbnail, uint64_t* thumbnail_size) {
    uint64_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF && data[at + 1] != 0xDA && data[at + 1] != 0xD9) {
        const uint8_t marker = data[at + 1];
        const uint64_t length = uint64_t{data[at + 2]} << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) return false;
        const uint8_t* segment = data + at + 4;
        const uint64_t segment_size = length - 2;
        at += 2 + length;
        if (marker != 0xE1 || segment_size < 14 || std::memcmp(segment, "Exif\0\0", 6) != 0) continue;
        const uint8_t* tiff = segment + 6;
        const uint64_t tiff_size = segment_size - 6;
        const bool little = tiff[0] == 'I' && tiff[1] == 'I';
        if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return false;
        const auto u16 = [&](uint64_t o) -> uint64_t {
            if (o + 2 > tiff_size) return 0;
            return little ? (tiff[o] | tiff[o + 1] << 8) : (tiff[o] << 8 | tiff[o + 1]);
        };
        const auto u32 = [&](uint64_t o) -> uint64_t {
            if (o + 4 > tiff_size) return 0;
            return little ? (u16(o) | u16(o + 2) << 16) : (u16(o) << 16 | u16(o + 2));
        };
        const uint64_t first = u32(4);
        if (first == 0 || first + 2 > tiff_size) return false;
        const uint64_t second = u32(first + 2 + 12 * u16(first));
        if (second == 0 || second + 2 > tiff_size) return false;
        uint64_t offset = 0, length_of = 0;
        for (uint64_t i = 0, n = u16(second); i < n; ++i) {
            const uint64_t entry = second + 2 + 12 * i;
            if (u16(entry) == 0x0201) offset = u32(entry + 8);
            if (u16(entry) == 0x0202) length_of = u32(entry + 8);
        }
        if (offset == 0 || length_of < 4 || offset + length_of > tiff_size) return false;
        *thumbnail = tiff + offset;
        *thumbnail_size = length_of;
        return true;
    }
    return false;
}

// Row by row where the picture is not interlaced; an interlaced one is
// decoded whole, within the pixel bound.
bool DecodePng(const uint8_t* data, uint64_t size, Shrinker* picture) {
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
    if (ctx == nullptr) return false;
    spng_set_image_limits(ctx.get(), kMaxSide, kMaxSide);
    spng_set_chunk_limits(ctx.get(), 16u << 20, 64u << 20);
    spng_set_png_buffer(ctx.get(), data, size);
    spng_ihdr ihdr;
    size_t length = 0;
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0 || !picture->Start(ihdr.width, ihdr.height) ||
        spng_decoded_image_size(ctx.get(), SPNG_FMT_RGB8, &length) != 0 ||
        length != uint64_t{ihdr.width} * ihdr.height * 3) {
        return false;
    }
    if (ihdr.interlace_method != 0) {
        DecoderMemoryHold memory;
        Picture whole;
        if (!memory.Reserve(length) || !whole.Allocate(ihdr.width, ihdr.height) ||
            spng_decode_image(ctx.get(), whole.rgb.data(), length, SPNG_FMT_RGB8, SPNG_DECODE_TRNS) != 0) {
            return false;
        }
        for (uint32_t y = 0; y < whole.height; ++y) picture->Row(y, whole.rgb.data() + uint64_t{y} * whole.width * 3);
        return true;
    }
    if (spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0) {
        return false;
    }
    std::vector<uint8_t> row(uint64_t{ihdr.width} * 3);
    for (;;) {
        spng_row_info info{};
        if (spng_get_row_info(ctx.get(), &info) != 0) return false;
        const int status = spng_decode_row(ctx.get(), row.data(), row.size());
        if (status != 0 && status != SPNG_EOI) return false;
        picture->Row(info.row_num, row.data());
        if (status == SPNG_EOI) return true;
    }
}

struct GifSource {
    const uint8_t* data;
    uint64_t size, at;
};
int ReadGif(GifFileType* gif, GifByteType* out, int count) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), source->size - source->at);
    std::memcpy(out, source->data + source->at, n);
    source->at += n;
    return static_cast<int>(n);
}

// The first frame alone, in its own colours.
bool DecodeGif(const uint8_t* data, uint64_t size, Shrinker* picture) {
    GifSource source{data, size, 0};
    int error = 0;
    std::unique_ptr<GifFileType, void (*)(GifFileType*)> gif(DGifOpen(&source, ReadGif, &error), [](GifFileType* g) {
        int ignored = 0;
        DGifCloseFile(g, &ignored);
    });
    if (gif == nullptr) return false;
    for (int records = 0; records < 4096; ++records) {
        GifRecordType record;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR || record == TERMINATE_RECORD_TYPE) return false;
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return false;
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return false;
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif.get()) == GIF_ERROR) return false;
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* colours = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
        if (colours == nullptr || desc.Width <= 0 || desc.Height <= 0 || !picture->Start(desc.Width, desc.Height)) {
            return false;
        }
        std::vector<GifPixelType> line(picture->width());
        std::vector<uint8_t> out(uint64_t{picture->width()} * 3);
        // Interlaced rows come in four passes.
        static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
        const int passes = desc.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int start = desc.Interlace ? kStart[pass] : 0, step = desc.Interlace ? kStep[pass] : 1;
            for (uint32_t y = start; y < picture->height(); y += step) {
                if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR) return false;
                if (!picture->Wanted(y)) continue;
                for (uint32_t x = 0; x < picture->width(); ++x) {
                    const GifColorType colour =
                        line[x] < colours->ColorCount ? colours->Colors[line[x]] : GifColorType{0, 0, 0};
                    out[3 * x] = colour.Red;
                    out[3 * x + 1] = colour.Green;
                    out[3 * x + 2] = colour.Blue;
                }
                picture->Row(y, out.data());
            }
        }
        return true;
    }
    return false;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Uncompressed BMP: 8 bits with a palette, 24 or 32 bits (blue, green, red).
bool DecodeBmp(const uint8_t* data, uint64_t size, Shrinker* picture) {
    if (size < 54) return false;
    const uint32_t pixels_at = Le32(data + 10), header = Le32(data + 14);
    const int32_t width = static_cast<int32_t>(Le32(data + 18)), height = static_cast<int32_t>(Le32(data + 22));
    const uint32_t bits = data[28] | data[29] << 8, compression = Le32(data + 30);
    if (header < 40 || header > 1024 || width <= 0 || height == 0 || height == INT32_MIN ||
        (bits != 8 && bits != 24 && bits != 32) || (compression != 0 && !(compression == 3 && bits == 32))) {
        return false;
    }
    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    const uint64_t stride = (uint64_t{bits} * static_cast<uint32_t>(width) + 31) / 32 * 4;
    uint32_t palette = 0;
    if (bits == 8) {
        palette = Le32(data + 46) == 0 ? 256 : Le32(data + 46);
        if (palette > 256 || 14 + uint64_t{header} + 4 * palette > size) return false;
    }
    if (pixels_at > size || stride * rows > size - pixels_at || !picture->Start(static_cast<uint32_t>(width), rows)) {
        return false;
    }
    const uint8_t* colours = data + 14 + header;
    std::vector<uint8_t> out(uint64_t{picture->width()} * 3);
    for (uint32_t y = 0; y < rows; ++y) {
        if (!picture->Wanted(y)) continue;
        const uint8_t* in = data + pixels_at + (height < 0 ? y : rows - 1 - y) * stride;
        for (uint32_t x = 0; x < picture->width(); ++x) {
            const uint8_t* bgr = bits == 8 ? (in[x] < palette ? colours + 4 * in[x] : colours) : in + x * (bits / 8);
            out[3 * x] = bgr[2];
            out[3 * x + 1] = bgr[1];
            out[3 * x + 2] = bgr[0];
        }
        picture->Row(y, out.data());
    }
    return true;
}

bool EncodeJpeg(const Picture& picture, std::vector<uint8_t>* jpeg) {
    JpegErrors errors{};
    jpeg_compress_struct info{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegExit;
    errors.manager.emit_message = JpegQuiet;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    bool done = false;
    if (setjmp(errors.exit) == 0) {
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &buffer, &length);
        info.image_width = picture.width;
        info.image_height = picture.height;
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 80, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<uint8_t*>(picture.rgb.data()) + uint64_t{info.next_scanline} * picture.width * 3;
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        done = true;
    }
    jpeg_destroy_compress(&info);
    if (done) jpeg->assign(buffer, buffer + length);
    std::free(buffer);
    return done;
}

}  // namespace

bool HasThumbnail(const std::string& extension) {
    return extension == "jpg" || extension == "png" || extension == "gif" || extension == "bmp";
}

bool MakeThumbnail(const uint8_t* data, uint64_t size, const std::string& extension, std::vector<uint8_t>* jpeg) {
    // A camera's own thumbnail of at least 96 pixels a side stands for the picture.
    const uint8_t* exif = nullptr;
    uint64_t exif_size = 0;
    if (extension == "jpg" && ExifThumbnail(data, size, &exif, &exif_size)) {
        Shrinker picture;
        if (DecodeJpeg(exif, exif_size, &picture) && std::max(picture.width(), picture.height()) >= 96) {
            return EncodeJpeg(picture.Result(), jpeg);
        }
    }
    Shrinker picture;
    const bool decoded = extension == "jpg"   ? DecodeJpeg(data, size, &picture)
                         : extension == "png" ? DecodePng(data, size, &picture)
                         : extension == "gif" ? DecodeGif(data, size, &picture)
                         : extension == "bmp" ? DecodeBmp(data, size, &picture)
                                              : false;
    return decoded && EncodeJpeg(picture.Result(), jpeg);
}
