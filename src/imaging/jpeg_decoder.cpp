#include "imaging/jpeg_decoder.h"

#include <bit>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <memory>
#include <vector>

#include "imaging/large_buffers.h"

#include <jerror.h>
#include <jpeglib.h>

namespace pellory::imaging {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Everything one decode touches lives here, on the heap, so that a jump back out of the decoder
// leaves nothing half-built on the stack.
struct JpegJob {
    jpeg_decompress_struct cinfo {};
    ErrorManager err {};
    bool created = false;
    const uint8_t* data = nullptr;
    size_t size = 0;
    int reduceToWidth = 0;
    JpegLimits limits;
    QImage image;
    std::vector<uint8_t> cmykRow;
    std::string error;

    ~JpegJob() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

[[noreturn]] void FailWithMessage(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// Warnings (level -1) about the data stop the decode; informational ones about the file's
// markers (an unknown JFIF revision, a damaged colour profile) do not concern the pixels.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JFIF_MAJOR || code == JWRN_BOGUS_ICC) return;
    FailWithMessage(cinfo);
}

std::string MessageOf(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    return text;
}

std::string SizeText(int64_t w, int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// The bytes the decoder keeps for the whole picture when it must read every scan before giving
// out a row (progressive files): one 16-bit coefficient per sample of each component.
size_t CoefficientBytes(const jpeg_decompress_struct& cinfo) {
    size_t total = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        // Rounded up to whole interleaved units, as the decoder allocates them.
        const size_t wb = (comp.width_in_blocks + static_cast<size_t>(comp.h_samp_factor) - 1);
        const size_t hb = (comp.height_in_blocks + static_cast<size_t>(comp.v_samp_factor) - 1);
        total += wb * hb * sizeof(JBLOCK);
    }
    return total;
}

uint8_t Mul255(unsigned a, unsigned b) { return static_cast<uint8_t>((a * b + 127) / 255); }

// Runs the decoder. Only plain values are created between the setjmp and the end, so a jump back
// here skips no destructor.
bool Run(JpegJob& job) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    cinfo.err = jpeg_std_error(&job.err.pub);
    job.err.pub.error_exit = FailWithMessage;
    job.err.pub.emit_message = OnMessage;
    if (setjmp(job.err.jump) != 0) {
        job.error = "cannot decode the picture: " + MessageOf(reinterpret_cast<j_common_ptr>(&cinfo));
        job.image = QImage();
        return false;
    }
    jpeg_create_decompress(&cinfo);
    job.created = true;
    jpeg_mem_src(&cinfo, job.data, static_cast<unsigned long>(job.size));
    jpeg_read_header(&cinfo, TRUE);

    const int64_t width = cinfo.image_width;
    const int64_t height = cinfo.image_height;
    if (width <= 0 || height <= 0 || width > job.limits.maxSide || height > job.limits.maxSide ||
        width * height > job.limits.maxDots) {
        job.error = "picture size " + SizeText(width, height) + " is outside the limit of " +
                    std::to_string(job.limits.maxDots) + " dots and " + std::to_string(job.limits.maxSide) +
                    " per side";
        return false;
    }

    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    if (cmyk) {
        cinfo.out_color_space = JCS_CMYK;
    } else {
        // Native 32-bit words 0xffRRGGBB, as QImage::Format_RGB32 keeps them.
        cinfo.out_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    }
    if (job.reduceToWidth > 0) {
        for (unsigned n = 1; n <= 8; ++n) {
            if ((static_cast<int64_t>(width) * n + 7) / 8 >= job.reduceToWidth || n == 8) {
                cinfo.scale_num = n;
                cinfo.scale_denom = 8;
                break;
            }
        }
    }
    jpeg_calc_output_dimensions(&cinfo);

    const size_t outputBytes = size_t{cinfo.output_width} * cinfo.output_height * job.limits.outputBytesPerDot;
    const size_t coefficients = cinfo.progressive_mode || cinfo.buffered_image ? CoefficientBytes(cinfo) : 0;
    if (outputBytes > job.limits.memoryBytes || coefficients > job.limits.memoryBytes - outputBytes) {
        job.error = "picture of " + SizeText(width, height) + " would need " +
                    std::to_string((outputBytes + coefficients) >> 20) + " MiB to decode; the limit is " +
                    std::to_string(job.limits.memoryBytes >> 20) + " MiB";
        return false;
    }
    // Whatever else the decoder asks for comes out of the rest; past it the decode fails.
    cinfo.mem->max_memory_to_use = static_cast<long>(job.limits.memoryBytes - outputBytes);

    jpeg_start_decompress(&cinfo);
    job.image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                       QImage::Format_RGB32);
    if (job.image.isNull()) {
        job.error = "out of memory for a picture of " + SizeText(cinfo.output_width, cinfo.output_height);
        jpeg_abort_decompress(&cinfo);
        return false;
    }
    AdviseHugePages(job.image.bits(), static_cast<size_t>(job.image.sizeInBytes()));
    if (cmyk) job.cmykRow.resize(size_t{cinfo.output_width} * 4);
    // Adobe's CMYK files store the inks inverted (255 = no ink).
    const bool inverted = cinfo.saw_Adobe_marker != 0;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        if (!cmyk) {
            JSAMPROW row = job.image.scanLine(y);
            jpeg_read_scanlines(&cinfo, &row, 1);
            continue;
        }
        JSAMPROW row = job.cmykRow.data();
        jpeg_read_scanlines(&cinfo, &row, 1);
        auto* out = reinterpret_cast<uint32_t*>(job.image.scanLine(y));
        for (JDIMENSION x = 0; x < cinfo.output_width; ++x) {
            const uint8_t* p = row + 4 * x;
            unsigned c = p[0], m = p[1], ye = p[2], k = p[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                ye = 255 - ye;
                k = 255 - k;
            }
            out[x] = 0xff000000u | uint32_t{Mul255(c, k)} << 16 | uint32_t{Mul255(m, k)} << 8 | Mul255(ye, k);
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, int reduceToWidth, const JpegLimits& limits, QImage& out,
                std::string& error) {
    out = QImage();
    auto job = std::make_unique<JpegJob>();
    job->data = data;
    job->size = size;
    job->reduceToWidth = reduceToWidth;
    job->limits = limits;
    if (!Run(*job)) {
        error = job->error;
        return false;
    }
    out = std::move(job->image);
    return true;
}

}  // namespace pellory::imaging
