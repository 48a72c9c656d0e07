#include "riff/RiffChunkTables.h"

#include <cstddef>

#include "core/FourCC.h"

namespace {

constexpr uint32_t kInfoTextTokens[] = {
    FourCC("IARL"), FourCC("IART"), FourCC("ICMS"), FourCC("ICMT"), FourCC("ICOP"),
    FourCC("ICRD"), FourCC("ICRP"), FourCC("IDIM"), FourCC("IDIT"), FourCC("IDPI"),
    FourCC("IENG"), FourCC("IGNR"), FourCC("IKEY"), FourCC("ILGT"), FourCC("IMED"),
    FourCC("INAM"), FourCC("IPLT"), FourCC("IPRD"), FourCC("ISBJ"), FourCC("ISFT"),
    FourCC("ISHP"), FourCC("ISMP"), FourCC("ISRC"), FourCC("ISRF"), FourCC("ITCH"),
};

constexpr uint32_t kWideInfoTextTokens[] = {
    FourCC("UART"), FourCC("UCMS"), FourCC("UCMT"), FourCC("UCOP"), FourCC("UCRD"),
    FourCC("UCRP"), FourCC("UDIT"), FourCC("UDPI"), FourCC("UENG"), FourCC("UMED"),
    FourCC("UNAM"), FourCC("USFT"), FourCC("USRF"),
};

// Standard clipboard formats, numbered from 1.
constexpr const char* kClipboardFormats[] = {
    " Text",   " Bitmap",         " MetafilePict", " SYLK",        " DIF",
    " TIFF",   " OEMText",        " DIB (Bitmap)", " Palette",     " PenData",
    " RIFF",   " WAVE",           " UnicodeText",  " EnhMetafile", " HDrop",
    " Locale", " DIBV5 (Bitmap)",
};

struct FormatTag {
  uint16_t tag;
  const char* name;
};

constexpr FormatTag kFormatTags[] = {
    {0x0001, "(PCM)"},
    {0x0002, "(ADPCM)"},
    {0x0006, "(ALaw)"},
    {0x0007, "(MuLaw)"},
    {0x0011, "(Intel ADPCM)"},
    {0x0014, "(G723 ADPCM)"},
    {0x0022, "(DSPGroup TrueSpeech)"},
    {0x0030, "(Dolby AC2)"},
    {0x0031, "(GSM610)"},
    {0x0032, "(MSNAUDIO)"},
    {0x0042, "(MSG723)"},
    {0x0050, "(MP1/2)"},
    {0x0055, "(MP3)"},
    {0x0062, "(Voxware file-mode codec)"},
    {0x0075, "(Voxware RT29)"},
    {0x0092, "(Dolby AC2 SPDIF)"},
    {0x0160, "(MS Audio V1/DIVX)"},
    {0x0161, "(MS Audio V2/DIVX)"},
    {0x0401, "(Intel Music Coder (IMC))"},
    {0x0402, "(Ligos Indeo Audio)"},
    {0x2000, "(AC3)"},
    {0x674F, "(OGG Vorbis 1)"},
    {0x6750, "(OGG Vorbis 2)"},
    {0x6751, "(OGG Vorbis 3)"},
    {0x676F, "(OGG Vorbis 1 Plus)"},
    {0x6770, "(OGG Vorbis 2 Plus)"},
    {0x6771, ""},
    {0xFFFE, "(Extensible)"},
};

template <size_t N>
bool Contains(const uint32_t (&tokens)[N], uint32_t token) {
  for (uint32_t candidate : tokens) {
    if (candidate == token) return true;
  }
  return false;
}

}  // namespace

bool RiffChunkTables::IsInfoTextToken(uint32_t token) { return Contains(kInfoTextTokens, token); }

bool RiffChunkTables::IsWideInfoTextToken(uint32_t token) {
  return Contains(kWideInfoTextTokens, token);
}

const char* RiffChunkTables::ClipboardFormatName(uint32_t format) {
  constexpr size_t kCount = sizeof kClipboardFormats / sizeof kClipboardFormats[0];
  if (format >= 1 && format <= kCount) return kClipboardFormats[format - 1];
  return " (unknown)";
}

const char* RiffChunkTables::FormatTagName(uint16_t tag) {
  for (const FormatTag& entry : kFormatTags) {
    if (entry.tag == tag) return entry.name;
  }
  return nullptr;
}
