// Side texts into side records, and JPEG pictures into RGB buffers.
//
// libjpeg reports a fatal error by calling error_exit, which must not return;
// ours jumps back to the recovery point in decodePicture. That function, and
// every frame between it and the jump, holds only trivially destructible
// objects, so the jump skips no destructor. Everything the decoder allocates
// comes from its own pools and goes with jpeg_destroy_decompress.
#include "loader/side_loader.h"

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include <jpeglib.h>
// After jpeglib.h, which it builds on.
#include <jerror.h>

#include "platform/platform.h"

// The replacement for the library's fatal-error exit: show the library's
// message (standard error), then return to the recovery point.
void jpegErrorExit(j_common_ptr decoder);

namespace {

// "Image %s not found." with a side text of at most 259 characters.
constexpr std::size_t kMessageSize = 300;

struct JpegErrorManager {
    jpeg_error_mgr standard;  // first, so the library's pointer is also ours
    std::jmp_buf recovery;
};

// Progressive files can ask for any number of scans, each a full pass over
// the coefficients; a crafted one would keep the saver busy for minutes. So
// the scans are capped, and so is the work: scans times pixels. A camera's
// progressive 24-megapixel picture (ten scans) uses a ninth of that budget,
// the largest picture a side may hold a dozen scans; a file that asks for
// more is refused as too large.
constexpr long kMaxScans = 500;
constexpr std::uint64_t kMaxScanPixels = std::uint64_t{1} << 31;

struct DecodeJob {
    jpeg_decompress_struct decoder;
    JpegErrorManager errors;
    jpeg_progress_mgr progress;
    std::FILE* file;
    Side* side;
    bool decoded;   // set by the library's steps, read after a jump as well
    bool tooLarge;  // refused for its decode work; the jump cannot say so
    bool bufferRefused;  // the side table refused its buffer (and said so)
};
static_assert(std::is_trivially_destructible_v<DecodeJob>);

SideFailure lastFailure = SideFailure::None;

// Where the caller names a failed side itself, the library's own line would
// say it twice.
void silentOutput(j_common_ptr) {}

bool equalsNoneIgnoringCase(const char* text) {
    static constexpr char kNone[] = "$none";
    for (std::size_t i = 0; i < sizeof kNone; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kNone[i]) return false;
        if (c == '\0') break;
    }
    return true;
}

// The library calls this often during every long stretch of work (each row
// read, each pass over the coefficients), so it is also where a load gives up
// when the program is being ended: back to the recovery point, no message.
void limitScans(j_common_ptr common) {
    if (plat::StopRequested())
        std::longjmp(reinterpret_cast<JpegErrorManager*>(common->err)->recovery, 1);
    if (!common->is_decompressor) return;
    // Called before each stretch of a scan is read, so a scan beyond the
    // budget is refused before any of its work is done.
    const auto decoder = reinterpret_cast<j_decompress_ptr>(common);
    const std::uint64_t pixels = std::uint64_t{decoder->image_width} * decoder->image_height;
    const auto scans = static_cast<std::uint64_t>(decoder->input_scan_number);
    const bool tooMuchWork = scans * pixels > kMaxScanPixels;
    if (tooMuchWork) static_cast<DecodeJob*>(decoder->client_data)->tooLarge = true;
    if (decoder->input_scan_number > kMaxScans || tooMuchWork)
        ERREXIT(common, JERR_NOT_COMPILED);  // API 62 has no code of its own for this
}

std::uint8_t clampByte(unsigned value) { return static_cast<std::uint8_t>(value > 255 ? 255 : value); }

// One decoded row, in whatever the library's default output holds, as RGB.
// Grey repeats its one value; four components are CMYK (YCCK has already been
// turned into CMYK by the library). Files with an Adobe marker store CMYK
// inverted, as the programs that write them do.
void toRgb(const JSAMPLE* in, std::uint8_t* out, JDIMENSION width, int components, bool inverted) {
    if (components == 1) {
        for (JDIMENSION x = 0; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
        return;
    }
    for (JDIMENSION x = 0; x < width; ++x) {
        unsigned c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[3 * x] = clampByte(c * k / 255);
        out[3 * x + 1] = clampByte(m * k / 255);
        out[3 * x + 2] = clampByte(y * k / 255);
    }
}

// libjpeg's steps for one created decoder, in the library's order: data
// source, header, (our picture buffer, sized from the header), start of
// decompression with default parameters, row buffers from the image pool,
// scanlines, finish. True when the whole picture is in the side's buffer.
// Any error inside the library leaves through the recovery point instead.
bool readPicture(DecodeJob& job) {
    jpeg_decompress_struct& decoder = job.decoder;
    Side& side = *job.side;

    jpeg_stdio_src(&decoder, job.file);

    jpeg_read_header(&decoder, TRUE);
    // JPEG dimensions are at most 65535, so the padded width fits easily.
    const std::int64_t realWidth = decoder.image_width;
    side.width = static_cast<std::int32_t>((realWidth + 3) / 4 * 4);
    side.height = static_cast<std::int32_t>(decoder.image_height);
    allocSidePixels(side, side.width, side.height);
    if (side.pixels == nullptr) {
        job.bufferRefused = true;
        return false;
    }

    // A progressive (or other many-scan) file is decoded through the whole
    // picture's coefficients, held at once beside the pixels; they come out
    // of what the sides may hold together. Past it the library stops with
    // its "no backing store" error rather than allocate.
    const std::uint64_t room = sideBytesAvailable();
    constexpr std::uint64_t kLongMax = static_cast<std::uint64_t>(LONG_MAX);
    decoder.mem->max_memory_to_use = room == 0 ? 1 : static_cast<long>(room < kLongMax ? room : kLongMax);
    jpeg_start_decompress(&decoder);
    const int components = decoder.output_components;
    if (components != 1 && components != 3 && components != 4) return false;

    const JDIMENSION width = decoder.output_width;
    const JDIMENSION rowBytes = width * static_cast<JDIMENSION>(components);
    JSAMPARRAY row = (*decoder.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder),
                                                   JPOOL_IMAGE, rowBytes, 1);
    JSAMPARRAY rgb = row;
    if (components != 3)
        rgb = (*decoder.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
                                           width * 3, 1);
    const bool inverted = decoder.saw_Adobe_marker != 0;

    while (decoder.output_scanline < decoder.output_height) {
        // A data source that cannot suspend always delivers a row; should one
        // ever not, stop rather than spin.
        if (jpeg_read_scanlines(&decoder, row, 1) != 1) break;
        if (components != 3) toRgb(row[0], rgb[0], width, components, inverted);
        appendSideRow(side, rgb[0], static_cast<std::size_t>(width) * 3u);
    }

    jpeg_finish_decompress(&decoder);
    return true;
}

// The library's messages (the fatal one, the first warning) go where ours go,
// and like ours are dropped rather than wait for a reader.
void writeJpegMessage(j_common_ptr decoder) {
    char text[JMSG_LENGTH_MAX];
    (*decoder->err->format_message)(decoder, text);
    plat::WriteDiagnostic(plat::DiagnosticStream::Error, "%s\n", text);
}

// The decode proper, from the decoder's creation to its destruction. True
// when the whole picture arrived; the decoder is always destroyed, the caller
// closes the file.
bool decodePicture(DecodeJob& job) {
    jpeg_decompress_struct& decoder = job.decoder;

    // Error handler first, so that creating the decoder can already fail
    // through it; then the decoder and its scan limit.
    decoder.err = jpeg_std_error(&job.errors.standard);
    job.errors.standard.error_exit = jpegErrorExit;
    job.errors.standard.output_message = quietSideReports ? silentOutput : writeJpegMessage;
    job.decoded = false;
    job.tooLarge = false;
    job.bufferRefused = false;
    if (setjmp(job.errors.recovery) == 0) {
        jpeg_create_decompress(&decoder);
        decoder.client_data = &job;
        job.progress.progress_monitor = limitScans;
        decoder.progress = &job.progress;
        job.decoded = readPicture(job);
    }
    // A picture refused for the memory or the work its decode would take is
    // reported as one too large to hold.
    const bool tooLarge =
        job.tooLarge || job.errors.standard.msg_code == JERR_NO_BACKING_STORE;
    if (!job.decoded && tooLarge) reportTooLargeSide(job.side->width, job.side->height);
    // Anything else the library stopped at is no picture we can read.
    if (!job.decoded)
        lastFailure = tooLarge || job.bufferRefused ? SideFailure::TooLarge : SideFailure::NotJpeg;
    // The one way out: after a whole picture, a refused one, or the
    // library's error exit alike.
    jpeg_destroy_decompress(&decoder);
    return job.decoded;
}

}  // namespace

void jpegErrorExit(j_common_ptr decoder) {
    (*decoder->err->output_message)(decoder);
    std::longjmp(reinterpret_cast<JpegErrorManager*>(decoder->err)->recovery, 1);
}

std::int32_t parseHexPair(const char* text) {
    char pair[3] = {0, 0, 0};
    if (text != nullptr && text[0] != '\0') {
        pair[0] = text[0];
        pair[1] = text[1];
    }
    // Text that "%x" cannot convert would leave the value undefined; a
    // colour side must never depend on uninitialised memory.
    unsigned value = 0;
    if (std::sscanf(pair, "%x", &value) != 1) return 0;
    return static_cast<std::int32_t>(value);
}

SideKind sideKindOf(const char* text) {
    if (std::strlen(text) == 7 && text[0] == '#') return SideKind::Colour;
    return equalsNoneIgnoringCase(text) ? SideKind::Empty : SideKind::Picture;
}

SideFailure lastSideFailure() { return lastFailure; }

const char* sideFailureText(SideFailure failure) {
    switch (failure) {
    case SideFailure::NoSuchFile: return "no such file";
    case SideFailure::Unreadable: return "cannot be read";
    case SideFailure::NotJpeg: return "not a JPEG file";
    case SideFailure::TooLarge: return "too large";
    case SideFailure::None: break;
    }
    return "";
}

bool loadSide(Side& side, const char* text) {
    lastFailure = SideFailure::None;
    if (text == nullptr) text = "";
    const SideKind kind = sideKindOf(text);
    if (kind == SideKind::Colour) {
        side.height = -1;
        side.width = -1;
        side.red = parseHexPair(text + 1);
        side.green = parseHexPair(text + 3);
        side.blue = parseHexPair(text + 5);
        side.isEmpty = 0;
        return true;
    }
    if (kind == SideKind::Empty) {
        side.isEmpty = 1;
        return true;
    }

    side.isEmpty = 0;
    errno = 0;
    std::FILE* file = plat::OpenFileForReading(text);
    if (file == nullptr) {
        lastFailure = errno == ENOENT || errno == ENOTDIR || text[0] == '\0'
                          ? SideFailure::NoSuchFile
                          : SideFailure::Unreadable;
        return false;
    }
    DecodeJob job{};
    job.file = file;
    job.side = &side;
    const bool loaded = decodePicture(job);
    std::fclose(file);
    return loaded;
}

std::int32_t edgeLengthOfSides() {
    std::int32_t edge = 10000;
    for (const Side& side : sideTable) {
        if (!isPictureSide(side)) continue;
        const std::int32_t smaller = side.width < side.height ? side.width : side.height;
        if (smaller < edge) edge = smaller;
    }
    return edge == 10000 ? 200 : edge;
}

namespace {
char lastMessage[kMessageSize];
}  // namespace

const char* lastLoaderMessage() { return lastMessage; }

std::int32_t loadAllSides(const char* text1, const char* text2, const char* text3,
                          const char* text4, const char* text5, const char* text6) {
    const char* texts[6] = {text1, text2, text3, text4, text5, text6};
    lastMessage[0] = '\0';
    for (int i = 0; i < 6; ++i) {
        // A load given up because the program is ending is no failure to tell.
        if (plat::StopRequested()) return 0;
        if (!loadSide(sideTable[i], texts[i])) {
            if (plat::StopRequested()) return 0;
            std::snprintf(lastMessage, sizeof lastMessage, "Image %s not found.",
                          texts[i] != nullptr ? texts[i] : "");
            // The pictures loaded so far are not shown now; the box needs
            // what they hold when the address space is tight.
            freeSidePixels();
            plat::MessageBoxA(loaderMessageOwner, lastMessage, "Error", plat::MB_ICONERROR);
            return 0;
        }
    }
    return edgeLengthOfSides();
}
