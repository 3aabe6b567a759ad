#pragma once

#include <QImage>
#include <QString>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

// What the encoder and the decoder share of libjpeg: its errors as the codec
// takes them (no default error exit, every failure a jump back into the step
// that ran, reported as "JPEG error #<n>"), and how a picture's rows read.
namespace Jpeg::Shared {

inline QString codecError(int code)
{
    return QStringLiteral("JPEG error #%1").arg(code);
}

// libjpeg's error manager, extended with the jump target of the running step.
struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] inline void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// A truncated stream must fail instead of decoding as a picture padded with grey.
inline void emitMessage(j_common_ptr cinfo, int level)
{
    if (level != -1)
        return;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF)
        cinfo->err->error_exit(cinfo);
    ++cinfo->err->num_warnings;
}

inline void outputMessage(j_common_ptr) { }

inline void initErrors(ErrorManager &err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
}

// Runs one libjpeg step under a fresh jump target; false when libjpeg failed.
// Steps keep only trivially destructible locals, so the jump skips no destructor.
template<typename T>
bool guarded(ErrorManager &err, T *state, void (*step)(T *))
{
    if (setjmp(err.jump))
        return false;
    step(state);
    return true;
}


// How libjpeg reads a row of this format in place; JCS_UNKNOWN when it cannot.
inline J_COLOR_SPACE inputSpaceOf(QImage::Format format)
{
    constexpr bool little = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    switch (format) {
    case QImage::Format_RGB888: return JCS_RGB;
    case QImage::Format_RGB32: // 0xffRRGGBB in native byte order
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: return little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    case QImage::Format_RGBX8888: // R, G, B, X in memory order
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied: return JCS_EXT_RGBX;
    default: return JCS_UNKNOWN;
    }
}
} // namespace Jpeg::Shared
