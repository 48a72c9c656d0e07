#include "riff/AviHeaderDumper.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/ByteReader.h"
#include "core/CParser.h"
#include "core/FieldFormat.h"
#include "core/FourCC.h"
#include "core/StructDesc.h"
#include "core/StructureDumper.h"
#include "riff/AviAudioFormatDumper.h"

namespace {

using CodeName = AviHeaderDumper::CodeName;
using FlagName = AviHeaderDumper::FlagName;
using WordField = AviHeaderDumper::WordField;

constexpr uint32_t kHeaderSize = 56;           // 'avih' and 'strh'
constexpr uint32_t kOldStreamHeaderSize = 64;  // 'strh' with a 32-bit frame rectangle
constexpr uint32_t kBitmapInfoSize = 40;
constexpr uint32_t kDvInfoSize = 32;
constexpr uint32_t kShortDvInfoSize = 24;  // DVINFO without the reserved words
constexpr uint32_t kBitmapV4Size = 108;
constexpr uint32_t kBitmapV5Size = 124;
constexpr uint32_t kJpegHeaderSize = 68;  // BITMAPINFOHEADER + JPEGINFOHEADER
constexpr uint32_t kJpegExtensionSize = 44;
constexpr uint32_t kSubtitleFormatSize = 22;
constexpr uint32_t kVideoPropertiesFixedSize = 36;
constexpr uint32_t kVideoFieldDescSize = 32;
constexpr uint32_t kMaxStreams = 16;
constexpr int32_t kMinFrameEdge = 16;
constexpr int32_t kMaxFrameEdge = 4096;
constexpr int32_t kMaxQuality = 10000;
constexpr uint32_t kMaxDurationDifferenceMs = 500;

const FlagName kMainHeaderFlags[] = {
    {0x10, "HasIndex", 0},          {0x20, "MustUseIndex", 0},   {0x100, "IsInterleaved", 0},
    {0x10000, "WasCaptureFile", 0}, {0x20000, "Copyrighted", 0}, {0x800, "TrustCKType", 0},
};

const FlagName kStreamHeaderFlags[] = {
    {0x1, "Disabled", 0},
    {0x10000, "VideoPaletteChanges", 0},
};

struct FrameSizeName {
  int32_t width;
  int32_t height;
  const char* name;
};

const FrameSizeName kFrameSizeNames[] = {
    {128, 96, "SQCIF 4:3"},
    {176, 144, "QCIF 11:9"},
    {352, 240, "NTSC-VCD, -DVD 11:7.5"},
    {352, 288, "CIF, PAL-VCD, -DVD 11:9"},
    {352, 480, "NTSC-DVD 11:15"},
    {352, 576, "PAL-DVD 11:18"},
    {640, 480, "NTSC"},
    {704, 480, "NTSC-DVD 11:7,5"},
    {704, 576, "4CIF, PAL-DVD 11:9"},
    {720, 480, "NTSC-DVD 3:2"},
    {720, 576, "PAL-DVD 5:4"},
    {768, 576, "PAL 5:4"},
    {1280, 720, "HDTV 16:9"},
    {1920, 1080, "HDTV 16:9"},
};

struct HandlerName {
  uint32_t handler;
  const char* name;
};

const HandlerName kCodecNames[] = {
    {FourCC("RLE "), " (MS RLE)"},
    {FourCC("RLE4"), " (MS RLE)"},
    {FourCC("RLE8"), " (MS RLE)"},
    {FourCC("mrle"), " (MS RLE)"},
    {FourCC("CRAM"), " (MS Video 1)"},
    {FourCC("cram"), " (MS Video 1)"},
    {FourCC("MSVC"), " (MS Video 1)"},
    {FourCC("msvc"), " (MS Video 1)"},
    {FourCC("WHAM"), " (MS Video 1)"},
    {FourCC("wham"), " (MS Video 1)"},
    {FourCC("IAN "), " (Intel/Ligos Indeo)"},
    {FourCC("IV30"), " (Intel/Ligos Indeo)"},
    {FourCC("IV31"), " (Intel/Ligos Indeo)"},
    {FourCC("IV32"), " (Intel/Ligos Indeo)"},
    {FourCC("IV33"), " (Intel/Ligos Indeo)"},
    {FourCC("IV34"), " (Intel/Ligos Indeo)"},
    {FourCC("IV35"), " (Intel/Ligos Indeo)"},
    {FourCC("IV37"), " (Intel/Ligos Indeo)"},
    {FourCC("IV38"), " (Intel/Ligos Indeo)"},
    {FourCC("IV39"), " (Intel/Ligos Indeo)"},
    {FourCC("IV40"), " (Intel/Ligos Indeo)"},
    {FourCC("IV41"), " (Intel/Ligos Indeo)"},
    {FourCC("IV42"), " (Intel/Ligos Indeo)"},
    {FourCC("IV43"), " (Intel/Ligos Indeo)"},
    {FourCC("IV44"), " (Intel/Ligos Indeo)"},
    {FourCC("IV45"), " (Intel/Ligos Indeo)"},
    {FourCC("IV46"), " (Intel/Ligos Indeo)"},
    {FourCC("IV47"), " (Intel/Ligos Indeo)"},
    {FourCC("IV48"), " (Intel/Ligos Indeo)"},
    {FourCC("IV49"), " (Intel/Ligos Indeo)"},
    {FourCC("IV50"), " (Intel/Ligos Indeo)"},
    {FourCC("DIV3"), " (DivX/OpenDivX)"},
    {FourCC("DIV4"), " (DivX/OpenDivX)"},
    {FourCC("DIV5"), " (DivX/OpenDivX)"},
    {FourCC("DIVX"), " (DivX/OpenDivX)"},
    {FourCC("divx"), " (DivX/OpenDivX)"},
    {FourCC("DX50"), " (DivX/OpenDivX)"},
    {FourCC("MP42"), " (MS MPEG-4)"},
    {FourCC("MP43"), " (MS MPEG-4)"},
    {FourCC("MPG4"), " (MS MPEG-4)"},
    {FourCC("AP41"), " (AngelPotion MS MP43 Hack)"},
    {FourCC("wmv1"), " (MS Windows Media 7)"},
    {FourCC("wmv2"), " (MS Windows Media 8)"},
    {FourCC("wmv3"), " (MS Windows Media 9)"},
    {FourCC("3IV1"), " (3ivx Delta MPEG-4)"},
    {FourCC("3IV2"), " (3ivx Delta MPEG-4)"},
    {FourCC("VCR1"), " (ATI Video)"},
    {FourCC("VCR2"), " (ATI Video)"},
    {FourCC("ASV1"), " (Asus Video)"},
    {FourCC("ASV2"), " (Asus Video)"},
    {FourCC("ASVX"), " (Asus Video)"},
    {FourCC("dvsd"), " (DV Standard Definition 25Mb/s)"},
    {FourCC("DVSD"), " (DV Standard Definition 25Mb/s)"},
    {FourCC("dvsl"), " (DV Low Definition 12.5Mb/s)"},
    {FourCC("dvhd"), " (DV High Definition 50Mb/s)"},
    {FourCC("dvh1"), " (DV High Definition 100Mb/s)"},
    {FourCC("dv25"), " (DVCPRO25 25Mb/s, 4:1:1)"},
    {FourCC("dv50"), " (DVCPRO50 50Mb/s, 4:2:2)"},
    {FourCC("52vd"), " (Matros Digisuite DV25)"},
    {FourCC("CDVC"), " (Canopus DV24)"},
    {FourCC("MJPG"), " (Motion JPEG)"},
    {FourCC("mjpg"), " (Motion JPEG)"},
    {FourCC("ADVJ"), " (AVID M-JPEG)"},
    {FourCC("AVRn"), " (AVID M-JPEG)"},
    {FourCC("MMES"), " (Matrox MPEG I-frame)"},
    {FourCC("CVID"), " (Radius Cinepak)"},
    {FourCC("cvid"), " (Radius Cinepak)"},
    {FourCC("DAVC"), " (mpegable MPEG-4)"},
    {FourCC("davc"), " (H.264/MPEG-4 AVC base profile)"},
    {FourCC("VSSH"), " (Vanguard Software Solutions MPEG-4)"},
    {FourCC("tscc"), " (TechSmith Camtasia)"},
    {FourCC("ffds"), " (FFDShow)"},
    {FourCC("DXSB"), " (DivX Subtitles)"},
};

// The DV handlers whose streams carry a BITMAPINFOHEADER followed by a DVINFO.
bool IsDvHandler(uint32_t handler) {
  return handler == FourCC("dvsd") || handler == FourCC("dv25") || handler == FourCC("dv50");
}

bool IsDvType1Handler(uint32_t handler) {
  return IsDvHandler(handler) || handler == FourCC("DVSD") || handler == FourCC("CDVC");
}

bool IsVideoType(uint32_t type) { return type == FourCC("vids") || type == FourCC("iavs"); }

// The BITMAPINFOHEADER as the structure dumper prints it. The version 4/5
// fields and the codec extras behind the 40 bytes are printed by hand since
// their presence depends on biSize and the codec.
const FieldDesc kBitmapInfoFields[] = {
    {FieldType::DWord, 0, 0, "biSize"},         {FieldType::Long, 0, 0, "biWidth"},
    {FieldType::Long, 0, 0, "biHeight"},        {FieldType::Word, 0, 0, "biPlanes"},
    {FieldType::Word, 0, 0, "biBitCount"},      {FieldType::FourCC, kHexFormat, 0, "biCompression"},
    {FieldType::DWord, 0, 0, "biSizeImage"},    {FieldType::Long, 0, 0, "biXPelsPerMeter"},
    {FieldType::Long, 0, 0, "biYPelsPerMeter"}, {FieldType::DWord, 0, 0, "biClrUsed"},
    {FieldType::DWord, 0, 0, "biClrImportant"},
};
// No tag: the fields go straight under the 'strf' chunk line.
const StructDesc kBitmapInfoHeader("BITMAPINFOHEADER", "", kBitmapInfoSize, 0, kBitmapInfoFields);

// BITMAPV4HEADER fields after the 40 common bytes (the end points are printed
// on one line of their own). Labels keep the last two digits of the offset.
const WordField kBitmapV4MaskFields[] = {
    {40, 4, "40 RedMask", {}},   {44, 4, "44 GreenMask", {}}, {48, 4, "48 BlueMask", {}},
    {52, 4, "52 AlphaMask", {}}, {56, 4, "56 CSType", {}},
};
constexpr uint32_t kEndpointsOffset = 60;
constexpr uint32_t kEndpointWords = 9;
const WordField kBitmapV4GammaFields[] = {
    {96, 4, "96 GammaRed", {}},
    {100, 4, "00 GammaGreen", {}},
    {104, 4, "04 GammaBlue", {}},
};
const WordField kBitmapV5Fields[] = {
    {108, 4, "08 Intent", {}},
    {112, 4, "12 ProfileData", {}},
    {116, 4, "16 ProfileSize", {}},
    {120, 4, "20 Reserved", {}},
};

const CodeName kJpegColorSpaces[] = {
    {1, " Y only component of YCbCr"},
    {2, " YCbCr CCIR601"},
    {3, " 3 component RGB"},
};
const WordField kJpegFields[] = {
    {40, 4, "40 ExtDataOffset", {}},     {44, 4, "44 JPEGSize", {}},
    {48, 4, "48 JPEGProcess", {}},       {52, 4, "52 JPEGColorSpaceID", kJpegColorSpaces},
    {56, 4, "56 JPEGBitsPerSample", {}}, {60, 4, "60 JPEGHSubSampling", {}},
    {64, 4, "64 JPEGVSubSympling", {}},
};

const WordField kHuffyuvFields[] = {
    {40, 1, "40 ExtraData Method", {}},
    {41, 1, "41 ExtraData BPPOverride", {}},
};

// The lossless codecs MSZH and ZLIB keep their settings in 8 bytes after the
// bitmap header.
constexpr uint32_t kLosslessMagicValue = 4;
const CodeName kLosslessImageTypes[] = {
    {0, " YUV111"}, {1, " YUV422"}, {2, " RGB24"}, {3, " YUV411"}, {4, " YUV211"}, {5, " YUV420"},
};
const CodeName kLosslessCompressions[] = {
    {0, " MSZH Compression"},
    {1, " MSZH No Compression/ZLIB Highspeed Compression"},
    {9, " ZLIB High Compression"},
    {255, " ZLIB Normal Compression"},
};
const CodeName kLosslessFlags[] = {
    {0x1, " Multithreaded used"},
    {0x2, " Nullframe Insertion used"},
    {0x4, " PNG Filter used"},
};
const CodeName kLosslessCodecs[] = {{1, " MSZH"}, {3, " ZLIB"}};
const WordField kLosslessTypeFields[] = {
    {44, 1, "44 ExtraData ImageType", kLosslessImageTypes},
    {45, 1, "45 ExtraData Compression", kLosslessCompressions},
};
const WordField kLosslessCodecFields[] = {
    {47, 1, "47 ExtraData Codec", kLosslessCodecs},
};

// DVINFO: the audio and video source and control packs of the DV stream.
const char* const kDvInfoLabels[] = {
    "00 DVAAuxSrc", "04 DVAAuxCtl", "08 DVAAuxSrc1",    "12 DVAAuxCtl1",
    "16 DVVAuxSrc", "20 DVVAuxCtl", "24 DVReserved[0]", "28 DVReserved[1]",
};
enum DvWord : unsigned { kAAuxSrc = 0, kAAuxSrc1 = 2, kVAuxSrc = 4, kVAuxCtl = 5 };

const CodeName kDvAudioSampling[] = {
    {2, "SMP 32kHz Sampling"}, {1, "SMP 44.1kHz Sampling"}, {0, "SMP 48kHz Sampling"}};
const CodeName kDvAudio1Sampling[] = {{2, "SMP 32kHz Sampling"}, {0, "SMP 48kHz Sampling"}};
const CodeName kDvFields[] = {{1, "FIELDS 50"}, {0, "FIELDS 60"}};
const CodeName kDvAudioSignalTypes[] = {
    {1, "STYPE 525-60 or 625-50, dvsl (IEC 61883-5)"},
    {0, "STYPE 525-60 or 625-50, dvsd (IEC 61834)"},
    {2, "STYPE 4 audio blocks per video frame (SMPTE 314M/SPMTE 370)"},
    {3, "STYPE 8 audio blocks per video frame (SMPTE 314M/SPMTE 370)"},
};
const CodeName kDvVideoSignalTypes[] = {
    {1, "STYPE 525-60 or 625-50, dvsl (IEC 61883-5)"},
    {0, "STYPE 525-60 or 625-50, dvsd (IEC 61834)"},
    {4, "STYPE 4:2:2 compression (SMPTE 314M)"},
    {20, "STYPE 1080/60i (60 Hz) or 1080/50i (50 Hz) (SMPTE 370)"},
    {24, "STYPE 720/60p (SMPTE 370)"},
};
const CodeName kDvBroadcastSystems[] = {
    {1, "BCSYS Type 1 PAL Widescreen Signalling (ETSI EN 300 294)"},
    {0, "BCSYS Type 0 NTSC Widescreen Signalling (IEC 61880)"},
};
const CodeName kDvDisplayModes[] = {{2, "DISP 16:9"}, {0, "DISP 4:3"}};

// One decoded bit field of a DV pack word: (word >> shift) & mask is named
// by the table, an unnamed value is warned about.
struct DvPackField {
  unsigned word;
  unsigned shift;
  uint32_t mask;
  AviHeaderDumper::CodeNames names;
  const char* undefined;  // the warning for an unnamed value
};

const DvPackField kDvPackFields[] = {
    {kAAuxSrc, 27, 0x7, kDvAudioSampling, "SMP undefined Sampling"},
    {kAAuxSrc, 21, 0x1, kDvFields, nullptr},
    {kAAuxSrc, 16, 0x1F, kDvAudioSignalTypes, "STYPE undefined"},
    {kAAuxSrc1, 27, 0x7, kDvAudio1Sampling, "SMP undefined Sampling"},
    {kAAuxSrc1, 21, 0x1, kDvFields, nullptr},
    {kAAuxSrc1, 16, 0x1F, kDvAudioSignalTypes, "STYPE undefined"},
    {kVAuxSrc, 21, 0x1, kDvFields, nullptr},
    {kVAuxSrc, 16, 0x1F, kDvVideoSignalTypes, "STYPE undefined"},
    {kVAuxCtl, 16, 0x3, kDvBroadcastSystems, "BCSYS Type undefined"},
    {kVAuxCtl, 8, 0x7, kDvDisplayModes, "DISP Aspect Ratio undefined"},
};

const CodeName kSubtitleModes[] = {
    {0, " Graphic Mode Full Resolution"},
    {1, " Graphic Mode Half Resolution"},
    {2, " Text Mode"},
};
const WordField kSubtitleModeField[] = {{0, 2, "00 Mode", kSubtitleModes}};
constexpr uint32_t kSubtitlePaletteOffset = 6;

// 'vprp': the video properties header and one descriptor per video field.
const CodeName kVideoFormatTokens[] = {
    {0, " (Unknown)"},     {1, " (PAL Square)"},    {2, " (PAL CCIR 601)"},
    {3, " (NTSC Square)"}, {4, " (NTSC CCIR 601)"},
};
const CodeName kVideoStandards[] = {
    {0, " (Unknown)"}, {1, " (PAL)"}, {2, " (NTSC)"}, {3, " (SECAM)"}};
const WordField kVideoPropertiesHead[] = {
    {0, 4, "00 VideoFormatToken", kVideoFormatTokens},
    {4, 4, "04 VideoStandard", kVideoStandards},
    {8, 4, "08 VerticalRefreshRate", {}},
    {12, 4, "12 HTotalInT", {}},
    {16, 4, "16 VTotalInLines", {}},
};
constexpr uint32_t kAspectRatioOffset = 20;
const WordField kVideoPropertiesTail[] = {
    {24, 4, "24 FrameWidthInPixels", {}},
    {28, 4, "28 FrameHeightInLines", {}},
    {32, 4, "32 FieldPerFrame", {}},
};
constexpr uint32_t kFieldCountOffset = 32;
const WordField kVideoFieldDescFields[] = {
    {0, 4, "00 CompressedBMHeight", {}}, {4, 4, "04 CompressedBMWidth", {}},
    {8, 4, "08 ValidBMHeight", {}},      {12, 4, "12 ValidBMWidth", {}},
    {16, 4, "16 ValidBMXOffset", {}},    {20, 4, "20 ValidBMYOffset", {}},
    {24, 4, "24 VideoXOffsetInT", {}},   {28, 4, "28 VideoYValidStartLine", {}},
};

template <size_t N>
void PrintWordFields(const CParser& parser, const WordField (&fields)[N], const uint8_t* body,
                     uint32_t size, uint32_t base, int depth) {
  AviHeaderDumper::WordFieldLines(parser, fields, N, body, size, base, depth);
}

template <size_t N>
void PrintFlags(const CParser& parser, const FlagName (&flags)[N], uint32_t value, int depth) {
  AviHeaderDumper::FlagLines(parser, flags, N, value, depth);
}

// A 32-bit word of the body at `offset` in the file's byte order (missing
// bytes read as zero).
uint32_t WordAt(const CParser& parser, const uint8_t* body, uint32_t size, uint32_t offset) {
  ByteReader in(body, size, parser.BigEndian());
  in.Seek(offset);
  return in.U32();
}

uint16_t HalfAt(const CParser& parser, const uint8_t* body, uint32_t size, uint32_t offset) {
  ByteReader in(body, size, parser.BigEndian());
  in.Seek(offset);
  return in.U16();
}

uint8_t ByteAt(const uint8_t* body, uint32_t size, uint32_t offset) {
  ByteReader in(body, size);
  in.Seek(offset);
  return in.U8();
}

// A 56-byte header body, zero-padded when the chunk was shorter.
std::array<uint8_t, kHeaderSize> PaddedHeader(const uint8_t* body, uint32_t size) {
  std::array<uint8_t, kHeaderSize> padded{};
  ByteReader(body, size).CopyTo(padded.data(), padded.size());
  return padded;
}

std::string Num(uint64_t value) { return Report::NumberText(value); }
std::string SignedNum(int64_t value) { return std::to_string(value); }

const char* FrameSizeNameOf(int32_t width, int32_t height) {
  for (const FrameSizeName& entry : kFrameSizeNames) {
    if (entry.width == width && entry.height == height) return entry.name;
  }
  return "unknown";
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers

const char* AviHeaderDumper::CodeNames::Find(uint32_t value, const char* otherwise) const {
  for (size_t i = 0; i < count; ++i) {
    if (entries[i].value == value) return entries[i].name;
  }
  return otherwise;
}

void AviHeaderDumper::FieldLine(const CParser& parser, const std::string& label,
                                const std::string& value, int depth, const std::string& suffix) {
  if (parser.Verbosity() == 0) return;
  parser.Reporter().PlainLine(label + ": " + value + suffix, depth);
}

void AviHeaderDumper::FlagLines(const CParser& parser, const FlagName* flags, size_t count,
                                uint32_t value, int depth) {
  const uint32_t verbosity = parser.Verbosity();
  if (verbosity == 0) return;
  for (size_t i = 0; i < count; ++i) {
    if (flags[i].level > verbosity) continue;
    parser.Reporter().MarkLine((value & flags[i].mask) != 0, flags[i].name, depth, verbosity);
  }
}

void AviHeaderDumper::WordFieldLines(const CParser& parser, const WordField* fields, size_t count,
                                     const uint8_t* body, uint32_t size, uint32_t base, int depth) {
  ByteReader in(body, size, parser.BigEndian());
  for (size_t i = 0; i < count; ++i) {
    const WordField& field = fields[i];
    const uint64_t offset = static_cast<uint64_t>(base) + field.offset;
    if (offset >= size) continue;
    in.Seek(static_cast<size_t>(offset));
    uint32_t value = field.width == 1 ? in.U8() : field.width == 2 ? in.U16() : in.U32();
    std::string suffix;
    if (field.names.entries) suffix = field.names.Find(value, " (undefined)");
    FieldLine(parser, field.label, Num(value), depth, suffix);
  }
}

uint32_t AviHeaderDumper::RoundedMs(double milliseconds) {
  if (!(milliseconds > 0)) return 0;  // also NaN
  const double rounded = milliseconds + 0.5;
  if (rounded >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(rounded);
}

uint64_t AviHeaderDumper::RoundedWhole(double value) {
  if (!(value > 0)) return 0;
  const double rounded = value + 0.5;
  if (rounded >= 18446744073709551615.0) return ~static_cast<uint64_t>(0);
  return static_cast<uint64_t>(rounded);
}

std::string AviHeaderDumper::HexText(uint64_t value, int digits) {
  return "0x" + FieldFormat::Hex(value, digits);
}

// ---------------------------------------------------------------------------
// Derived values

std::string AviHeaderDumper::CodecName(uint32_t handler) {
  if (handler == 0) return " (undefined)";
  for (const HandlerName& entry : kCodecNames) {
    if (entry.handler == handler) return entry.name;
  }
  return std::string();
}

double AviHeaderDumper::StreamRate(const AviStreamHeader& header) {
  const uint32_t scale = header.scale == 0 ? 1 : header.scale;
  return static_cast<double>(header.rate) / scale;
}

uint32_t AviHeaderDumper::StreamDurationMs(const AviStreamHeader& header) {
  const double rate = StreamRate(header);
  if (rate <= 0.01) return 0;
  return RoundedMs(header.length / rate * 1000.0);
}

uint32_t AviHeaderDumper::MainDurationMs(const AviMainHeader& header) {
  return RoundedMs(static_cast<double>(header.totalFrames) * header.microSecPerFrame * 0.001);
}

double AviHeaderDumper::MainFrameRate(const AviMainHeader& header) {
  const uint32_t period = header.microSecPerFrame == 0 ? 1 : header.microSecPerFrame;
  return 1.0 / (period * 0.000001);
}

// ---------------------------------------------------------------------------
// Main header

void AviHeaderDumper::DumpMainHeader(const uint8_t* body, uint32_t size, int depth) {
  if (!body) size = 0;
  const Report& report = parser_.Reporter();
  const uint32_t verbosity = parser_.Verbosity();
  if (size != kHeaderSize) {
    report.Message("Unknown Token Size, expected " + Num(kHeaderSize) + "!", depth, kWarning);
  }
  const AviMainHeader h =
      AviModel::DecodeMainHeader(PaddedHeader(body, size).data(), model_.bigEndian);
  // A short body is dumped over the fields it holds.
  if (Present(0, size)) FieldLine(parser_, "00 microsec/Frame", Num(h.microSecPerFrame), depth);
  if (verbosity >= 2) {
    if (Present(4, size)) FieldLine(parser_, "04 Max Bytes/sec", Num(h.maxBytesPerSec), depth);
    if (Present(8, size)) {
      FieldLine(parser_, "08 Padding Granularity", Num(h.paddingGranularity), depth);
    }
  }
  if (Present(12, size)) {
    FieldLine(parser_, "12 Flags", HexText(h.flags, 8), depth);
    PrintFlags(parser_, kMainHeaderFlags, h.flags, depth + 1);
  }
  // Without a video stream the frame count, size and rate describe nothing.
  const bool video = model_.videoAnnounced;
  if (Present(16, size)) {
    FieldLine(parser_, "16 Total Frames", Num(h.totalFrames), depth);
    if (video && h.totalFrames == 0) report.Message("dwTotalFrames may not be 0!", depth, kError);
  }
  if (Present(20, size)) FieldLine(parser_, "20 Initial Frames", Num(h.initialFrames), depth);
  if (Present(24, size)) {
    FieldLine(parser_, "24 Streams", Num(h.streams), depth);
    if (h.streams == 0 || h.streams > kMaxStreams) {
      report.Message("dwStreams may not be 0 or possibly greater 16!", depth, kError);
    }
  }
  if (verbosity >= 2 && Present(28, size)) {
    FieldLine(parser_, "28 Suggested Buffer Size", Num(h.suggestedBufferSize), depth);
  }
  CheckMainFrameSize(h, size, video, depth);
  const bool reservedUsed = std::any_of(std::begin(h.reserved), std::end(h.reserved),
                                        [](uint32_t word) { return word != 0; });
  if (verbosity >= 2 && reservedUsed) {
    static const char* const kReservedLabels[] = {
        "40 Reserved1 (TimeScale)", "44 Reserved2 (DataRate)", "48 Reserved3 (StartTime)",
        "52 Reserved4 (DataLength)"};
    for (uint32_t i = 0; i < 4; ++i) {
      if (!Present(40 + 4 * i, size)) continue;
      FieldLine(parser_, kReservedLabels[i], Num(h.reserved[i]), depth);
    }
  }
  if (!video) return;
  FieldLine(parser_, "-> Length", Report::PlayTimeFromFrames(h.totalFrames, MainFrameRate(h)),
            depth);
  FieldLine(parser_, "-> Video Frame Size", FrameSizeNameOf(h.width, h.height), depth);
}

// Width and height, each checked under its own line when there is a video
// stream to have them.
void AviHeaderDumper::CheckMainFrameSize(const AviMainHeader& main, uint32_t size, bool video,
                                         int depth) const {
  const Report& report = parser_.Reporter();
  if (Present(32, size)) {
    FieldLine(parser_, "32 Width", SignedNum(main.width), depth);
    if (video && (main.width < kMinFrameEdge || main.width > kMaxFrameEdge)) {
      report.Message("Width out of range (16 - 4096)!", depth, kWarning);
    }
  }
  if (Present(36, size)) {
    FieldLine(parser_, "36 Height", SignedNum(main.height), depth);
    if (video && (main.height < kMinFrameEdge || main.height > kMaxFrameEdge)) {
      report.Message("Height out of range (16 - 4096)!", depth, kWarning);
    }
  }
}

// ---------------------------------------------------------------------------
// Stream header

void AviHeaderDumper::DumpStreamHeader(size_t stream, const uint8_t* body, uint32_t size,
                                       int depth) {
  if (!body) size = 0;
  (void)stream;  // the body passed in is the one stored for this stream
  const Report& report = parser_.Reporter();
  const uint32_t verbosity = parser_.Verbosity();
  const AviStreamHeader h =
      AviModel::DecodeStreamHeader(PaddedHeader(body, size).data(), model_.bigEndian);
  const bool video = IsVideoType(h.type);
  if (size == kOldStreamHeaderSize && video) {
    report.Message("Wrong AVIStreamHeader size (Frame item size)!", depth, kError);
  } else if (size != kHeaderSize) {
    report.Message("Unknown Token Size, expected " + Num(kHeaderSize) + "!", depth, kWarning);
  }
  if (Present(0, size)) {
    std::string suffix;
    if (IsDvHandler(h.handler)) {
      suffix = h.type == FourCC("vids")   ? " DV Type 2 (redundant 'auds' stream, VfW compatible)"
               : h.type == FourCC("iavs") ? " DV Type 1 (no 'auds' stream, not VfW compatible)"
                                          : " (undefined)";
    }
    FieldLine(parser_, "00 Type", CParser::FourCCText(h.type), depth, suffix);
    if (h.type == FourCC("iavs") && !IsDvType1Handler(h.handler)) {
      report.Message("Unknown DV Type 1 Handler!", depth, kError);
    }
  }
  if (Present(4, size)) {
    FieldLine(parser_, "04 Handler", HexText(h.handler, 8) + " " + CParser::FourCCText(h.handler),
              depth, CodecName(h.handler));
  }
  if (Present(8, size)) {
    FieldLine(parser_, "08 Flags", HexText(h.flags, 8), depth);
    PrintFlags(parser_, kStreamHeaderFlags, h.flags, depth + 1);
  }
  if (Present(12, size)) FieldLine(parser_, "12 Priority", Num(h.priority), depth);
  if (verbosity >= 2) {
    if (Present(14, size)) FieldLine(parser_, "14 Language", Num(h.language), depth);
    if (Present(16, size)) {
      FieldLine(parser_, "16 InitalFrames", Num(h.initialFrames), depth);
      const AviMainHeader main = model_.MainHeader();
      if (video && model_.avihSeen && h.initialFrames != main.initialFrames) {
        report.Message("AVIMainHeader InitalFrames: " + Num(main.initialFrames) + "!", depth,
                       kWarning);
      }
    }
  }
  if (Present(20, size)) {
    FieldLine(parser_, "20 Scale", Num(h.scale), depth);
    if (h.scale == 0) report.Message("Scale may not be 0!", depth, kError);
  }
  if (Present(24, size)) {
    FieldLine(parser_, "24 Rate", Num(h.rate), depth);
    if (h.rate == 0) report.Message("Rate may not be 0!", depth, kError);
  }
  if (Present(28, size)) FieldLine(parser_, "28 Start", Num(h.start), depth);
  if (Present(32, size)) FieldLine(parser_, "32 Length", Num(h.length), depth);
  if (verbosity >= 3) {
    if (Present(36, size)) {
      FieldLine(parser_, "36 SuggestedBufferSize", Num(h.suggestedBufferSize), depth);
    }
    if (Present(40, size)) {
      FieldLine(parser_, "40 Quality", SignedNum(h.quality), depth);
      // Compared unsigned: any negative quality but the default -1 is out of range.
      if (static_cast<uint32_t>(h.quality) > static_cast<uint32_t>(kMaxQuality) &&
          h.quality != -1) {
        report.Message("Quality should be between 0 and 10000 or -1!", depth, kWarning);
      }
    }
  }
  if (Present(44, size)) {
    FieldLine(parser_, "44 SampleSize", Num(h.sampleSize), depth,
              h.sampleSize == 0 ? " (Variable)" : "");
  }
  if (h.type != FourCC("auds") && h.type != FourCC("mids") && Present(48, size)) {
    CheckFrameRectangle(h, depth);
  }
  FieldLine(parser_, "-> Length", Report::PlayTimeFromFrames(h.length, StreamRate(h)), depth);
  CheckStreamTiming(h, depth);
}

void AviHeaderDumper::CheckFrameRectangle(const AviStreamHeader& h, int depth) const {
  const Report& report = parser_.Reporter();
  FieldLine(parser_, "48 Frame (l t r b)",
            SignedNum(h.frameLeft) + " " + SignedNum(h.frameTop) + " " + SignedNum(h.frameRight) +
                " " + SignedNum(h.frameBottom),
            depth);
  // Without a main header there is nothing to compare with; a rectangle of
  // zeros (as many writers leave it) is not set at all.
  if (!model_.avihSeen) return;
  if (h.frameLeft == 0 && h.frameTop == 0 && h.frameRight == 0 && h.frameBottom == 0) return;
  const AviMainHeader main = model_.MainHeader();
  if (main.width < h.frameRight || main.width < h.frameLeft || h.frameRight == 0) {
    report.Message("AVIMainHeader Width: " + SignedNum(main.width) + "!", depth, kWarning);
  }
  if (main.height < h.frameTop || main.height < h.frameBottom || h.frameBottom == 0) {
    report.Message("AVIMainHeader Height: " + SignedNum(main.height) + "!", depth, kWarning);
  }
}

// The stream's frame rate and duration against the main header's.
void AviHeaderDumper::CheckStreamTiming(const AviStreamHeader& h, int depth) const {
  if (!model_.avihSeen) return;
  const Report& report = parser_.Reporter();
  const AviMainHeader main = model_.MainHeader();
  if (IsVideoType(h.type) && main.microSecPerFrame != 0 &&
      RoundedWhole(StreamRate(h)) != RoundedWhole(MainFrameRate(main))) {
    report.Message("AVIMainHeader microsecs/Frame: " + Num(main.microSecPerFrame) + "!", depth,
                   kWarning);
  }
  // The main header's frames play as long as the stream, unless there is no
  // video for it to count, or it counts the first segment of an OpenDML
  // file only (the statistics hold that against the frames found there).
  if (!model_.videoAnnounced || model_.odmlAnnounced) return;
  const int64_t difference = static_cast<int64_t>(MainDurationMs(main)) - StreamDurationMs(h);
  if (difference > kMaxDurationDifferenceMs || -difference > kMaxDurationDifferenceMs) {
    report.Message("AVIMainHeader Length " +
                       Report::PlayTimeFromFrames(main.totalFrames, MainFrameRate(main)) + "!",
                   depth, kWarning);
  }
}

// ---------------------------------------------------------------------------
// Stream format

void AviHeaderDumper::DumpStreamFormat(size_t stream, const uint8_t* body, uint32_t size,
                                       int depth) {
  if (!body) size = 0;
  const Report& report = parser_.Reporter();
  const bool hasHeader = stream < model_.streams.size() && model_.streams[stream].strhSeen;
  const AviStreamHeader header = model_.StreamHeader(stream);
  const uint32_t type = hasHeader ? header.type : 0;
  if (type == FourCC("iavs")) {
    DumpDvType1Format(body, size, depth);
  } else if (type == FourCC("vids")) {
    DumpVideoFormat(header, body, size, depth);
  } else if (type == FourCC("auds")) {
    AviAudioFormatDumper(parser_, &header).Dump(body, size, depth);
  } else if (type == FourCC("subs")) {
    DumpSubtitleFormat(body, size, depth);
  } else if (type == FourCC("txts") || type == FourCC("mids")) {
    report.Message("Nothing known about 'txts'/'mids' streams!", depth, kInfo);
    if (parser_.Verbosity() > 0) report.HexDump(body, size, depth, parser_.Verbosity());
  } else {
    report.Message("Unknown StreamFormat", depth, kWarning);
    if (parser_.Verbosity() > 0) report.HexDump(body, size, depth, parser_.Verbosity());
  }
}

// DV type 1 ('iavs'): the format is a DVINFO; some writers put a
// BITMAPINFOHEADER in front of it.
void AviHeaderDumper::DumpDvType1Format(const uint8_t* body, uint32_t size, int depth) {
  const Report& report = parser_.Reporter();
  if (size <= kDvInfoSize) {
    DumpDvInfo(body, size, depth);
    return;
  }
  report.Message("Unexpected DVINFO size, expected " + Num(kDvInfoSize) + "!", depth, kError);
  if (WordAt(parser_, body, size, 0) < kBitmapInfoSize) return;
  report.Message("Unexpected BITMAPINFO header, expected DVINFO!", depth, kError);
  DumpBitmapInfo(body, std::min(size, kBitmapInfoSize), depth);
  if (size >= kBitmapInfoSize + kShortDvInfoSize) {
    DumpDvInfo(body + kBitmapInfoSize, size - kBitmapInfoSize, depth);
  }
}

void AviHeaderDumper::DumpVideoFormat(const AviStreamHeader& header, const uint8_t* body,
                                      uint32_t size, int depth) {
  const Report& report = parser_.Reporter();
  const uint32_t verbosity = parser_.Verbosity();
  if (size >= kShortDvInfoSize && size <= kDvInfoSize) {
    report.Message("Unexpected DVINFO header, expected BITMAPINFO!", depth, kError);
    DumpDvInfo(body, size, depth);
    return;
  }
  if (IsDvHandler(header.handler)) {
    if (size >= kBitmapInfoSize + kShortDvInfoSize) {
      DumpBitmapInfo(body, kBitmapInfoSize, depth);
      DumpDvInfo(body + kBitmapInfoSize, size - kBitmapInfoSize, depth);
    } else if (size >= kBitmapInfoSize) {
      DumpBitmapInfo(body, kBitmapInfoSize, depth);
      report.Message("DVINFO missing!", depth, kError);
    }
    return;
  }
  const uint32_t headerSize = WordAt(parser_, body, size, 0);
  if (size != headerSize && size != headerSize + PaletteBytes(body, size)) {
    report.Message("Mismatching size in AVIStreamFormat", depth, kWarning);
  }
  DumpBitmapInfo(body, std::min(size, kBitmapInfoSize), depth);
  if (verbosity >= 2 && (headerSize == kBitmapV4Size || headerSize == kBitmapV5Size)) {
    DumpBitmapV4V5(headerSize, body, size, depth);
    return;
  }
  const bool extraShown =
      headerSize > kBitmapInfoSize && DumpCodecExtra(header.handler, body, size, depth);
  if (!extraShown && size > kBitmapInfoSize && verbosity > 2) {
    report.PlainLine("40 ExtraData", depth);
    report.HexDump(body + kBitmapInfoSize, size - kBitmapInfoSize, depth + 1, verbosity);
  }
}

// The colour table that may follow the bitmap header of a format of 8 bits
// or less: biClrUsed entries of 4 bytes, all 2^biBitCount when that is 0.
uint64_t AviHeaderDumper::PaletteBytes(const uint8_t* body, uint32_t size) const {
  const uint16_t bitCount = HalfAt(parser_, body, size, 14);
  const uint32_t used = WordAt(parser_, body, size, 32);
  if (used != 0) return uint64_t{4} * used;
  return bitCount >= 1 && bitCount <= 8 ? uint64_t{4} << bitCount : 0;
}

// The 40 common bytes through their description, then the frame size
// against the main header's.
void AviHeaderDumper::DumpBitmapInfo(const uint8_t* body, uint32_t size, int depth) {
  if (parser_.Verbosity() > 0) {
    StructureDumper::InterpretStructure(parser_, depth, size, body, size, size, kBitmapInfoHeader,
                                        StructureDumper::kNoItemLimit);
  }
  CheckBitmapAgainstMain(body, size, depth);
}

void AviHeaderDumper::CheckBitmapAgainstMain(const uint8_t* body, uint32_t size, int depth) const {
  if (!model_.avihSeen) return;
  const Report& report = parser_.Reporter();
  const AviMainHeader main = model_.MainHeader();
  // A top-down bitmap states its height negated; the main header counts rows.
  const int32_t width = static_cast<int32_t>(WordAt(parser_, body, size, 4));
  const int64_t height = static_cast<int32_t>(WordAt(parser_, body, size, 8));
  if (Present(4, size) && width != main.width) {
    report.Message("AVIMainHeader Width: " + SignedNum(main.width) + "!", depth, kWarning);
  }
  if (Present(8, size) && height != main.height && -height != main.height) {
    report.Message("AVIMainHeader Height: " + SignedNum(main.height) + "!", depth, kWarning);
  }
}

void AviHeaderDumper::DumpBitmapV4V5(uint32_t headerSize, const uint8_t* body, uint32_t size,
                                     int depth) const {
  const Report& report = parser_.Reporter();
  report.PlainLine("BITMAPV4HEADER (" + Num(kBitmapV4Size) + " bytes)", depth);
  PrintWordFields(parser_, kBitmapV4MaskFields, body, size, 0, depth + 1);
  if (Present(kEndpointsOffset, size)) {
    static const char* const kAxes[] = {"XYZR", "XYZG", "XYZB"};
    std::string endpoints;
    for (uint32_t i = 0; i < kEndpointWords; ++i) {
      if (i % 3 == 0) endpoints += std::string(i ? " " : "") + kAxes[i / 3];
      endpoints += " " + Num(WordAt(parser_, body, size, kEndpointsOffset + 4 * i));
    }
    FieldLine(parser_, "60 Endpoints", endpoints, depth + 1);
  }
  PrintWordFields(parser_, kBitmapV4GammaFields, body, size, 0, depth + 1);
  if (headerSize == kBitmapV5Size) {
    report.PlainLine("BITMAPV5HEADER (" + Num(kBitmapV5Size) + " bytes)", depth);
    PrintWordFields(parser_, kBitmapV5Fields, body, size, 0, depth + 1);
  }
}

// The codec-specific bytes behind a bitmap header whose size says there are
// some. Returns whether the codec was one that has them.
bool AviHeaderDumper::DumpCodecExtra(uint32_t handler, const uint8_t* body, uint32_t size,
                                     int depth) const {
  if (handler == FourCC("MJPG")) {
    DumpJpegExtra(body, size, depth);
    return true;
  }
  if (handler == FourCC("HFYU")) {
    const uint32_t bitCount = HalfAt(parser_, body, size, 14);
    if (bitCount % 8 != 0) return false;
    DumpHuffyuvExtra(body, size, depth);
    return true;
  }
  if (handler == FourCC("MSZH") || handler == FourCC("ZLIB")) {
    DumpLosslessCodecExtra(body, size, depth);
    return true;
  }
  return false;
}

void AviHeaderDumper::DumpJpegExtra(const uint8_t* body, uint32_t size, int depth) const {
  if (WordAt(parser_, body, size, 0) != kJpegHeaderSize ||
      WordAt(parser_, body, size, kBitmapInfoSize) != kJpegExtensionSize) {
    parser_.Reporter().Message("Unknown EXBMINFOHEADER size!", depth, kWarning);
    return;
  }
  PrintWordFields(parser_, kJpegFields, body, size, 0, depth);
}

void AviHeaderDumper::DumpHuffyuvExtra(const uint8_t* body, uint32_t size, int depth) const {
  PrintWordFields(parser_, kHuffyuvFields, body, size, 0, depth);
}

void AviHeaderDumper::DumpLosslessCodecExtra(const uint8_t* body, uint32_t size, int depth) const {
  const Report& report = parser_.Reporter();
  if (Present(40, size)) {
    const uint32_t magic = WordAt(parser_, body, size, 40);
    FieldLine(parser_, "40 ExtraData MagicValue", HexText(magic, 8), depth);
    if (magic != kLosslessMagicValue) {
      report.Message("Unexpected Magic Value, expected 0x00000004!", depth, kError);
    }
  }
  PrintWordFields(parser_, kLosslessTypeFields, body, size, 0, depth);
  if (Present(46, size)) {
    const uint8_t flags = ByteAt(body, size, 46);
    std::string names;
    for (const CodeName& flag : kLosslessFlags) {
      if (flags & flag.value) names += flag.name;
    }
    FieldLine(parser_, "46 ExtraData Flags", HexText(flags, 2), depth, names);
  }
  PrintWordFields(parser_, kLosslessCodecFields, body, size, 0, depth);
}

// DVINFO: eight 32-bit words, the source and control packs decoded under
// their lines. A short DVINFO shows the words it holds.
void AviHeaderDumper::DumpDvInfo(const uint8_t* body, uint32_t size, int depth) const {
  const Report& report = parser_.Reporter();
  if (parser_.Verbosity() > 0) report.PlainLine("DV Info Header (" + Num(size) + ")", depth);
  const int inner = depth + 1;
  if (size != kDvInfoSize && size != kShortDvInfoSize) {
    report.Message("Unknown token Size, expected " + Num(kDvInfoSize) + "!", inner, kWarning);
  }
  for (unsigned word = 0; word < kDvInfoSize / 4; ++word) {
    if (!Present(4 * word, size)) break;
    const uint32_t value = WordAt(parser_, body, size, 4 * word);
    FieldLine(parser_, kDvInfoLabels[word], HexText(value, 8), inner);
    if (parser_.Verbosity() >= 2) DecodeDvPacks(word, value, inner + 1);
  }
}

void AviHeaderDumper::DecodeDvPacks(unsigned word, uint32_t value, int depth) const {
  const Report& report = parser_.Reporter();
  for (const DvPackField& field : kDvPackFields) {
    if (field.word != word) continue;
    const char* name = field.names.Find((value >> field.shift) & field.mask, nullptr);
    if (name) {
      report.PlainLine(name, depth);
    } else if (field.undefined) {
      report.Message(field.undefined, depth, kWarning);
    }
  }
}

// DivX subtitles: the mode, the colour remapping bytes and the palette.
void AviHeaderDumper::DumpSubtitleFormat(const uint8_t* body, uint32_t size, int depth) const {
  if (size < kSubtitleFormatSize) {
    parser_.Reporter().Message("Unknown Token Size, expected " + Num(kSubtitleFormatSize) + "!",
                               depth, kWarning);
  }
  PrintWordFields(parser_, kSubtitleModeField, body, size, 0, depth);
  if (parser_.Verbosity() >= 2 && Present(2, size)) {
    FieldLine(parser_, "02 Remap",
              Num(ByteAt(body, size, 5)) + " " + Num(ByteAt(body, size, 4)) + " " +
                  Num(ByteAt(body, size, 3)) + " " + Num(ByteAt(body, size, 2)),
              depth);
  }
  if (Present(kSubtitlePaletteOffset, size)) {
    std::string colours;
    for (uint32_t i = 0; i < 4; ++i) {
      if (i) colours += " ";
      colours += HexText(WordAt(parser_, body, size, kSubtitlePaletteOffset + 4 * i), 8);
    }
    FieldLine(parser_, "16 Palette", colours, depth, " (Background, Font, Outline, Antialias)");
  }
}

// ---------------------------------------------------------------------------
// Video properties

void AviHeaderDumper::DumpVideoProperties(const uint8_t* body, uint32_t size, int depth) {
  if (!body) size = 0;
  const Report& report = parser_.Reporter();
  const uint32_t fieldCount = WordAt(parser_, body, size, kFieldCountOffset);
  const uint64_t expected =
      kVideoPropertiesFixedSize + static_cast<uint64_t>(kVideoFieldDescSize) * fieldCount;
  if (size != expected) report.Message("Unknown Token Size!", depth, kWarning);
  PrintWordFields(parser_, kVideoPropertiesHead, body, size, 0, depth);
  if (Present(kAspectRatioOffset, size)) {
    const uint32_t ratio = WordAt(parser_, body, size, kAspectRatioOffset);
    FieldLine(parser_, "20 FrameAspectRatio", HexText(ratio, 8), depth,
              " (" + Num(ratio >> 16) + ":" + Num(ratio & 0xFFFF) + ")");
  }
  PrintWordFields(parser_, kVideoPropertiesTail, body, size, 0, depth);
  // Only the descriptors that lie wholly in the body are shown.
  const uint64_t present = size > kVideoPropertiesFixedSize
                               ? (size - kVideoPropertiesFixedSize) / kVideoFieldDescSize
                               : 0;
  const uint64_t shown = std::min<uint64_t>(fieldCount, present);
  for (uint64_t k = 0; k < shown; ++k) {
    if (parser_.Verbosity() > 0) report.PlainLine("Video Field Descriptor Entry #" + Num(k), depth);
    const uint32_t base =
        static_cast<uint32_t>(kVideoPropertiesFixedSize + k * kVideoFieldDescSize);
    PrintWordFields(parser_, kVideoFieldDescFields, body, size, base, depth + 1);
  }
}
