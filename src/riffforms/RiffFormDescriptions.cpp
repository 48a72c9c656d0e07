#include "riffforms/RiffFormDescriptions.h"

namespace riffforms {
namespace {

using T = FieldType;
constexpr int16_t kHex = kHexFormat;

const FieldDesc kInstrumentFields[] = {
    {T::Byte, 0, 2, "UnshiftedNote"}, {T::Byte, 0, 2, "FineTune"}, {T::Byte, 0, 2, "Gain"},
    {T::Byte, 0, 2, "LowNote"},       {T::Byte, 0, 2, "HighNote"}, {T::Byte, 0, 2, "LowVelocity"},
    {T::Byte, 0, 2, "HighVelocity"},
};

// Cue points: where in the data (chunk, block, sample) each one lies.
const FieldDesc kCueFields[] = {
    {T::DWord, 0, 3, "CuePoints"},     {T::ItemArray, -1, 3, "'cue ' Entries"},
    {T::DWord, kHex, 3, "Identifier"}, {T::DWord, 0, 3, "Position"},
    {T::FourCC, kHex, 3, "fccChunk"},  {T::DWord, 0, 3, "ChunkStart"},
    {T::DWord, 0, 3, "BlockStart"},    {T::DWord, 0, 3, "SampleOffset"},
};

const FieldDesc kPlaylistFields[] = {
    {T::DWord, 0, 2, "Segments"},      {T::ItemArray, -1, 3, "'plst' Entries"},
    {T::DWord, kHex, 3, "Identifier"}, {T::DWord, 0, 3, "Length"},
    {T::DWord, 0, 3, "Repeats"},
};

const ValueName kLoopTypeNames[] = {
    {0, "Forward", kEnumValue}, {1, "Alternating", kEnumValue}, {2, "Backward", kEnumValue}};
const ValueNameTable kLoopTypes(kEnumeration, kLoopTypeNames);

// A sampler's view of the sound: its unity note, SMPTE position, loops and
// the sampler's own data behind them.
const FieldDesc kSamplerFields[] = {
    {T::DWord, kHex, 2, "Manufacturer (MIDI manufacturer ID)"},
    {T::DWord, kHex, 3, "Product"},
    {T::DWord, 0, 4, "SamplePeriod"},
    {T::DWord, 0, 3, "MIDIUnityNote"},
    {T::DWord, 0, 3, "MIDIPitchFraction"},
    {T::DWord, 0, 3, "SMPTEFormat"},
    {T::DWord, 0, 3, "SMPTEOffset"},
    {T::DWord, 0, 3, "SampleLoops"},
    {T::DWord, 0, 3, "SamplerData"},
    {T::ItemArray, -2, 3, "'smpl' Entries"},
    {T::DWord, kHex, 3, "Identifier"},
    {T::DWord, 0, 3, "Type", &kLoopTypes},
    {T::DWord, 0, 3, "Start"},
    {T::DWord, 0, 3, "End"},
    {T::DWord, 0, 3, "Fraction"},
    {T::DWord, 0, 3, "PlayCount"},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::Bytes, -9, 3, "Data"},
};

const ValueName kSampleOptionNames[] = {{1, "No Truncation", kEnumValue},
                                        {2, "No Compression", kEnumValue}};
const ValueNameTable kSampleOptions(kEnumeration, kSampleOptionNames);
const ValueName kForwardLoopNames[] = {{0, "Forward", kEnumValue}};
const ValueNameTable kForwardLoop(kEnumeration, kForwardLoopNames);

// DLS wave sample: the loops are counted by SampleLoops.
const FieldDesc kSampleLoopFields[] = {
    {T::DWord, 0, 4, "Size"},
    {T::Word, 0, 3, "UnityNote"},
    {T::Short, 0, 3, "FineTune"},
    {T::Long, 0, 3, "Attenuation"},
    {T::DWord, 0, 3, "Options", &kSampleOptions},
    {T::DWord, 0, 3, "SampleLoops"},
    {T::ItemArray, -1, 3, "'wsmp' Entries"},
    {T::DWord, 0, 3, "Size"},
    {T::DWord, 0, 3, "Type", &kForwardLoop},
    {T::DWord, 0, 3, "Start"},
    {T::DWord, 0, 3, "Length"},
};

const FieldDesc kMarkerFields[] = {
    {T::Word, 0, 3, "NumMarkers"},
    {T::ItemArray, -1, 3, "'mark' Entries"},
    {T::Word, kHex, 3, "Id"},
    {T::DWord, 0, 3, "Position"},
    {T::Byte, 0, 4, "MarkerNameLength"},
    {T::AString, -1, 3, "MarkerName"},
};

const ValueName kWaveFlagNames[] = {{0, "DMUS_WAVEF_NOPREROLL", kEnumValue},
                                    {1, "DMUS_WAVEF_STREAMING", kEnumValue}};
const ValueNameTable kWaveFlags(kEnumeration, kWaveFlagNames);
const FieldDesc kDirectMusicFields[] = {
    {T::QWord, 0, 3, "ReadAhead"},
    {T::DWord, 0, 3, "Flags", &kWaveFlags},
};

// Broadcast wave: 602 fixed bytes (the version 1 UMID and version 2 loudness
// values live in what is shown as Reserved), then the coding history.
const FieldDesc kBroadcastFields[] = {
    {T::AString, 256, 3, "Description"},
    {T::AString, 32, 3, "Originator"},
    {T::AString, 32, 3, "OriginatorReference"},
    {T::AString, 10, 3, "OriginationDate"},
    {T::AString, 8, 3, "OriginationTime"},
    {T::DWord, 0, 3, "TimeReferenceLow"},
    {T::DWord, 0, 3, "TimeReferenceHigh"},
    {T::Word, 0, 3, "Version"},
    {T::Bytes, 254, 4, "Reserved"},
    {T::AString, 0, 3, "CodingHistory"},
};

// Radio traffic data: texts of fixed length, eight post timers, a URL and
// free tag text; 2048 bytes before the tag text.
const FieldDesc kCartFields[] = {
    {T::Word, 0, 3, "VersionMajor"},
    {T::Word, 0, 3, "VersionMinor"},
    {T::AString, 64, 3, "Title"},
    {T::AString, 64, 3, "Artist"},
    {T::AString, 64, 3, "CutID"},
    {T::AString, 64, 3, "ClientID"},
    {T::AString, 64, 3, "Category"},
    {T::AString, 64, 3, "Classification"},
    {T::AString, 64, 3, "OutCut"},
    {T::AString, 10, 3, "StartDate"},
    {T::AString, 8, 3, "StartTime"},
    {T::AString, 10, 3, "EndDate"},
    {T::AString, 8, 3, "EndTime"},
    {T::AString, 64, 3, "ProducerAppID"},
    {T::AString, 64, 3, "ProducerAppVersion"},
    {T::AString, 64, 3, "UserDef"},
    {T::Long, 0, 3, "LevelReference"},
    {T::PlainArray, 8, 3, "PostTimers"},
    {T::FourCC, 0, 3, "Usage"},
    {T::DWord, 0, 3, "Value"},
    {T::ArrayEnd, 0, 3, nullptr},
    {T::Bytes, 276, 4, "Reserved"},
    {T::AString, 1024, 3, "URL"},
    {T::AString, 0, 3, "TagText"},
};

const FieldDesc kIdentifiedTextFields[] = {
    {T::DWord, kHex, 3, "Identifier"},
    {T::AString, 0, 3, "Text"},
};

const FieldDesc kLabelTextFields[] = {
    {T::DWord, kHex, 3, "Identifier"}, {T::DWord, 0, 3, "SampleLength"},
    {T::FourCC, kHex, 3, "Purpose"},   {T::Word, 0, 3, "Country"},
    {T::Word, 0, 3, "Language"},       {T::Word, 0, 3, "Dialect"},
    {T::Word, 0, 3, "CodePage"},       {T::AString, 0, 3, "Text"},
};

const FieldDesc kFileFields[] = {
    {T::DWord, kHex, 3, "Identifier"},
    {T::FourCC, kHex, 3, "MedType"},
    {T::Bytes, 0, 3, "FileData"},
};

const FieldDesc kSilenceFields[] = {{T::DWord, 0, 3, "Samples"}};
const FieldDesc kFactFields[] = {{T::DWord, 0, 3, "FileSize"}};

// The sample rate is an 80-bit IEEE extended number; AIFC adds the
// compression type and its name as a Pascal string.
const FieldDesc kCommonFields[] = {
    {T::Word, 0, 3, "Channels"},
    {T::DWord, 0, 3, "SampleFrames"},
    {T::Word, 0, 3, "SampleSize"},
    {T::Extended80, 0, 3, "SampleRate"},
    {T::FourCC, 0, 3, "CompressionType"},
    {T::Byte, 0, 4, "CompressionNameLength"},
    {T::AString, -1, 3, "CompressionName"},
};

const ValueName kAifcVersionNames[] = {{0xa2805140, "Standard", kEnumValue}};
const ValueNameTable kAifcVersions(kEnumeration, kAifcVersionNames);
const FieldDesc kVersionFields[] = {{T::DWord, kHex, 3, "FileVersion", &kAifcVersions}};

// An application's own data follows its signature.
const FieldDesc kApplicationFields[] = {
    {T::FourCC, kHex, 3, "ApplicationSignature"},
    {T::Bytes, 0, 3, "Data"},
};

}  // namespace

const StructDesc kWaveFact("WAVE Fact Chunk", "'fact'", 4, 4, kFactFields);
const StructDesc kWaveCue("WAVE Cue Chunk", "'cue '", 4, 0, kCueFields);
const StructDesc kWavePlaylist("WAVE Playlist Chunk", "'plst'", 4, 0, kPlaylistFields);
const StructDesc kWaveSampler("WAVE Sampler Chunk", "'smpl'", 36, 0, kSamplerFields);
const StructDesc kWaveInstrument("WAVE Instrument Chunk", "'inst'", 7, 7, kInstrumentFields);
const StructDesc kWaveSampleLoops("WAVE WSMPL Chunk", "'wsmp'", 20, 0, kSampleLoopFields);
const StructDesc kWaveMarker("WAVE Marker Chunk", "'mark'", 2, 0, kMarkerFields);
const StructDesc kWaveDirectMusicHeader("WAVE DirectMusic Header", "'wavh'", 12, 12,
                                        kDirectMusicFields);
const StructDesc kWaveBroadcast("WAVE EBU BWF Chunk", "'bext'", 602, 0, kBroadcastFields);
const StructDesc kWaveCart("WAVE EBU Cart Information Chunk", "'cart'", 2048, 0, kCartFields);
const StructDesc kWaveLabel("WAVE Label Chunk", "'labl'", 5, 0, kIdentifiedTextFields);
const StructDesc kWaveNote("WAVE Note Chunk", "'note'", 5, 0, kIdentifiedTextFields);
const StructDesc kWaveLabelText("WAVE LabelText Chunk", "'ltxt'", 21, 0, kLabelTextFields);
const StructDesc kWaveFile("WAVE File Chunk", "'file'", 8, 0, kFileFields);
const StructDesc kWaveSilence("WAVE Silence Chunk", "'slnt'", 4, 0, kSilenceFields);
const StructDesc kAiffCommon("AIFF Common Chunk", "'COMM'", 18, 0, kCommonFields);
const StructDesc kAifcVersion("AIFC File Version Chunk", "'fver'", 4, 4, kVersionFields);
const StructDesc kAiffApplication("AIFF Application Chunk", "'APPL'", 4, 0, kApplicationFields);

}  // namespace riffforms
