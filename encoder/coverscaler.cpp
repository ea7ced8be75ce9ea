#include "coverscaler.h"

#include "terminationsignalsheld.h"

#include <vips/vips.h>

#include <dlfcn.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// JPEG quality of a scaled cover: no visible loss at 600 x 600, a third of the bytes of 95.
constexpr int kJpegQuality = 85;

unsigned at(const TagLib::ByteVector& b, unsigned i)
{
    return static_cast<unsigned char>(b[i]);
}

// What a JPEG's frame header says: its size, and for a progressive one the bytes its
// coefficients take while it is decoded (a block of 64 two-byte coefficients for every 8 x 8
// pixels of each component, at the component's own sampling).
struct JpegFrame {
    CoverScaler::Size size;
    double progressiveBytes = 0;
};

std::optional<JpegFrame> jpegFrame(const TagLib::ByteVector& b)
{
    // Segments from after SOI; the frame header (SOF0..SOF15 but DHT, JPG, DAC) has the size.
    unsigned pos = 2;
    while (pos + 4 <= b.size()) {
        if (at(b, pos) != 0xFF)
            return std::nullopt;
        const unsigned marker = at(b, pos + 1);
        if (marker == 0xFF) {
            ++pos; // fill byte
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            pos += 2;
            continue;
        }
        const unsigned length = (at(b, pos + 2) << 8) | at(b, pos + 3);
        if (length < 2)
            return std::nullopt;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (pos + 10 > b.size())
                return std::nullopt;
            JpegFrame frame;
            frame.size = {static_cast<int>((at(b, pos + 7) << 8) | at(b, pos + 8)),
                static_cast<int>((at(b, pos + 5) << 8) | at(b, pos + 6))};
            // SOF2, SOF6, SOF10 and SOF14 are the progressive ones.
            if ((marker & 0x03) == 0x02) {
                const unsigned components = at(b, pos + 9);
                int maxH = 1;
                int maxV = 1;
                for (unsigned c = 0; c < components && pos + 12 + 3 * c <= b.size(); ++c) {
                    maxH = std::max(maxH, static_cast<int>(at(b, pos + 11 + 3 * c) >> 4));
                    maxV = std::max(maxV, static_cast<int>(at(b, pos + 11 + 3 * c) & 0x0F));
                }
                for (unsigned c = 0; c < components && pos + 12 + 3 * c <= b.size(); ++c) {
                    const int h = std::max(1, static_cast<int>(at(b, pos + 11 + 3 * c) >> 4));
                    const int v = std::max(1, static_cast<int>(at(b, pos + 11 + 3 * c) & 0x0F));
                    const double columns = std::ceil(frame.size.width * static_cast<double>(h) / maxH / 8.0);
                    const double rows = std::ceil(frame.size.height * static_cast<double>(v) / maxV / 8.0);
                    frame.progressiveBytes += columns * rows * 128.0;
                }
            }
            return frame;
        }
        if (marker == 0xDA || marker == 0xD9)
            return std::nullopt; // image data before any frame header
        pos += 2 + length;
    }
    return std::nullopt;
}

// libvips, loaded the first time a cover needs scaling. Linked outright it would bring its
// hundred libraries into every start of fastencc (24 ms against 4 ms here), for every file of
// a batch, though few carry a cover that needs it. When it cannot be loaded, a cover that
// needs scaling is left out.
class Vips {
public:
    static const Vips* get()
    {
        static const Vips vips;
        return vips.m_ready ? &vips : nullptr;
    }

    int (*thumbnailBuffer)(void*, std::size_t, VipsImage**, int, ...) = nullptr;
    gboolean (*hasAlpha)(VipsImage*) = nullptr;
    int (*flatten)(VipsImage*, VipsImage**, ...) = nullptr;
    VipsArrayDouble* (*arrayDouble)(int, ...) = nullptr;
    void (*areaUnref)(VipsArea*) = nullptr;
    int (*jpegsaveBuffer)(VipsImage*, void**, std::size_t*, ...) = nullptr;
    void (*errorClear)() = nullptr;
    void (*objectUnref)(gpointer) = nullptr;
    void (*free)(gpointer) = nullptr;

private:
    Vips()
    {
        void* library = dlopen("libvips.so.42", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        int (*init)(const char*) = nullptr;
        void (*concurrency)(int) = nullptr;
        void (*cacheMax)(int) = nullptr;
        void (*blockUntrusted)(gboolean) = nullptr;
        const bool found = bind(library, "vips_init", init) && bind(library, "vips_concurrency_set", concurrency)
            && bind(library, "vips_cache_set_max", cacheMax) && bind(library, "vips_block_untrusted_set", blockUntrusted)
            && bind(library, "vips_thumbnail_buffer", thumbnailBuffer) && bind(library, "vips_image_hasalpha", hasAlpha)
            && bind(library, "vips_flatten", flatten) && bind(library, "vips_array_double_newv", arrayDouble)
            && bind(library, "vips_area_unref", areaUnref) && bind(library, "vips_jpegsave_buffer", jpegsaveBuffer)
            && bind(library, "vips_error_clear", errorClear) && bind(library, "g_object_unref", objectUnref)
            && bind(library, "g_free", free);
        if (!found || !bind(library, "vips_shutdown", stop) || init("fastencc") != 0)
            return; // the library stays loaded: it cannot be unloaded once initialised
        // Its worker threads are stopped before the process ends, not torn down under it.
        std::atexit(shutdown);
        concurrency(1);        // a batch runs one encoder per core already
        cacheMax(0);           // every picture is seen once
        blockUntrusted(TRUE);  // no loader that is not made for hostile files
        m_ready = true;
    }

    static void shutdown()
    {
        const TerminationSignalsHeld held;
        get()->stop();
    }

    template <class F>
    static bool bind(void* library, const char* name, F& function)
    {
        function = reinterpret_cast<F>(dlsym(library, name));
        return function != nullptr;
    }

    void (*stop)() = nullptr;
    bool m_ready = false;
};

} // namespace

std::optional<CoverScaler::Size> CoverScaler::dimensions(const TagLib::ByteVector& b)
{
    if (b.size() >= 4 && at(b, 0) == 0xFF && at(b, 1) == 0xD8) {
        const auto frame = jpegFrame(b);
        return frame ? std::optional<Size>(frame->size) : std::nullopt;
    }
    if (b.size() >= 24 && b.mid(0, 8) == TagLib::ByteVector("\x89PNG\r\n\x1a\n", 8) && b.mid(12, 4) == "IHDR")
        return Size {static_cast<int>(b.toUInt(16, true) & 0x7FFFFFFF), static_cast<int>(b.toUInt(20, true) & 0x7FFFFFFF)};
    if (b.size() >= 10 && (b.mid(0, 6) == "GIF87a" || b.mid(0, 6) == "GIF89a"))
        return Size {static_cast<int>(at(b, 6) | (at(b, 7) << 8)), static_cast<int>(at(b, 8) | (at(b, 9) << 8))};
    return std::nullopt;
}

bool CoverScaler::needsScaling(const TagLib::ByteVector& picture)
{
    if (picture.size() > kMaxBytes)
        return true;
    const auto size = dimensions(picture);
    return size && (size->width > kMaxSide || size->height > kMaxSide);
}

TagLib::ByteVector CoverScaler::scale(const TagLib::ByteVector& picture)
{
    if (const auto size = dimensions(picture);
        size && static_cast<double>(size->width) * static_cast<double>(size->height) > kMaxPixels)
        return {};
    if (picture.size() >= 4 && at(picture, 0) == 0xFF && at(picture, 1) == 0xD8) {
        if (const auto frame = jpegFrame(picture); frame && frame->progressiveBytes > kMaxProgressiveBytes)
            return {};
    }
    // libvips starts threads of its own; they are made with SIGTERM, SIGINT and SIGHUP held
    // back, so those signals always reach a thread of ours, whose handler knows the temporary
    // output file.
    const TerminationSignalsHeld held;
    const Vips* vips = Vips::get();
    if (!vips)
        return {};
    VipsImage* thumb = nullptr;
    // Fitted into the box, never enlarged, turned upright as its EXIF orientation says (a
    // player does not read that), colours brought to sRGB.
    if (vips->thumbnailBuffer(const_cast<char*>(picture.data()), picture.size(), &thumb, kMaxSide,
            "height", kMaxSide, "size", VIPS_SIZE_DOWN, nullptr) != 0) {
        vips->errorClear();
        return {};
    }
    VipsImage* flat = thumb;
    if (vips->hasAlpha(thumb)) {
        // JPEG has no transparency: what shows through is white, as on a page.
        VipsArrayDouble* white = vips->arrayDouble(1, 255.0);
        const int failed = vips->flatten(thumb, &flat, "background", white, nullptr);
        vips->areaUnref(VIPS_AREA(white));
        vips->objectUnref(thumb);
        if (failed != 0) {
            vips->errorClear();
            return {};
        }
    }
    void* jpeg = nullptr;
    std::size_t length = 0;
    const int failed = vips->jpegsaveBuffer(flat, &jpeg, &length, "Q", kJpegQuality, "interlace", FALSE,
        "strip", TRUE, "optimize_coding", TRUE, nullptr);
    vips->objectUnref(flat);
    if (failed != 0) {
        vips->errorClear();
        return {};
    }
    TagLib::ByteVector out(static_cast<const char*>(jpeg), static_cast<unsigned>(length));
    vips->free(jpeg);
    return out;
}
