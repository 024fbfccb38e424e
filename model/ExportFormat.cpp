#include "model/ExportFormat.h"

#include "model/Localization.h"

namespace tessoral {

std::string title(ExportFormat format) {
    switch (format) {
        case ExportFormat::wav24: return "WAV · 24 bit";
        case ExportFormat::wav16: return "WAV · 16 bit";
        case ExportFormat::wav32f: return "WAV · 32 bit float";
        case ExportFormat::aiff24: return "AIFF · 24 bit";
        case ExportFormat::flac: return L("FLAC · без потерь");
        case ExportFormat::alac: return "Apple Lossless (M4A)";
        case ExportFormat::aac256: return "AAC 256 kbps (M4A)";
        case ExportFormat::aac192: return "AAC 192 kbps (M4A)";
        case ExportFormat::aac128: return "AAC 128 kbps (M4A)";
    }
    return {};
}

std::string_view fileExtension(ExportFormat format) {
    switch (format) {
        case ExportFormat::wav24:
        case ExportFormat::wav16:
        case ExportFormat::wav32f: return "wav";
        case ExportFormat::aiff24: return "aiff";
        case ExportFormat::flac: return "flac";
        case ExportFormat::alac:
        case ExportFormat::aac256:
        case ExportFormat::aac192:
        case ExportFormat::aac128: return "m4a";
    }
    return "wav";
}

bool isAAC(ExportFormat format) {
    return format == ExportFormat::aac256 || format == ExportFormat::aac192 || format == ExportFormat::aac128;
}

ExportFormatSettings settings(ExportFormat format) {
    ExportFormatSettings s;
    auto pcm = [&s](int depth, bool isFloat, bool bigEndian) {
        s.formatID = fourCC("lpcm");
        s.bitDepth = depth;
        s.isFloat = isFloat;
        s.isBigEndian = bigEndian;
    };
    switch (format) {
        case ExportFormat::wav24: pcm(24, false, false); break;
        case ExportFormat::wav16: pcm(16, false, false); break;
        case ExportFormat::wav32f: pcm(32, true, false); break;
        case ExportFormat::aiff24: pcm(24, false, true); break;
        case ExportFormat::flac:
            s.formatID = fourCC("flac");
            s.bitDepth = 24;
            break;
        case ExportFormat::alac:
            s.formatID = fourCC("alac");
            s.encoderBitDepthHint = 24;
            break;
        case ExportFormat::aac256:
            s.formatID = fourCC("aac ");
            s.bitRate = 256000;
            break;
        case ExportFormat::aac192:
            s.formatID = fourCC("aac ");
            s.bitRate = 192000;
            break;
        case ExportFormat::aac128:
            s.formatID = fourCC("aac ");
            s.bitRate = 128000;
            break;
    }
    return s;
}

}  // namespace tessoral
