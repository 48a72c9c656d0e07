#include "realmedia/RmfDescriptions.h"

namespace rmf {
namespace {

using T = FieldType;
constexpr int16_t kHex = kHexFormat;

// ---------------------------------------------------------------------------
// File header: the version of the file format and the number of headers
// that follow it (the data and index chunks included).

const FieldDesc kFileHeaderFields[] = {
    {T::DWord, 0, 3, "FileVersion"},
    {T::DWord, 0, 3, "NumHeaders"},
};

// ---------------------------------------------------------------------------
// File properties: rates and packet sizes over all streams, where the first
// index and data chunks are, and how the file may be used.

const ValueName kPropertyFlagNames[] = {
    {0x1, "HX_SAVE_ENABLED", kFlag},
    {0x2, "HX_PERFECT_PLAY_ENABLED", kFlag},
    {0x4, "HX_LIVE_BROADCAST", kFlag},
};
const ValueNameTable kPropertyFlags(kBitFlags, kPropertyFlagNames);

const FieldDesc kPropertiesFields[] = {
    {T::DWord, 0, 3, "MaxBitRate"},
    {T::DWord, 0, 3, "AvgBitRate"},
    {T::DWord, 0, 3, "MaxPacketSize"},
    {T::DWord, 0, 3, "AvgPacketSize"},
    {T::DWord, 0, 3, "NumPackets"},
    {T::DWord, 0, 3, "Duration [ms]"},
    {T::DWord, 0, 3, "Preroll [ms]"},
    {T::DWord, 0, 3, "IndexOffset"},
    {T::DWord, 0, 3, "DataOffset"},
    {T::Word, 0, 3, "NumStreams"},
    {T::Word, kHex, 3, "Flags", &kPropertyFlags},
};

// ---------------------------------------------------------------------------
// Media properties of one stream: its rates, times, name and MIME type, and
// data whose layout the MIME type decides (handed back to the parser).

const FieldDesc kMediaPropertiesFields[] = {
    {T::Word, 0, 3, "StreamNumber"},        {T::DWord, 0, 3, "MaxBitRate"},
    {T::DWord, 0, 3, "AvgBitRate"},         {T::DWord, 0, 3, "MaxPacketSize"},
    {T::DWord, 0, 3, "AvgPacketSize"},      {T::DWord, 0, 3, "StartTime [ms]"},
    {T::DWord, 0, 3, "Preroll [ms]"},       {T::DWord, 0, 3, "Duration [ms]"},
    {T::Byte, 0, 3, "StreamNameLength"},    {T::AString, -1, 3, "StreamName"},
    {T::Byte, 0, 3, "MimeTypeLength"},      {T::AString, -1, 3, "MimeType"},
    {T::DWord, 0, 3, "TypeSpecificLength"}, {T::SubObject, -1, 3, "TypeSpecificData"},
};

// ---------------------------------------------------------------------------
// Content description: four texts, each behind its 16-bit length.

const FieldDesc kContentDescriptionFields[] = {
    {T::Word, 0, 3, "TitleLength"},     {T::AString, -1, 3, "Title"},
    {T::Word, 0, 3, "AuthorLength"},    {T::AString, -1, 3, "Author"},
    {T::Word, 0, 3, "CopyrightLength"}, {T::AString, -1, 3, "Copyright"},
    {T::Word, 0, 3, "CommentLength"},   {T::AString, -1, 3, "Comment"},
};

// ---------------------------------------------------------------------------
// Seek index of one stream: a time and the offset of its packet per entry;
// index chunks are chained by the offset of the next one.

const FieldDesc kIndexFields[] = {
    {T::DWord, 0, 3, "NumIndices"},      {T::Word, 0, 3, "StreamNumber"},
    {T::DWord, 0, 3, "NextIndexHeader"}, {T::ItemArray, -3, 3, "IndexEntries"},
    {T::Word, 0, 3, "Version"},          {T::DWord, 0, 3, "Timestamp [ms]"},
    {T::DWord, 0, 3, "Offset"},          {T::DWord, 0, 3, "PacketCountForThisPacket"},
};

// ---------------------------------------------------------------------------
// Metadata: a tag and a version, then a tree of properties. Each property
// carries its size, a type, a name, a value and the table of its
// sub-properties, which follow it.

const FieldDesc kMetadataFields[] = {
    {T::FourCC, 0, 3, "Tag"},
    {T::DWord, 0, 3, "ObjectVersion"},
};

const ValueName kMetadataTypeNames[] = {
    {1, "MPT_TEXT", kEnumValue},     {2, "MPT_TEXTLIST", kEnumValue},
    {3, "MPT_FLAG", kEnumValue},     {4, "MPT_ULONG", kEnumValue},
    {5, "MPT_BINARY", kEnumValue},   {6, "MPT_URL", kEnumValue},
    {7, "MPT_DATE", kEnumValue},     {8, "MPT_FILENAME", kEnumValue},
    {9, "MPT_GROUPING", kEnumValue}, {10, "MPT_REFERENCE", kEnumValue},
};
const ValueNameTable kMetadataTypes(kBitFlags, kMetadataTypeNames);

const ValueName kMetadataFlagNames[] = {
    {0x1, "MPT_READONLY", kBitField},
    {0x2, "MPT_PRIVATE", kBitField},
    {0x4, "MPT_TYPE_DESCRIPTOR", kBitField},
};
const ValueNameTable kMetadataFlags(kBitFlags, kMetadataFlagNames);

const FieldDesc kMetadataPropertyFields[] = {
    {T::DWord, 0, 3, "Size"},
    {T::DWord, 0, 3, "Type", &kMetadataTypes},
    {T::DWord, 0, 3, "Flags", &kMetadataFlags},
    {T::DWord, 0, 3, "ValueOffset"},
    {T::DWord, 0, 3, "SubpropertiesOffset"},
    {T::DWord, 0, 3, "NumSubproperties"},
    {T::DWord, 0, 3, "NameLength"},
    {T::AString, -1, 3, "Name"},
    {T::DWord, 0, 3, "ValueLength"},
    {T::AString, -1, 3, "Value"},
    {T::ItemArray, -5, 3, "Subproperties"},
    {T::DWord, 0, 3, "Offset"},
    {T::DWord, 0, 3, "NumPropsForName"},
    {T::ArrayEnd, 0, 3, nullptr},
};

// ---------------------------------------------------------------------------
// Data: the packet count and the offset of the next data chunk, then
// packets. A packet's version decides the fields behind its length.

const FieldDesc kDataHeaderFields[] = {
    {T::DWord, 0, 3, "NumPackets"},
    {T::DWord, 0, 3, "NextDataHeader"},
};

const ValueName kPacketFlagNames[] = {
    {0x1, "HX_RELIABLE_FLAG", kFlag},
    {0x2, "HX_KEYFRAME_FLAG", kFlag},
    {0xFFFC, "Reserved Flags", kFlag},
};
const ValueNameTable kPacketFlags(kBitFlags, kPacketFlagNames);

const FieldDesc kPacket0Fields[] = {
    {T::Word, 0, 3, "StreamNumber"},   {T::DWord, 0, 3, "Timestamp [ms]"},
    {T::Byte, kHex, 3, "PacketGroup"}, {T::Byte, kHex, 3, "Flags", &kPacketFlags},
    {T::BytesRest, 0, 5, "Data"},
};

const FieldDesc kPacket1Fields[] = {
    {T::Word, 0, 3, "StreamNumber"}, {T::DWord, 0, 3, "Timestamp [ms]"}, {T::Word, 0, 3, "AsmRule"},
    {T::Byte, kHex, 3, "AsmFlags"},  {T::BytesRest, 0, 5, "Data"},
};

// ---------------------------------------------------------------------------
// Type-specific data. RealAudio and RealVideo start with a fixed part and
// end with codec data; a logical stream maps rules to physical streams and
// carries named properties.

const FieldDesc kRealAudioFields[] = {
    {T::FourCC, 0, 3, "FCC"},           {T::Word, 0, 3, "Version1"},
    {T::Word, 0, 3, "Unknown"},         {T::FourCC, 0, 3, "Compression"},
    {T::DWord, 0, 3, "Unknown"},        {T::Word, 0, 3, "Version2"},
    {T::DWord, 0, 3, "HeaderSize"},     {T::Word, 0, 3, "Flavor"},
    {T::DWord, 0, 3, "CodecFrameSize"}, {T::DWord, 0, 3, "Unknown"},
    {T::DWord, 0, 3, "Unknown"},        {T::DWord, 0, 3, "Unknown"},
    {T::Word, 0, 3, "SubPacketH"},      {T::Word, 0, 3, "FrameSize"},
    {T::Word, 0, 3, "SubPacketSize"},   {T::Word, 0, 3, "Unknown"},
    {T::Stop, 0, 3, nullptr},
};

const FieldDesc kRealVideoFields[] = {
    {T::DWord, 0, 3, "Size"},    {T::FourCC, 0, 3, "FCC"},  {T::FourCC, 0, 3, "Compression"},
    {T::Word, 0, 3, "Width"},    {T::Word, 0, 3, "Height"}, {T::Word, 0, 3, "bpp"},
    {T::DWord, 0, 3, "Unknown"}, {T::DWord, 0, 3, "fps"},   {T::FourCC, 0, 3, "Type1"},
    {T::FourCC, 0, 3, "Type2"},  {T::Stop, 0, 3, nullptr},
};

const FieldDesc kLogicalFileInfoFields[] = {
    {T::DWord, 0, 3, "Size"},
    {T::Word, 0, 3, "ObjectVersion"},
    {T::Word, 0, 3, "NumPhysicalStreams"},
    {T::PlainArray, -1, 3, "PhysicalStreams"},
    {T::Word, 0, 3, "PhysicalStreamNumbers"},
    {T::ArrayEnd, 0, 3, nullptr},
    {T::PlainArray, -4, 3, "PhysicalStreams"},
    {T::DWord, 0, 3, "DataOffsets"},
    {T::ArrayEnd, 0, 3, nullptr},
    {T::Word, 0, 3, "NumRules"},
    {T::PlainArray, -1, 3, "RulesMap"},
    {T::Word, 0, 3, "RuleToPhysicalStreamMap"},
    {T::ArrayEnd, 0, 3, nullptr},
    {T::Word, 0, 3, "NumProperties"},
    {T::ItemArray, -1, 3, "Properties"},
    {T::DWord, 0, 3, "Size"},
    {T::Word, 0, 3, "ObjectVersion"},
    {T::Byte, 0, 3, "NameLength"},
    {T::AString, -1, 3, "Name"},
    {T::DWord, 0, 3, "Type"},
    {T::Word, 0, 3, "ValueLength"},
    {T::Bytes, -1, 3, "ValueData"},
};

}  // namespace

const StructDesc kFileHeader0("Real Media File (V0)", "'.RMF'", 8, 8, kFileHeaderFields);
const StructDesc kFileHeader1("Real Media File (V1)", "'.RMF'", 8, 8, kFileHeaderFields);
const StructDesc kProperties("Properties (V0)", "'PROP'", 40, 40, kPropertiesFields);
const StructDesc kMediaProperties("Media Properties (V0)", "'MDPR'", 36, 0, kMediaPropertiesFields);
const StructDesc kContentDescription("Content Description (V0)", "'CONT'", 8, 0,
                                     kContentDescriptionFields);
const StructDesc kIndex("Index (V0)", "'INDX'", 10, 0, kIndexFields);
const StructDesc kMetadata("Metadata", "'RMMD'", 8, 8, kMetadataFields);
const StructDesc kMetadataProperty("Properties", "", 32, 0, kMetadataPropertyFields,
                                   StructLayout{0, true, false});
const StructDesc kDataHeader("", "", 8, 0, kDataHeaderFields);
const StructDesc kPacket0("", "", 8, 0, kPacket0Fields);
const StructDesc kPacket1("", "", 8, 0, kPacket1Fields);
const StructDesc kRealAudio("audio/x-pn-realaudio", "", 48, 0, kRealAudioFields);
const StructDesc kRealVideo("video/x-pn-realvideo", "", 34, 0, kRealVideoFields);
const StructDesc kLogicalFileInfo("logical-fileinfo", "", 20, 0, kLogicalFileInfoFields);

}  // namespace rmf
