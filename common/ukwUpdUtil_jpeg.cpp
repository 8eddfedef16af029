// common/ukwUpdUtil_jpeg.cpp: CarregueImagemJPEG, the program's JPEG resources decoded
// by libjpeg into RGB pictures.
//
// libjpeg reports a fatal error by calling error_exit, which must not return; ours jumps
// back to the decoding routine with longjmp, since no C++ exception may cross libjpeg's C
// frames. Everything that lives across that jump is kept in a context object in the caller's
// frame and reached through a pointer, so no local variable of the jumping frame is relied on
// after the jump.
// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "common/ResourceTable.h"
#include "common/ukwUpdUtil.h"

namespace {

// More pixels than any logo could have; a header that claims more is taken as damaged rather
// than allowed to ask for gigabytes.
constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;

struct Decoding;

// libjpeg hands the error routine its jpeg_error_mgr; ours derives from it to find the context.
struct ErrorManager : jpeg_error_mgr {
    Decoding* ctx = nullptr;
};

struct Decoding {
    ErrorManager err;
    jpeg_decompress_struct info;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX] = {};
    const char* ourError = nullptr;
    TPicture picture;
};

extern "C" void JpegErrorExit(j_common_ptr info) {
    Decoding* d = static_cast<ErrorManager*>(info->err)->ctx;
    (*info->err->format_message)(info, d->message);
    std::longjmp(d->back, 1);
}

extern "C" void JpegSilentMessage(j_common_ptr, int) {}

// Returns false with ctx->message or ctx->ourError set on failure.
bool Decode(const unsigned char* data, size_t size, Decoding* ctx) {
    jpeg_decompress_struct& info = ctx->info;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&ctx->err);
    ctx->err.ctx = ctx;
    ctx->err.error_exit = JpegErrorExit;
    ctx->err.emit_message = JpegSilentMessage;  // warnings (e.g. extra bytes) are not failures
    if (setjmp(ctx->back) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3 || info.output_width == 0 || info.output_height == 0 ||
        uint64_t(info.output_width) * info.output_height > kMaxPixels) {
        ctx->ourError = "picture size or colour layout not supported";
        jpeg_destroy_decompress(&info);
        return false;
    }
    const size_t stride = size_t(info.output_width) * 3;
    ctx->picture.Width = int(info.output_width);
    ctx->picture.Height = int(info.output_height);
    ctx->picture.RGB.assign(stride * info.output_height, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = ctx->picture.RGB.data() + size_t(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

void CarregueImagemJPEG(std::string_view nomeRecurso, TPicture& imagem) {
    const auto bytes = kwres::FindResource(nomeRecurso, "JPEG");
    if (!bytes || bytes->empty()) return;
    Decoding ctx;
    if (!Decode(bytes->data(), bytes->size(), &ctx))
        throw EJPEG("JPEG error in resource \"" + std::string(nomeRecurso) +
                    "\": " + (ctx.ourError != nullptr ? ctx.ourError : ctx.message));
    imagem = std::move(ctx.picture);
}
