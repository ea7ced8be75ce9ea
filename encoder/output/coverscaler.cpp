#include "output/coverscaler.h"

#include "common/terminationsignalsheld.h"

#include "pictureheader.h"

#include <vips/vips.h>

#include <dlfcn.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// JPEG quality of a scaled cover: no visible loss at 600 x 600, a third of the bytes of 95.
constexpr int kJpegQuality = 85;

// libvips, loaded the first time a cover is looked at, unless it is plainly small. Linked
// outright it would bring its hundred libraries into every start of fastencc (24 ms against
// 4 ms here), for every file of a batch, though few carry a cover that needs it. When it
// cannot be loaded, no picture can be measured, and a cover that is not plainly small is left
// out.
class Vips {
public:
    static const Vips* get()
    {
        static const Vips vips;
        return vips.m_ready ? &vips : nullptr;
    }

    VipsImage* (*newFromBuffer)(const void*, std::size_t, const char*, ...) = nullptr;
    int (*width)(const VipsImage*) = nullptr;
    int (*height)(const VipsImage*) = nullptr;
    int (*bands)(const VipsImage*) = nullptr;
    VipsBandFormat (*format)(const VipsImage*) = nullptr;
    guint64 (*formatSizeof)(VipsBandFormat) = nullptr;
    GType (*typeOf)(const VipsImage*, const char*) = nullptr;
    int (*getInt)(const VipsImage*, const char*, int*) = nullptr;
    int (*getString)(const VipsImage*, const char*, const char**) = nullptr;
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
            && bind(library, "vips_image_new_from_buffer", newFromBuffer) && bind(library, "vips_image_get_width", width)
            && bind(library, "vips_image_get_height", height) && bind(library, "vips_image_get_bands", bands)
            && bind(library, "vips_image_get_format", format) && bind(library, "vips_format_sizeof", formatSizeof)
            && bind(library, "vips_image_get_typeof", typeOf) && bind(library, "vips_image_get_int", getInt)
            && bind(library, "vips_image_get_string", getString)
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
        // A picture it cannot use is said in fastencc's one line; the library's own warnings
        // about its tiles would be lines of their own wherever standard error is kept.
        guint (*logHandler)(const gchar*, GLogLevelFlags, GLogFunc, gpointer) = nullptr;
        if (bind(library, "g_log_set_handler", logHandler))
            logHandler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
                       [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
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

// What the decoder reads from a picture's header.
struct Header {
    std::string loader; // libvips' loader, as "jpegload_buffer"
    double width = 0;
    double height = 0;
    double bands = 0;
    double sampleBytes = 0;
    bool multiscan = false;  // JPEG: progressive, or its colours in scans of their own
    bool interlaced = false; // PNG: Adam7
};

// The header as the decoder that would scale the picture reads it; nothing when no trusted
// loader takes the picture. Reading it decodes no pixel.
std::optional<Header> headerOf(const Vips& vips, const TagLib::ByteVector& picture)
{
    VipsImage* image = vips.newFromBuffer(picture.data(), picture.size(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (!image) {
        vips.errorClear();
        return std::nullopt;
    }
    Header header;
    const char* loader = nullptr;
    if (vips.typeOf(image, "vips-loader") != 0 && vips.getString(image, "vips-loader", &loader) == 0 && loader)
        header.loader = loader;
    header.width = vips.width(image);
    header.height = vips.height(image);
    header.bands = vips.bands(image);
    header.sampleBytes = static_cast<double>(vips.formatSizeof(vips.format(image)));
    int flag = 0;
    header.multiscan = vips.typeOf(image, "jpeg-multiscan") != 0 && vips.getInt(image, "jpeg-multiscan", &flag) == 0 && flag != 0;
    header.interlaced = vips.typeOf(image, "interlaced") != 0 && vips.getInt(image, "interlaced", &flag) == 0 && flag != 0;
    vips.objectUnref(image);
    vips.errorClear();
    return header;
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The bytes that decoding and scaling the picture hold at once, reckoned from its header for
// the way its format is decoded; infinite where the header cannot tell.
double decodingBytes(const Header& h)
{
    constexpr double kUnknown = HUGE_VAL;
    const double pixels = h.width * h.height;
    const double whole = pixels * h.bands * h.sampleBytes;
    if (startsWith(h.loader, "jpegload")) {
        // A baseline JPEG is shrunk by libjpeg while it is decoded, a band of lines at a time,
        // and the result made of one line in every 600 of its.
        const double streamed = h.width * h.bands * 64 + whole / CoverScaler::kMaxSide;
        if (!h.multiscan)
            return streamed;
        // Every coefficient is held until the last scan: two bytes for each pixel of each
        // component, padded to whole blocks. Subsampled colour takes less, but the header's
        // name for the subsampling does not say which component is subsampled.
        const double paddedPixels = std::ceil(h.width / 32) * 32 * std::ceil(h.height / 32) * 32;
        return paddedPixels * h.bands * 2 + streamed;
    }
    // The others are reckoned as decoded whole. An interlaced PNG is; a plain one is read a
    // few lines at a time, but libvips' shrinking of it holds up to a quarter of it.
    if (startsWith(h.loader, "pngload"))
        return whole;
    if (startsWith(h.loader, "gifload"))
        return pixels * 4; // the whole screen in RGBA, grown to the largest frame
    if (startsWith(h.loader, "webpload"))
        return pixels * 8; // in RGBA, and again for the frame that results
    if (startsWith(h.loader, "heifload"))
        return whole * 3;  // with its planes before their conversion
    // TIFF and any other: what a tile or strip takes is not in the header libvips reads (a
    // 1 x 1 picture can have a tile of 5000 x 5000).
    return kUnknown;
}

bool decodable(const Header& h)
{
    return h.width * h.height <= CoverScaler::kMaxPixels
        && decodingBytes(h) <= CoverScaler::kMaxDecodingBytes;
}

} // namespace

CoverScaler::Fit CoverScaler::fitOf(const TagLib::ByteVector& picture)
{
    if (picture.size() > kMaxPictureBytes)
        return Fit::LeftOut;
    // A JPEG or PNG whose own header plainly shows it within 600 x 600 is kept without loading
    // libvips, which costs more than the rest of a copy; nothing is decoded either way.
    // Whatever is not plain is left to libvips' reading.
    if (picture.size() <= kMaxBytes
        && vardune::PictureHeader::PlainlyWithin(reinterpret_cast<const unsigned char*>(picture.data()), picture.size(),
                                                 unsigned(kMaxSide)))
        return Fit::Kept;
    const TerminationSignalsHeld held; // see scale()
    const Vips* vips = Vips::get();
    if (!vips)
        return Fit::LeftOut;
    const auto header = headerOf(*vips, picture);
    if (!header || header->width <= 0 || header->height <= 0)
        return Fit::LeftOut;
    if (header->width <= kMaxSide && header->height <= kMaxSide && picture.size() <= kMaxBytes)
        return Fit::Kept;
    return decodable(*header) ? Fit::Scaled : Fit::LeftOut;
}

TagLib::ByteVector CoverScaler::scale(const TagLib::ByteVector& picture)
{
    if (picture.size() > kMaxPictureBytes)
        return {};
    // libvips starts threads of its own; they are made with SIGTERM, SIGINT and SIGHUP held
    // back, so those signals always reach a thread of ours, whose handler knows the temporary
    // output file.
    const TerminationSignalsHeld held;
    const Vips* vips = Vips::get();
    if (!vips)
        return {};
    // Judged again here, by the same reading of the header: whatever calls this, nothing
    // beyond the limits is ever decoded.
    const auto header = headerOf(*vips, picture);
    if (!header || !decodable(*header))
        return {};
    VipsImage* thumb = nullptr;
    // Fitted into the box, never enlarged, turned upright as its EXIF orientation says (a
    // player does not read that), colours brought to sRGB.
    // A picture cut short or damaged is refused, not filled out with grey or black: a blank
    // cover on the player is worse than none. (The loader is told through its option string:
    // the thumbnail's own fail_on does not reach a loader of a buffer.)
    if (vips->thumbnailBuffer(const_cast<char*>(picture.data()), picture.size(), &thumb, kMaxSide,
            "height", kMaxSide, "size", VIPS_SIZE_DOWN, "option_string", "fail_on=error", nullptr) != 0) {
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
