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
#include "core/StructureHooks.h"
#include "riff/AviAudioFormatDumper.h"

namespace {

using CodeName = AviHeaderDumper::CodeName;
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

// The headers are dumped over the bytes present (a short body shows the
// fields it holds); their size is checked here, so the dumper leaves the
// bytes after the described fields alone.
constexpr StructLayout kSizeCheckedHere{0, true, false};

// 'avih': the main header. Line levels: 1 from -v1 on, 2 from -v2 on.
enum MainHeaderField : uint32_t {
  kMicroSecPerFrame,
  kMaxBytesPerSec,
  kPaddingGranularity,
  kMainFlags,
  kTotalFrames,
  kMainInitialFrames,
  kStreams,
  kMainBufferSize,
  kWidth,
  kHeight,
  kFirstReserved,
};
const ValueName kMainHeaderFlagNames[] = {
    {0x10, "HasIndex", kFlag},       {0x20, "MustUseIndex", kFlag},
    {0x100, "IsInterleaved", kFlag}, {0x10000, "WasCaptureFile", kFlag},
    {0x20000, "Copyrighted", kFlag}, {0x800, "TrustCKType", kFlag},
};
const ValueNameTable kMainHeaderFlags(kBitFlags, kMainHeaderFlagNames);
const FieldDesc kMainHeaderFields[] = {
    {FieldType::DWord, 0, 1, "microsec/Frame"},
    {FieldType::DWord, 0, 2, "Max Bytes/sec"},
    {FieldType::DWord, 0, 2, "Padding Granularity"},
    {FieldType::DWord, kHexFormat, 1, "Flags", &kMainHeaderFlags},
    {FieldType::DWord, 0, 1, "Total Frames"},
    {FieldType::DWord, 0, 1, "Initial Frames"},
    {FieldType::DWord, 0, 1, "Streams"},
    {FieldType::DWord, 0, 2, "Suggested Buffer Size"},
    {FieldType::Long, 0, 1, "Width"},
    {FieldType::Long, 0, 1, "Height"},
    {FieldType::DWord, 0, 2, "Reserved1 (TimeScale)"},
    {FieldType::DWord, 0, 2, "Reserved2 (DataRate)"},
    {FieldType::DWord, 0, 2, "Reserved3 (StartTime)"},
    {FieldType::DWord, 0, 2, "Reserved4 (DataLength)"},
};
static_assert(sizeof kMainHeaderFields / sizeof kMainHeaderFields[0] == kFirstReserved + 4,
              "one field per main header word");
const StructDesc kMainHeader("AVIMAINHEADER", "", 0, 0, kMainHeaderFields, kSizeCheckedHere);

// 'strh': the stream header; the four edges of the frame rectangle share one
// line. Line levels: 1 from -v1 on, 2 from -v2 on, 3 from -v3 on.
enum StreamHeaderField : uint32_t {
  kType,
  kHandler,
  kStreamFlags,
  kPriority,
  kLanguage,
  kStreamInitialFrames,
  kScale,
  kRate,
  kStart,
  kLength,
  kStreamBufferSize,
  kQuality,
  kSampleSize,
  kFrame,
};
const ValueName kStreamHeaderFlagNames[] = {
    {0x1, "Disabled", kFlag},
    {0x10000, "VideoPaletteChanges", kFlag},
};
const ValueNameTable kStreamHeaderFlags(kBitFlags, kStreamHeaderFlagNames);
const ValueName kSampleSizeNames[] = {{0, "Variable", kEnumValue}};
const ValueNameTable kSampleSizes(kEnumeration, kSampleSizeNames, nullptr);

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

// The codecs of video handlers; a handler of 0 names none.
const ValueName kCodecNameList[] = {
    {0, "undefined", kEnumValue},
    {FourCC("RLE "), "MS RLE", kEnumValue},
    {FourCC("RLE4"), "MS RLE", kEnumValue},
    {FourCC("RLE8"), "MS RLE", kEnumValue},
    {FourCC("mrle"), "MS RLE", kEnumValue},
    {FourCC("CRAM"), "MS Video 1", kEnumValue},
    {FourCC("cram"), "MS Video 1", kEnumValue},
    {FourCC("MSVC"), "MS Video 1", kEnumValue},
    {FourCC("msvc"), "MS Video 1", kEnumValue},
    {FourCC("WHAM"), "MS Video 1", kEnumValue},
    {FourCC("wham"), "MS Video 1", kEnumValue},
    {FourCC("IAN "), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV30"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV31"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV32"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV33"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV34"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV35"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV37"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV38"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV39"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV40"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV41"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV42"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV43"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV44"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV45"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV46"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV47"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV48"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV49"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("IV50"), "Intel/Ligos Indeo", kEnumValue},
    {FourCC("DIV3"), "DivX/OpenDivX", kEnumValue},
    {FourCC("DIV4"), "DivX/OpenDivX", kEnumValue},
    {FourCC("DIV5"), "DivX/OpenDivX", kEnumValue},
    {FourCC("DIVX"), "DivX/OpenDivX", kEnumValue},
    {FourCC("divx"), "DivX/OpenDivX", kEnumValue},
    {FourCC("DX50"), "DivX/OpenDivX", kEnumValue},
    {FourCC("MP42"), "MS MPEG-4", kEnumValue},
    {FourCC("MP43"), "MS MPEG-4", kEnumValue},
    {FourCC("MPG4"), "MS MPEG-4", kEnumValue},
    {FourCC("AP41"), "AngelPotion MS MP43 Hack", kEnumValue},
    {FourCC("wmv1"), "MS Windows Media 7", kEnumValue},
    {FourCC("wmv2"), "MS Windows Media 8", kEnumValue},
    {FourCC("wmv3"), "MS Windows Media 9", kEnumValue},
    {FourCC("3IV1"), "3ivx Delta MPEG-4", kEnumValue},
    {FourCC("3IV2"), "3ivx Delta MPEG-4", kEnumValue},
    {FourCC("VCR1"), "ATI Video", kEnumValue},
    {FourCC("VCR2"), "ATI Video", kEnumValue},
    {FourCC("ASV1"), "Asus Video", kEnumValue},
    {FourCC("ASV2"), "Asus Video", kEnumValue},
    {FourCC("ASVX"), "Asus Video", kEnumValue},
    {FourCC("dvsd"), "DV Standard Definition 25Mb/s", kEnumValue},
    {FourCC("DVSD"), "DV Standard Definition 25Mb/s", kEnumValue},
    {FourCC("dvsl"), "DV Low Definition 12.5Mb/s", kEnumValue},
    {FourCC("dvhd"), "DV High Definition 50Mb/s", kEnumValue},
    {FourCC("dvh1"), "DV High Definition 100Mb/s", kEnumValue},
    {FourCC("dv25"), "DVCPRO25 25Mb/s, 4:1:1", kEnumValue},
    {FourCC("dv50"), "DVCPRO50 50Mb/s, 4:2:2", kEnumValue},
    {FourCC("52vd"), "Matros Digisuite DV25", kEnumValue},
    {FourCC("CDVC"), "Canopus DV24", kEnumValue},
    {FourCC("MJPG"), "Motion JPEG", kEnumValue},
    {FourCC("mjpg"), "Motion JPEG", kEnumValue},
    {FourCC("ADVJ"), "AVID M-JPEG", kEnumValue},
    {FourCC("AVRn"), "AVID M-JPEG", kEnumValue},
    {FourCC("MMES"), "Matrox MPEG I-frame", kEnumValue},
    {FourCC("CVID"), "Radius Cinepak", kEnumValue},
    {FourCC("cvid"), "Radius Cinepak", kEnumValue},
    {FourCC("DAVC"), "mpegable MPEG-4", kEnumValue},
    {FourCC("davc"), "H.264/MPEG-4 AVC base profile", kEnumValue},
    {FourCC("VSSH"), "Vanguard Software Solutions MPEG-4", kEnumValue},
    {FourCC("tscc"), "TechSmith Camtasia", kEnumValue},
    {FourCC("ffds"), "FFDShow", kEnumValue},
    {FourCC("DXSB"), "DivX Subtitles", kEnumValue},
};
const ValueNameTable kCodecNames(kEnumeration, kCodecNameList, nullptr);

const FieldDesc kStreamHeaderFields[] = {
    {FieldType::FourCC, 0, 1, "Type"},
    {FieldType::FourCC, kHexFormat, 1, "Handler", &kCodecNames},
    {FieldType::DWord, kHexFormat, 1, "Flags", &kStreamHeaderFlags},
    {FieldType::Word, 0, 1, "Priority"},
    {FieldType::Word, 0, 2, "Language"},
    {FieldType::DWord, 0, 2, "InitalFrames"},
    {FieldType::DWord, 0, 1, "Scale"},
    {FieldType::DWord, 0, 1, "Rate"},
    {FieldType::DWord, 0, 1, "Start"},
    {FieldType::DWord, 0, 1, "Length"},
    {FieldType::DWord, 0, 3, "SuggestedBufferSize"},
    {FieldType::Long, 0, 3, "Quality"},
    {FieldType::DWord, 0, 1, "SampleSize", &kSampleSizes},
    {FieldType::Short, 4, 1, "Frame (l t r b)"},
};
static_assert(sizeof kStreamHeaderFields / sizeof kStreamHeaderFields[0] == kFrame + 1,
              "the stream header fields in the order of their names");
const StructDesc kStreamHeader("AVISTREAMHEADER", "", 0, 0, kStreamHeaderFields, kSizeCheckedHere);

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
enum VideoPropertiesField : uint32_t { kAspectRatio = 5 };
const ValueName kVideoFormatTokenNames[] = {
    {0, "Unknown", kEnumValue},       {1, "PAL Square", kEnumValue},
    {2, "PAL CCIR 601", kEnumValue},  {3, "NTSC Square", kEnumValue},
    {4, "NTSC CCIR 601", kEnumValue},
};
const ValueNameTable kVideoFormatTokens(kEnumeration, kVideoFormatTokenNames);
const ValueName kVideoStandardNames[] = {{0, "Unknown", kEnumValue},
                                         {1, "PAL", kEnumValue},
                                         {2, "NTSC", kEnumValue},
                                         {3, "SECAM", kEnumValue}};
const ValueNameTable kVideoStandards(kEnumeration, kVideoStandardNames);
const FieldDesc kVideoPropertiesFields[] = {
    {FieldType::DWord, 0, 1, "VideoFormatToken", &kVideoFormatTokens},
    {FieldType::DWord, 0, 1, "VideoStandard", &kVideoStandards},
    {FieldType::DWord, 0, 1, "VerticalRefreshRate"},
    {FieldType::DWord, 0, 1, "HTotalInT"},
    {FieldType::DWord, 0, 1, "VTotalInLines"},
    {FieldType::DWord, kHexFormat, 1, "FrameAspectRatio"},
    {FieldType::DWord, 0, 1, "FrameWidthInPixels"},
    {FieldType::DWord, 0, 1, "FrameHeightInLines"},
    {FieldType::DWord, 0, 1, "FieldPerFrame"},
};
const StructDesc kVideoProperties("VideoPropHeader", "", 0, 0, kVideoPropertiesFields,
                                  kSizeCheckedHere);
constexpr uint32_t kFieldCountOffset = 32;
const FieldDesc kVideoFieldDescFields[] = {
    {FieldType::DWord, 0, 1, "CompressedBMHeight"},
    {FieldType::DWord, 0, 1, "CompressedBMWidth"},
    {FieldType::DWord, 0, 1, "ValidBMHeight"},
    {FieldType::DWord, 0, 1, "ValidBMWidth"},
    {FieldType::DWord, 0, 1, "ValidBMXOffset"},
    {FieldType::DWord, 0, 1, "ValidBMYOffset"},
    {FieldType::DWord, 0, 1, "VideoXOffsetInT"},
    {FieldType::DWord, 0, 1, "VideoYValidStartLine"},
};
const StructDesc kVideoFieldDesc("VIDEO_FIELD_DESC", "", 0, 0, kVideoFieldDescFields,
                                 kSizeCheckedHere);

// 'dmlh': the OpenDML extended header; its first word counts the frames of
// all segments, the rest is reserved. Shown at every level, without offset.
const FieldDesc kExtendedHeaderFields[] = {{FieldType::DWord, 0, 0, "Grand Frames"}};
constexpr uint32_t kGrandFramesSize = 4;
const StructDesc kExtendedHeader("ODMLExtendedAVIHeader", "", 0, 0, kExtendedHeaderFields,
                                 StructLayout{0, false, false});

template <size_t N>
void PrintWordFields(const CParser& parser, const WordField (&fields)[N], const uint8_t* body,
                     uint32_t size, uint32_t base, int depth) {
  AviHeaderDumper::WordFieldLines(parser, fields, N, body, size, base, depth);
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

// The checks of the main header, over its decoded values, each under the line
// of the field it is about.
class MainHeaderChecks : public StructureHooks {
 public:
  MainHeaderChecks(const Report& report, const AviMainHeader& header, bool video)
      : report_(report), h_(header), video_(video) {}

  // The reserved words are shown only when one of them is used.
  bool Hides(uint32_t field, const FieldValues& /*values*/) const override {
    return field >= kFirstReserved && std::all_of(std::begin(h_.reserved), std::end(h_.reserved),
                                                  [](uint32_t word) { return word == 0; });
  }

  // Without a video stream the frame count and size describe nothing.
  void Check(uint32_t field, const FieldValues& /*values*/, bool /*shown*/,
             int depth) const override {
    switch (field) {
      case kTotalFrames:
        if (video_ && h_.totalFrames == 0) {
          report_.Message("dwTotalFrames may not be 0!", depth, kError);
        }
        break;
      case kStreams:
        if (h_.streams == 0 || h_.streams > kMaxStreams) {
          report_.Message("dwStreams may not be 0 or possibly greater 16!", depth, kError);
        }
        break;
      case kWidth:
        CheckFrameEdge(h_.width, "Width", depth);
        break;
      case kHeight:
        CheckFrameEdge(h_.height, "Height", depth);
        break;
      default:
        break;
    }
  }

 private:
  void CheckFrameEdge(int32_t edge, const char* name, int depth) const {
    if (video_ && (edge < kMinFrameEdge || edge > kMaxFrameEdge)) {
      report_.Message(std::string(name) + " out of range (16 - 4096)!", depth, kWarning);
    }
  }

  const Report& report_;
  const AviMainHeader& h_;
  bool video_;
};

// The checks of a stream header, over its decoded values and the main
// header's. The initial frames and the quality are checked only when their
// lines are shown.
class StreamHeaderChecks : public StructureHooks {
 public:
  StreamHeaderChecks(const Report& report, const AviModel& model, const AviStreamHeader& header)
      : report_(report), model_(model), h_(header) {}

  // Audio and MIDI streams have no frame.
  bool Hides(uint32_t field, const FieldValues& /*values*/) const override {
    return field == kFrame && !HasFrame();
  }

  // The type of a DV stream tells which of the two DV layouts it is.
  std::string Note(uint32_t field, const FieldValues& /*values*/) const override {
    if (field != kType || !IsDvHandler(h_.handler)) return std::string();
    return h_.type == FourCC("vids")   ? " DV Type 2 (redundant 'auds' stream, VfW compatible)"
           : h_.type == FourCC("iavs") ? " DV Type 1 (no 'auds' stream, not VfW compatible)"
                                       : " (undefined)";
  }

  void Check(uint32_t field, const FieldValues& /*values*/, bool shown, int depth) const override {
    switch (field) {
      case kType:
        if (h_.type == FourCC("iavs") && !IsDvType1Handler(h_.handler)) {
          report_.Message("Unknown DV Type 1 Handler!", depth, kError);
        }
        break;
      case kStreamInitialFrames:
        if (shown) CheckInitialFrames(depth);
        break;
      case kScale:
        if (h_.scale == 0) report_.Message("Scale may not be 0!", depth, kError);
        break;
      case kRate:
        if (h_.rate == 0) report_.Message("Rate may not be 0!", depth, kError);
        break;
      case kFrame:
        if (HasFrame()) CheckFrameRectangle(depth);
        break;
      case kQuality:
        // Compared unsigned: any negative quality but the default -1 is out of range.
        if (shown && static_cast<uint32_t>(h_.quality) > static_cast<uint32_t>(kMaxQuality) &&
            h_.quality != -1) {
          report_.Message("Quality should be between 0 and 10000 or -1!", depth, kWarning);
        }
        break;
      default:
        break;
    }
  }

 private:
  bool HasFrame() const { return h_.type != FourCC("auds") && h_.type != FourCC("mids"); }

  // Without a main header there is nothing to compare with; a rectangle of
  // zeros (as many writers leave it) is not set at all.
  void CheckFrameRectangle(int depth) const {
    if (!model_.avihSeen) return;
    if (h_.frameLeft == 0 && h_.frameTop == 0 && h_.frameRight == 0 && h_.frameBottom == 0) return;
    const AviMainHeader main = model_.MainHeader();
    if (main.width < h_.frameRight || main.width < h_.frameLeft || h_.frameRight == 0) {
      report_.Message("AVIMainHeader Width: " + SignedNum(main.width) + "!", depth, kWarning);
    }
    if (main.height < h_.frameTop || main.height < h_.frameBottom || h_.frameBottom == 0) {
      report_.Message("AVIMainHeader Height: " + SignedNum(main.height) + "!", depth, kWarning);
    }
  }

  void CheckInitialFrames(int depth) const {
    const AviMainHeader main = model_.MainHeader();
    if (IsVideoType(h_.type) && model_.avihSeen && h_.initialFrames != main.initialFrames) {
      report_.Message("AVIMainHeader InitalFrames: " + Num(main.initialFrames) + "!", depth,
                      kWarning);
    }
  }

  const Report& report_;
  const AviModel& model_;
  const AviStreamHeader& h_;
};

// The frame aspect ratio holds the horizontal part in its upper word.
class VideoPropertiesNotes : public StructureHooks {
 public:
  std::string Note(uint32_t field, const FieldValues& values) const override {
    if (field != kAspectRatio) return std::string();
    const uint32_t ratio = values[kAspectRatio].number;
    return " (" + Num(ratio >> 16) + ":" + Num(ratio & 0xFFFF) + ")";
  }
};

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
  parser.Reporter().FieldLine(label, value, suffix, depth);
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
  const char* name = kCodecNames.NameOf(handler);
  return name ? std::string(" (") + name + ")" : std::string();
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
  if (size != kHeaderSize) {
    parser_.Reporter().Message("Unknown Token Size, expected " + Num(kHeaderSize) + "!", depth,
                               kWarning);
  }
  const AviMainHeader h =
      AviModel::DecodeMainHeader(PaddedHeader(body, size).data(), model_.bigEndian);
  // Without a video stream the frame count, size and rate describe nothing.
  const bool video = model_.videoAnnounced;
  const MainHeaderChecks checks(parser_.Reporter(), h, video);
  StructureDumper::InterpretStructure(parser_, depth, size, body, size, size, kMainHeader,
                                      StructureDumper::kNoItemLimit, &checks);
  if (!video) return;
  FieldLine(parser_, "-> Length", Report::PlayTimeFromFrames(h.totalFrames, MainFrameRate(h)),
            depth);
  FieldLine(parser_, "-> Video Frame Size", FrameSizeNameOf(h.width, h.height), depth);
}

// ---------------------------------------------------------------------------
// Stream header

void AviHeaderDumper::DumpStreamHeader(size_t stream, const uint8_t* body, uint32_t size,
                                       int depth) {
  if (!body) size = 0;
  (void)stream;  // the body passed in is the one stored for this stream
  const Report& report = parser_.Reporter();
  const AviStreamHeader h =
      AviModel::DecodeStreamHeader(PaddedHeader(body, size).data(), model_.bigEndian);
  if (size == kOldStreamHeaderSize && IsVideoType(h.type)) {
    report.Message("Wrong AVIStreamHeader size (Frame item size)!", depth, kError);
  } else if (size != kHeaderSize) {
    report.Message("Unknown Token Size, expected " + Num(kHeaderSize) + "!", depth, kWarning);
  }
  const StreamHeaderChecks checks(report, model_, h);
  StructureDumper::InterpretStructure(parser_, depth, size, body, size, size, kStreamHeader,
                                      StructureDumper::kNoItemLimit, &checks);
  FieldLine(parser_, "-> Length", Report::PlayTimeFromFrames(h.length, StreamRate(h)), depth);
  CheckStreamTiming(h, depth);
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

void AviHeaderDumper::DumpForeignBitmap(CParser& parser, const uint8_t* body, uint32_t size,
                                        int depth) {
  const AviModel model;
  AviStreamHeader header;
  header.type = FourCC("vids");
  header.handler = WordAt(parser, body, size, 16);
  AviHeaderDumper(parser, model).DumpVideoFormat(header, body, size, depth);
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
  const VideoPropertiesNotes notes;
  StructureDumper::InterpretStructure(parser_, depth, size, body, size, size, kVideoProperties,
                                      StructureDumper::kNoItemLimit, &notes);
  // Only the descriptors that lie wholly in the body are shown.
  const uint64_t present = size > kVideoPropertiesFixedSize
                               ? (size - kVideoPropertiesFixedSize) / kVideoFieldDescSize
                               : 0;
  const uint64_t shown = std::min<uint64_t>(fieldCount, present);
  for (uint64_t k = 0; k < shown; ++k) {
    if (parser_.Verbosity() > 0) report.PlainLine("Video Field Descriptor Entry #" + Num(k), depth);
    const uint8_t* entry = body + kVideoPropertiesFixedSize + k * kVideoFieldDescSize;
    StructureDumper::InterpretStructure(parser_, depth + 1, kVideoFieldDescSize, entry,
                                        kVideoFieldDescSize, kVideoFieldDescSize, kVideoFieldDesc,
                                        StructureDumper::kNoItemLimit);
  }
}

// ---------------------------------------------------------------------------
// OpenDML extended header

void AviHeaderDumper::DumpExtendedHeader(const uint8_t* body, uint32_t size, int depth) {
  // A frame count cut short is not shown.
  if (!body || size < kGrandFramesSize) return;
  StructureDumper::InterpretStructure(parser_, depth, size, body, size, size, kExtendedHeader,
                                      StructureDumper::kNoItemLimit);
}
