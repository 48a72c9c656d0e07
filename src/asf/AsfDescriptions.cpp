#include "asf/AsfDescriptions.h"

namespace asf {
namespace {

using T = FieldType;
constexpr int16_t kHex = kHexFormat;

// Values that a well-formed file always holds: naming them marks any other
// value as "undefined" at a glance.
const ValueName kStandardIfZeroNames[] = {{0, "standard", kEnumValue}};
const ValueNameTable kStandardIfZero(kEnumeration, kStandardIfZeroNames);
const ValueName kStandardIfOneNames[] = {{1, "standard", kEnumValue}};
const ValueNameTable kStandardIfOne(kEnumeration, kStandardIfOneNames);
const ValueName kStandardIfTwoNames[] = {{2, "standard", kEnumValue}};
const ValueNameTable kStandardIfTwo(kEnumeration, kStandardIfTwoNames);

// ---------------------------------------------------------------------------
// The Header Object and its children

const ValueName kArchitectureNames[] = {{2, "Reserved2", kEnumValue}};
const ValueNameTable kArchitectures(kEnumeration, kArchitectureNames);

// Only the count of children; the children follow as objects of their own.
const FieldDesc kHeaderFields[] = {
    {T::DWord, 0, 2, "NumberHeaderObjects"},
    {T::Byte, kHex, 4, "Alignment"},
    {T::Byte, kHex, 4, "Architecture", &kArchitectures},
};

const ValueName kFilePropertyFlagNames[] = {
    {0x1, "Broadcast", kFlag},           {0x2, "Seekable", kFlag},
    {0x4, "Use Packet Template", kFlag}, {0x8, "Live", kFlag},
    {0x10, "Reliable", kFlag},           {0x20, "Recordable", kFlag},
    {0x40, "Unknown Data Size", kFlag},  {0xff80, "Reserved Flags", kFlag},
};
const ValueNameTable kFilePropertyFlags(kBitFlags, kFilePropertyFlagNames);

// Times are in 100-ns units except the preroll (ms), which the play duration
// includes.
const FieldDesc kFilePropertiesFields[] = {
    {T::Guid, 0, 4, "FileID"},
    {T::QWord, 0, 1, "FileSize"},
    {T::FileTime, 0, 1, "CreationDate"},
    {T::QWord, 0, 2, "DataPacketsCount"},
    {T::Duration, 0, 2, "PlayDuration (100ns, incl Preroll)"},
    {T::Duration, 0, 4, "SendDuration (100ns)"},
    {T::QWord, 0, 3, "Preroll (1ms)"},
    {T::DWord, kHex, 2, "Flags", &kFilePropertyFlags},
    {T::DWord, 0, 3, "MinimumDataPacketSize"},
    {T::DWord, 0, 3, "MaximumDataPacketSize"},
    {T::DWord, 0, 2, "MaximumBitrate (bps)"},
};

// Five lengths in bytes, then the five UTF-16 texts they measure.
const FieldDesc kContentDescriptionFields[] = {
    {T::Word, 0, 4, "TitleLength"},          {T::Word, 0, 4, "AuthorLength"},
    {T::Word, 0, 4, "CopyrightLength"},      {T::Word, 0, 4, "DescriptionLength"},
    {T::Word, 0, 4, "RatingLength"},         {T::WStringBytes, -5, 1, "Title"},
    {T::WStringBytes, -5, 1, "Author"},      {T::WStringBytes, -5, 1, "Copyright"},
    {T::WStringBytes, -5, 1, "Description"}, {T::WStringBytes, -5, 1, "Rating"},
};

const ValueName kStreamTypeNames[] = {
    {0, "Video", kEnumValue, 0, "{bc19efc0-5b4d-11cf-a8fd-00805f5c442b}"},
    {0, "Audio", kEnumValue, 0, "{f8699e40-5b4d-11cf-a8fd-00805f5c442b}"},
    {0, "Command", kEnumValue, 0, "{59dacfc0-59e6-11d0-a3ac-00a0c90348f6}"},
    {0, "JFIF", kEnumValue, 0, "{b61be100-5b4e-11cf-a8fd-00805f5c442b}"},
    {0, "Degradable JPEG", kEnumValue, 0, "{35907de0-e415-11cf-a917-00805f5c442b}"},
    {0, "File Transfer", kEnumValue, 0, "{91bd222c-f21c-497a-8b6d-5aa86bfc0185}"},
    {0, "Binary", kEnumValue, 0, "{3afb65e2-47ef-40f2-ac2c-70a90d71d343}"},
};
const ValueNameTable kStreamTypes(kEnumeration, kStreamTypeNames);

const ValueName kErrorCorrectionTypeNames[] = {
    {0, "None", kEnumValue, 0, "{20fb5700-5b55-11cf-a8fd-00805f5c442b}"},
    {0, "Spread", kEnumValue, 0, "{bfc3cd50-618f-11cf-8bb2-00aa00b4e220}"},
};
const ValueNameTable kErrorCorrectionTypes(kEnumeration, kErrorCorrectionTypeNames);

const ValueName kStreamFlagNames[] = {
    {0x8000, "Encryption", kFlag},
    {0x7f, "StreamNumber", kBitField},
};
const ValueNameTable kStreamFlags(kBitFlags, kStreamFlagNames);

// The type-specific data (a media format) and the error-correction data are
// each measured by their length field. The error-correction data is a block
// of its own whose layout depends on the error-correction type, so the
// parser interprets it (kSpreadErrorCorrection for the spread type); its
// fields lie outside this object's fixed layout.
const FieldDesc kStreamPropertiesFields[] = {
    {T::Guid, 0, 2, "StreamType", &kStreamTypes},
    {T::Guid, 0, 4, "ErrorCorrectionType", &kErrorCorrectionTypes},
    {T::QWord, 0, 4, "TimeOffset"},
    {T::DWord, 0, 4, "TypeSpecificDataLength"},
    {T::DWord, 0, 4, "ErrorCorrectionDataLength"},
    {T::Word, kHex, 2, "Flags", &kStreamFlags},
    {T::DWord, kHex, 4, "SecurityID"},
    {T::SubObject, -4, 3, "TypeSpecificData"},
    {T::SubObject, -4, 3, "ErrorCorrectionData"},
};

// Spread error correction: how audio packets are interleaved across the
// span, and the silence that stands in for a lost chunk.
const FieldDesc kSpreadErrorCorrectionFields[] = {
    {T::Byte, 0, 4, "Span"},
    {T::Word, 0, 4, "VirtualPacketLength"},
    {T::Word, 0, 4, "VirtualChunkLength"},
    {T::Word, 0, 4, "SilenceDataLength"},
    {T::Bytes, -1, 4, "Data"},
};

// The fixed fields in front of a video stream's bitmap information header.
const FieldDesc kVideoMediaFields[] = {
    {T::DWord, 0, 2, "EncodedImageWidth"},
    {T::DWord, 0, 2, "EncodedImageHeight"},
    {T::Byte, kHex, 4, "ReservedFlags", &kStandardIfTwo},
    {T::Word, 0, 2, "FormatDataSize"},
};

// An audio stream's format: a wave format header with its codec data.
const FieldDesc kAudioMediaFields[] = {
    {T::Word, 0, 4, "CodecID / FormatTag"},   {T::Word, 0, 4, "NumberOfChannels"},
    {T::DWord, 0, 4, "SamplesPerSecond"},     {T::DWord, 0, 4, "AverageNumberOfBytesPerSecond"},
    {T::Word, 0, 2, "BlockAlignment"},        {T::Word, 0, 2, "BitsPerSample"},
    {T::Word, 0, 2, "CodecSpecificDataSize"}, {T::Bytes, -1, 4, "CodecSpecificData"},
};

const ValueName kCodecListIdNames[] = {
    {0, "Reserved2", kEnumValue, 0, "{86d15241-311d-11d0-a3a4-00a0c90348f6}"},
};
const ValueNameTable kCodecListIds(kEnumeration, kCodecListIdNames);

const ValueName kCodecTypeNames[] = {
    {1, "WMT_CODECINFO_VIDEO", kEnumValue},
    {2, "WMT_CODECINFO_AUDIO", kEnumValue},
    {0xffff, "Undefined", kEnumValue},
};
const ValueNameTable kCodecTypes(kEnumeration, kCodecTypeNames);

// The codecs used by the streams; name and description lengths count
// characters, the information length bytes.
const FieldDesc kCodecListFields[] = {
    {T::Guid, 0, 4, "Codec D", &kCodecListIds},
    {T::DWord, 0, 3, "CodecEntriesCount"},
    // As many entries as the count says.
    {T::ItemArray, -1, 0, "CodecEntries"},
    {T::Word, kHex, 2, "Type", &kCodecTypes},
    {T::Word, 0, 4, "CodecNameLength"},
    {T::WStringChars, -1, 2, "CodecName"},
    {T::Word, 0, 4, "CodecDescriptionLength"},
    {T::WStringChars, -1, 2, "CodecDescription"},
    {T::Word, 0, 4, "CodecInformationLength"},
    {T::Bytes, -1, 2, "CodecInformation (Format/FourCC)"},
};

// The types of a typed value (extended content descriptors and metadata
// records): the parser decodes the value by them.
const ValueName kDataTypeNames[] = {
    {0, "UnicodeString", kEnumValue}, {1, "ByteArray", kEnumValue}, {2, "BOOL", kEnumValue},
    {3, "DWORD", kEnumValue},         {4, "QWORD", kEnumValue},     {5, "WORD", kEnumValue},
    {6, "GUID", kEnumValue},
};
const ValueNameTable kDataTypes(kEnumeration, kDataTypeNames);

// Name-value pairs; the value's type and length come just before it, and
// the parser's typed-value dump takes the value's bytes.
const FieldDesc kExtendedContentDescriptionFields[] = {
    {T::Word, 0, 3, "ContentDescriptorsCount"},
    // As many descriptors as the count says.
    {T::ItemArray, -1, 0, "ContentDescriptor"},
    {T::Word, 0, 4, "DescriptorNameLength"},
    {T::WStringBytes, -1, 2, "DescriptorName"},
    {T::Word, kHex, 2, "DescriptorValueDataType", &kDataTypes},
    {T::Word, 0, 4, "DescriptorValueLength"},
    {T::SubObject, 0, 2, "DescriptorValue"},
};

const ValueName kBitrateFlagNames[] = {{0x7f, "StreamNumber", kBitField}};
const ValueNameTable kBitrateFlags(kBitFlags, kBitrateFlagNames);

const FieldDesc kStreamBitratePropertiesFields[] = {
    {T::Word, 0, 3, "BitrateRecordsCount"},
    // As many records as the count says.
    {T::ItemArray, -1, 0, "BitrateRecords"},
    {T::Word, kHex, 2, "Flags", &kBitrateFlags},
    {T::DWord, 0, 0, "Average Bitrate"},
};

const FieldDesc kContentEncryptionFields[] = {
    {T::DWord, 0, 2, "SecretDataLength"},     {T::Bytes, -1, 2, "SecretData"},
    {T::DWord, 0, 4, "ProtectionTypeLength"}, {T::Bytes, -1, 2, "ProtectionType"},
    {T::DWord, 0, 4, "KeyIDLength"},          {T::Bytes, -1, 3, "KeyID"},
    {T::DWord, 0, 4, "LicenseURLLength"},     {T::Bytes, -1, 2, "LicenseURL"},
};

// The data is a UTF-16 text of DataSize bytes.
const FieldDesc kExtendedContentEncryptionFields[] = {
    {T::DWord, 0, 2, "DataSize"},
    {T::WStringBytes, -1, 2, "Data"},
};

const FieldDesc kDigitalSignatureFields[] = {
    {T::DWord, 0, 2, "SignatureType", &kStandardIfTwo},
    {T::DWord, 0, 4, "SignatureDataLength"},
    {T::Bytes, -1, 4, "Signature Data"},
};

const ValueName kScriptCommandIdNames[] = {
    {0, "Reserved3", kEnumValue, 0, "{4b1acbe3-100b-11d0-a39b-00a0c90348f6}"},
};
const ValueNameTable kScriptCommandIds(kEnumeration, kScriptCommandIdNames);

// The command types (names such as "URL"), then the commands, each naming
// its type by index.
const FieldDesc kScriptCommandFields[] = {
    {T::Guid, 0, 4, "CommandID", &kScriptCommandIds},
    {T::Word, 0, 3, "CommandsCount"},
    {T::Word, 0, 3, "CommandTypesCount"},
    {T::ItemArray, -1, 3, "CommandTypes"},
    {T::Word, 0, 4, "CommandTypeNameLength"},
    {T::WStringChars, -1, 3, "CommandTypeName"},
    {T::ArrayEnd, 0, 0, nullptr},
    // The commands are counted by CommandsCount; the types' count comes
    // after it.
    {T::ItemArray, -6, 3, "Commands"},
    {T::DWord, 0, 3, "PresentationTime"},
    {T::Word, 0, 3, "TypeIndex"},
    {T::Word, 0, 4, "CommandNameLength"},
    {T::WStringChars, -1, 3, "CommandName"},
};

const ValueName kMarkerIdNames[] = {
    {0, "Reserved4", kEnumValue, 0, "{4cfedb20-75f6-11cf-9c0f-00a0c90349cb}"},
};
const ValueNameTable kMarkerIds(kEnumeration, kMarkerIdNames);

const FieldDesc kMarkerFields[] = {
    {T::Guid, 0, 4, "MarkerID", &kMarkerIds},
    {T::DWord, 0, 3, "MarkersCount"},
    {T::Word, 0, 4, "Alignment"},
    {T::Word, 0, 4, "NameLength"},
    {T::WStringBytes, -1, 1, "Name"},
    // As many markers as MarkersCount says.
    {T::ItemArray, -4, 0, "Markers"},
    {T::QWord, 0, 3, "Offset"},
    // A time in 100-ns units from the start of the presentation, not a date.
    {T::Duration, 0, 3, "PresentationTime (100ns)"},
    {T::Word, 0, 4, "EntryLength"},
    {T::DWord, 0, 3, "SendTime (1ms)"},
    {T::DWord, kHex, 3, "Flags", &kStandardIfZero},
    {T::DWord, 0, 4, "MarkerDescriptionLength"},
    {T::WStringChars, -1, 1, "MarkerDescription"},
};

// Streams that exclude one another (one language, one bitrate of several).
const ValueName kMutexTypeNames[] = {
    {0, "ASF_Mutex_Language", kEnumValue, 0, "{d6e22a00-35da-11d1-9034-00a0c90349be}"},
    {0, "ASF_Mutex_Bitrate", kEnumValue, 0, "{d6e22a01-35da-11d1-9034-00a0c90349be}"},
    {0, "ASF_Mutex_Presentation", kEnumValue, 0, "{d6e22a02-35da-11d1-9034-00a0c90349be}"},
    {0, "ASF_Mutex_Unknown", kEnumValue, 0, "{d6e22a02-35da-11d1-9034-00a0c90349be}"},
};
const ValueNameTable kMutexTypes(kEnumeration, kMutexTypeNames);

const FieldDesc kMutualExclusionFields[] = {
    {T::Guid, 0, 3, "ExclusionType", &kMutexTypes},
    {T::Word, 0, 2, "StreamNumbersCount"},
    {T::Word, -1, 2, "StreamNumbers"},
};

const FieldDesc kErrorCorrectionFields[] = {
    {T::Guid, 0, 3, "ErrorCorrectionType"},
    {T::DWord, 0, 4, "ErrorCorrectionDataLength"},
    {T::Bytes, -1, 4, "ErrorCorrectionData"},
};

const ValueName kBannerTypeNames[] = {
    {0, "No Image", kEnumValue},
    {1, "Bitmap", kEnumValue},
    {2, "JPEG", kEnumValue},
    {3, "GIF", kEnumValue},
};
const ValueNameTable kBannerTypes(kEnumeration, kBannerTypeNames);

const FieldDesc kContentBrandingFields[] = {
    {T::DWord, 0, 3, "BannerImageType", &kBannerTypes},
    {T::DWord, 0, 4, "BannerImageDataSize"},
    {T::Bytes, -1, 4, "BannerImageData"},
    {T::DWord, 0, 4, "BannerImageURLLength"},
    {T::AString, -1, 3, "BannerImageURL"},
    {T::DWord, 0, 4, "CopyrightURLLength"},
    {T::AString, -1, 3, "CopyrightURL"},
};

const ValueName kClockTypeNames[] = {
    {0, "Reserved1", kEnumValue, 0, "{abd3d211-a9ba-11cf-8ee6-00c00c205365}"},
};
const ValueNameTable kClockTypes(kEnumeration, kClockTypeNames);
const ValueName kClockSizeNames[] = {{6, "Reserved2", kEnumValue}};
const ValueNameTable kClockSizes(kEnumeration, kClockSizeNames);

// The objects inside the extension are walked by the parser, so the
// description stops after the size of their data.
const FieldDesc kHeaderExtensionFields[] = {
    {T::Guid, 0, 4, "ClockType", &kClockTypes},
    {T::Word, kHex, 4, "ClockSize", &kClockSizes},
    {T::DWord, 0, 4, "HeaderExtensionDataSize"},
    {T::Stop, 0, 4, nullptr},
};

// ---------------------------------------------------------------------------
// Children of the Header Extension Object

const ValueName kExtendedStreamFlagNames[] = {
    {0x1, "Reliable Flag", kFlag},       {0x2, "Seekable Flag", kFlag},
    {0x4, "No Cleanpoints Flag", kFlag}, {0x8, "Resend Live Cleanpoints Flag", kFlag},
    {0xff10, "Language Index", kFlag},   {0xffe0, "Reserved Flags", kFlag},
};
const ValueNameTable kExtendedStreamFlags(kBitFlags, kExtendedStreamFlagNames);

const ValueName kPayloadExtensionSystemNames[] = {
    {0, "ASF_Payload_Extension_System_Timecode", kEnumValue, 0,
     "{399595ec-8667-4e2d-8fdb-98814ce76c1e}"},
    {0, "ASF_Payload_Extension_System_File_Name", kEnumValue, 0,
     "{e165ec0e-19ed-45d7-b4a7-25cbd1e28e9b}"},
    {0, "ASF_Payload_Extension_System_Content_Type", kEnumValue, 0,
     "{d590dc20-07bc-436c-9cf7-f3bbfbf1a4dc}"},
    {0, "ASF_Payload_Extension_System_Pixel_Aspect_Ratio", kEnumValue, 0,
     "{1b1ee554-f9ea-4bc8-821a-376b74e4c4b8}"},
    {0, "ASF_Payload_Extension_System_Sample_Duration", kEnumValue, 0,
     "{c6bd9450-867f-4907-83a3-c77921b733ad}"},
    {0, "ASF_Payload_Extension_System_Encryption_Sample_ID", kEnumValue, 0,
     "{6698b84e-0afa-4330-aeb2-1c0a98d7a44d}"},
};
const ValueNameTable kPayloadExtensionSystems(kEnumeration, kPayloadExtensionSystemNames);

// Buffer model and timing of one stream, its names per language, the
// extension systems its payloads carry, and optionally the stream's own
// Stream Properties Object at the end.
const FieldDesc kExtendedStreamPropertiesFields[] = {
    {T::QWord, 0, 3, "StartTime (1ms)"},
    {T::QWord, 0, 3, "EndTime (1ms)"},
    {T::DWord, 0, 3, "AvgDataBitrate (bps)"},
    {T::DWord, 0, 3, "AvgBufferSize (1ms)"},
    {T::DWord, 0, 3, "AvgInitialBufferFullness (1ms)"},
    {T::DWord, 0, 3, "MaxDataBitrate (bps)"},
    {T::DWord, 0, 3, "MaxBufferSize (1ms)"},
    {T::DWord, 0, 3, "MaxInitialBufferFullness (1ms)"},
    {T::DWord, 0, 3, "MaximumObjectSize"},
    {T::DWord, 0, 3, "Flags", &kExtendedStreamFlags},
    {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 3, "StreamLanguageIDIndex"},
    {T::Duration, 0, 3, "AverageTimePerFrame (100ns)"},
    {T::Word, 0, 3, "StreamNameCount"},
    {T::Word, 0, 3, "PayloadExtensionSystemCount"},
    {T::ItemArray, -2, 3, "StreamNames"},
    {T::Word, 0, 3, "LanguageIDIndex"},
    {T::Word, 0, 4, "StreamNameLength"},
    {T::WStringBytes, -1, 3, "StreamNames"},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::ItemArray, -6, 3, "PayloadExtensionSystems"},
    {T::Guid, 0, 4, "ExtensionSystem", &kPayloadExtensionSystems},
    {T::Word, 0, 4, "ExtensionDataSize"},
    {T::DWord, 0, 4, "ExtensionSystemInfoLength"},
    {T::Bytes, -1, 4, "ExtensionSystemInfo"},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::SubObject, 0, 2, "StreamPropertiesObject"},
};

// The languages that other objects refer to by index.
const FieldDesc kLanguageListFields[] = {
    {T::Word, 0, 3, "LanguageIDRecordsCount"},
    {T::ItemArray, -1, 3, "StreamNames"},
    {T::Byte, 0, 4, "LanguageIDLength"},
    {T::WStringBytes, -1, 3, "LanguageID"},
};

// Typed name-value records per stream; the parser's typed-value dump takes
// each value's bytes.
const FieldDesc kMetadataFields[] = {
    {T::Word, 0, 2, "Description Records Count"},
    {T::ItemArray, -1, 3, "DescriptionRecords"},
    {T::Word, 0, 3, "Reserved"},
    {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 4, "NameLength"},
    {T::Word, 0, 3, "DataType", &kDataTypes},
    {T::DWord, 0, 4, "DataLength"},
    {T::WStringBytes, -3, 2, "Name"},
    {T::SubObject, 0, 2, "DescriptorValue"},
};

// As Metadata, with a language per record.
const FieldDesc kMetadataLibraryFields[] = {
    {T::Word, 0, 2, "Description Records Count"},
    {T::ItemArray, -1, 3, "DescriptionRecords"},
    {T::Word, 0, 3, "LanguageList"},
    {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 4, "NameLength"},
    {T::Word, 0, 3, "DataType", &kDataTypes},
    {T::DWord, 0, 4, "DataLength"},
    {T::WStringBytes, -3, 2, "Name"},
    {T::SubObject, 0, 2, "DescriptorValue"},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::Stop, 0, 0, nullptr},
};

const ValueName kPriorityFlagNames[] = {
    {0x1, "Mandatory Flag", kFlag},
    {0xfffe, "Reserved Flags", kFlag},
};
const ValueNameTable kPriorityFlags(kBitFlags, kPriorityFlagNames);

const FieldDesc kStreamPrioritizationFields[] = {
    {T::Word, 0, 3, "PriorityRecordsCount"},
    {T::ItemArray, -1, 3, "PriorityRecords"},
    {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 3, "PriorityFlags", &kPriorityFlags},
};

// What an index entry points at. The parameter objects in the header
// announce the index objects after the data and share their types.
const ValueName kIndexTypeNames[] = {
    {1, "Nearest Past Data Packet", kEnumValue},
    {2, "Nearest Past Media Object", kEnumValue},
    {3, "Nearest Past Cleanpoint (standard)", kEnumValue},
};
const ValueNameTable kIndexTypes(kEnumeration, kIndexTypeNames);
// A media object index may also hold frame numbers.
const ValueName kMediaObjectIndexTypeNames[] = {
    {1, "Nearest Past Data Packet", kEnumValue},
    {2, "Nearest Past Media Object", kEnumValue},
    {3, "Nearest Past Cleanpoint (standard)", kEnumValue},
    {0xff, "Frame Number Offset", kEnumValue},
};
const ValueNameTable kMediaObjectIndexTypes(kEnumeration, kMediaObjectIndexTypeNames);
// A timecode index points at media objects only.
const ValueName kTimecodeIndexTypeNames[] = {
    {2, "Nearest Past Media Object", kEnumValue},
    {3, "Nearest Past Cleanpoint (standard)", kEnumValue},
};
const ValueNameTable kTimecodeIndexTypes(kEnumeration, kTimecodeIndexTypeNames);

const FieldDesc kIndexParametersFields[] = {
    {T::DWord, 0, 3, "IndexEntryTimeInterval"}, {T::Word, 0, 3, "IndexSpecifiersCount"},
    {T::ItemArray, -1, 3, "IndexSpecifiers"},   {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 3, "IndexType", &kIndexTypes},
};

const FieldDesc kMediaObjectIndexParametersFields[] = {
    {T::DWord, 0, 3, "IndexEntryCountInterval"},
    {T::Word, 0, 3, "IndexSpecifiersCount"},
    {T::ItemArray, -1, 3, "IndexSpecifiers"},
    {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 3, "IndexType", &kMediaObjectIndexTypes},
};

const FieldDesc kTimecodeIndexParametersFields[] = {
    {T::DWord, 0, 3, "IndexEntryTimeInterval"},         {T::Word, 0, 3, "IndexSpecifiersCount"},
    {T::ItemArray, -1, 3, "IndexSpecifiers"},           {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 3, "IndexType", &kTimecodeIndexTypes},
};

// Groups name no presentation type.
const ValueName kGroupMutexTypeNames[] = {
    {0, "ASF_Mutex_Language", kEnumValue, 0, "{d6e22a00-35da-11d1-9034-00a0c90349be}"},
    {0, "ASF_Mutex_Bitrate", kEnumValue, 0, "{d6e22a01-35da-11d1-9034-00a0c90349be}"},
    {0, "ASF_Mutex_Unknown", kEnumValue, 0, "{d6e22a02-35da-11d1-9034-00a0c90349be}"},
};
const ValueNameTable kGroupMutexTypes(kEnumeration, kGroupMutexTypeNames);

// Records of streams that exclude the streams of every other record.
const FieldDesc kGroupMutualExclusionFields[] = {
    {T::Guid, 0, 3, "ExclusionType", &kGroupMutexTypes},
    {T::Word, 0, 2, "RecordsCount"},
    {T::ItemArray, -1, 3, "Records"},
    {T::Word, 0, 2, "StreamCount"},
    {T::Word, -1, 2, "StreamNumbers"},
};

const ValueName kSharingTypeNames[] = {
    {0, "ASF_Bandwidth_Sharing_Exclusive", kEnumValue, 0, "{af6060aa-5197-11d2-b6af-00c04fd908e9}"},
    {0, "ASF_Bandwidth_Sharing_Partial", kEnumValue, 0, "{af6060ab-5197-11d2-b6af-00c04fd908e9}"},
};
const ValueNameTable kSharingTypes(kEnumeration, kSharingTypeNames);

const FieldDesc kBandwidthSharingFields[] = {
    {T::Guid, 0, 3, "SharingType", &kSharingTypes},
    {T::DWord, 0, 3, "DataBitrate"},
    {T::DWord, 0, 3, "BufferSize"},
    {T::Word, 0, 2, "StreamNumbersCount"},
    {T::Word, -1, 2, "StreamNumbers"},
};

const FieldDesc kCompatibilityFields[] = {
    {T::Byte, 0, 3, "Profile", &kStandardIfTwo},
    {T::Byte, 0, 3, "Mode", &kStandardIfOne},
};

const ValueName kEncryptionSystemNames[] = {
    {0, "ASF_Content_Encryption_System_Windows_Media_DRM_Network_Devices", kEnumValue, 0,
     "{7a079bb6-daa4-4e12-a5ca-91d38dc11a8d}"},
};
const ValueNameTable kEncryptionSystems(kEnumeration, kEncryptionSystemNames);

// Encryption systems, each with the objects it encrypts: every object has
// an ID of EncryptedObjectIDLength bytes and DataSize bytes of data.
const FieldDesc kAdvancedContentEncryptionFields[] = {
    {T::Word, 0, 3, "ContentEncryptionRecordsCount"},
    {T::ItemArray, -1, 3, "ContentEncryptionRecords"},
    {T::Guid, 0, 3, "SystemID", &kEncryptionSystems},
    {T::DWord, 0, 3, "SystemVersion"},
    {T::Word, 0, 3, "Encrypted ObjectRecordCount"},
    {T::ItemArray, -1, 3, "EncryptedObjectRecords"},
    {T::Word, 0, 3, "EncryptedObjectIDType"},
    {T::Word, 0, 4, "EncryptedObjectIDLength"},
    // The ID is as long as its length field says.
    {T::Bytes, -1, 3, "EncryptedObjectID"},
    {T::ArrayEnd, 0, 3, nullptr},
    // A 32-bit size, then that many bytes.
    {T::DWord, 0, 3, "DataSize"},
    {T::Bytes, -1, 3, "Data"},
    {T::ArrayEnd, 0, 3, nullptr},
};

const FieldDesc kIndexParameterPlaceholderFields[] = {
    {T::Bytes, 0, 3, "(Reserved)"},
};

// ---------------------------------------------------------------------------
// Index objects after the Data Object

const ValueName kPacketCountFlagNames[] = {{0x2, "Fragmented", kFlag}};
const ValueNameTable kPacketCountFlags(kBitFlags, kPacketCountFlagNames);

// One entry per time interval: the packet holding the nearest key frame.
const FieldDesc kSimpleIndexFields[] = {
    {T::Guid, 0, 3, "FileID"},
    {T::Duration, 0, 2, "IndexEntryTimeInterval (100ns)"},
    {T::DWord, 0, 3, "MaximumPacketCount"},
    {T::DWord, 0, 1, "IndexEntriesCount"},
    {T::ItemArray, -1, 0, "IndexEntries"},
    {T::DWord, 0, 4, "PacketNumber (closest keyframe)"},
    {T::Word, 0, 4, "PacketCount", &kPacketCountFlags},
};

// The specifiers name the indexed streams; each block has one base position
// per specifier and entries with one offset per specifier.
const FieldDesc kIndexFields[] = {
    {T::DWord, 0, 3, "IndexEntryTimeInterval"},
    {T::Word, 0, 3, "IndexSpecifiersCount"},
    {T::DWord, 0, 2, "IndexBlocksCount"},
    {T::ItemArray, -2, 0, "IndexSpecifiers"},
    {T::Word, 0, 3, "StreamNumber"},
    {T::Word, 0, 3, "IndexType", &kIndexTypes},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::ItemArray, -5, 0, "IndexBlocks"},
    {T::DWord, 0, 4, "IndexEntryCount"},
    {T::QWord, -8, 4, "Position"},
    {T::ItemArray, -2, 0, "IndexEntries"},
    {T::DWord, -10, 4, "Offset"},
};

const FieldDesc kMediaObjectIndexFields[] = {
    {T::DWord, 0, 3, "IndexEntryCountInterval"},
    {T::Word, 0, 2, "IndexSpecifiersCount"},
    {T::DWord, 0, 3, "IndexBlocksCount"},
    {T::ItemArray, -2, 0, "IndexSpecifiers"},
    {T::Word, 0, 4, "StreamNumber"},
    {T::Word, 0, 4, "IndexType", &kMediaObjectIndexTypes},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::ItemArray, -5, 0, "IndexBlocks"},
    {T::DWord, 0, 3, "IndexEntryCount"},
    {T::QWord, -8, 2, "BlockPositions"},
    {T::ItemArray, -2, 0, "IndexEntries"},
    {T::DWord, -10, 3, "Offsets"},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::ArrayEnd, 0, 0, nullptr},
};

// As the index, with a timecode range per block and a timecode per entry.
const FieldDesc kTimecodeIndexFields[] = {
    {T::DWord, 0, 3, "Reserved", &kStandardIfOne},
    {T::Word, 0, 2, "IndexSpecifiersCount"},
    {T::DWord, 0, 3, "IndexBlocksCount"},
    {T::ItemArray, -2, 0, "IndexSpecifiers"},
    {T::Word, 0, 4, "StreamNumber"},
    {T::Word, 0, 4, "IndexType", &kTimecodeIndexTypes},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::ItemArray, -5, 0, "IndexBlocks"},
    {T::DWord, 0, 3, "IndexEntryCount"},
    {T::Word, 0, 2, "TimecodeRange"},
    {T::QWord, -9, 2, "BlockPositions"},
    {T::ItemArray, -3, 0, "IndexEntries"},
    {T::DWord, 0, 3, "Timecode"},
    {T::DWord, -12, 3, "Offsets"},
    {T::ArrayEnd, 0, 0, nullptr},
    {T::ArrayEnd, 0, 0, nullptr},
};

}  // namespace

const StructDesc kHeader("Header", "{75b22630-668e-11cf-a6d9-00aa0062ce6c}", 6, 6, kHeaderFields);
const StructDesc kFileProperties("File Properties (V2)", "{8cabdca1-a947-11cf-8ee4-00c00c205365}",
                                 80, 0, kFilePropertiesFields);
const StructDesc kContentDescription("Content Description",
                                     "{75b22633-668e-11cf-a6d9-00aa0062ce6c}", 10, 0,
                                     kContentDescriptionFields);
const StructDesc kStreamProperties("Stream Properties", "{b7dc0791-a9b7-11cf-8ee6-00c00c205365}",
                                   54, 0, kStreamPropertiesFields);
const StructDesc kCodecList("Codec List", "{86d15240-311d-11d0-a3a4-00a0c90348f6}", 20, 0,
                            kCodecListFields);
const StructDesc kExtendedContentDescription("Extended Content Description",
                                             "{d2d0a440-e307-11d2-97f0-00a0c95ea850}", 2, 0,
                                             kExtendedContentDescriptionFields);
const StructDesc kStreamBitrateProperties("Stream Bitrate Properties",
                                          "{7bf875ce-468d-11d1-8d82-006097c9a2b2}", 2, 0,
                                          kStreamBitratePropertiesFields);
const StructDesc kContentEncryption("Content Encryption", "{2211b3fb-bd23-11d2-b4b7-00a0c955fc6e}",
                                    17, 0, kContentEncryptionFields);
const StructDesc kExtendedContentEncryption("Extended Content Encryption",
                                            "{298ae614-2622-4c17-b935-dae07ee9289c}", 5, 0,
                                            kExtendedContentEncryptionFields);
const StructDesc kDigitalSignature("Digital Signature", "{2211b3fc-bd23-11d2-b4b7-00a0c955fc6e}", 8,
                                   0, kDigitalSignatureFields);
const StructDesc kScriptCommand("Script Command", "{1efb1a30-0b62-11d0-a39b-00a0c90348f6}", 20, 0,
                                kScriptCommandFields);
const StructDesc kMarker("Marker", "{f487cd01-a951-11cf-8ee6-00c00c205365}", 24, 0, kMarkerFields);
const StructDesc kBitrateMutualExclusion("Bitrate Mutual Exclusion",
                                         "{d6e229dc-35da-11d1-9034-00a0c90349be}", 18, 0,
                                         kMutualExclusionFields);
const StructDesc kErrorCorrection("Error Correction", "{75b22635-668e-11cf-a6d9-00aa0062ce6c}", 20,
                                  0, kErrorCorrectionFields);
const StructDesc kContentBranding("Content Branding", "{2211b3fa-bd23-11d2-b4b7-00a0c955fc6e}", 16,
                                  0, kContentBrandingFields);
const StructDesc kHeaderExtension("Header Extension", "{5fbf03b5-a92e-11cf-8ee3-00c00c205365}", 22,
                                  0, kHeaderExtensionFields);

const StructDesc kVideoMedia("Video", "{bc19efc0-5b4d-11cf-a8fd-00805f5c442b}", 11, 11,
                             kVideoMediaFields);
const StructDesc kAudioMedia("Audio", "{f8699e40-5b4d-11cf-a8fd-00805f5c442b}", 0, 0,
                             kAudioMediaFields);
// No name and no tag: the fields follow the Stream Properties line that
// holds them, without a header line of their own.
const StructDesc kSpreadErrorCorrection("", "", 7, 0, kSpreadErrorCorrectionFields);

const StructDesc kExtendedStreamProperties("Extended Stream Properties",
                                           "{14e6a5cb-c672-4332-8399-a96952065b5a}", 64, 0,
                                           kExtendedStreamPropertiesFields);
const StructDesc kLanguageList("Language List", "{7c4346a9-efe0-4bfc-b229-393ede415c85}", 3, 0,
                               kLanguageListFields);
const StructDesc kMetadata("Metadata", "{c5f8cbea-5baf-4877-8467-aa8c44fa4cca}", 14, 0,
                           kMetadataFields);
const StructDesc kMetadataLibrary("Metadata Library", "{44231c94-9498-49d1-a141-1d134e457054}", 14,
                                  0, kMetadataLibraryFields);
const StructDesc kStreamPrioritization("Stream Prioritization",
                                       "{d4fed15b-88d3-454f-81f0-ed5c45999e24}", 6, 0,
                                       kStreamPrioritizationFields);
const StructDesc kIndexParameters("Index Parameters", "{d6e229df-35da-11d1-9034-00a0c90349be}", 10,
                                  0, kIndexParametersFields);
const StructDesc kAdvancedMutualExclusion("Advanced Mutual Exclusion",
                                          "{a08649cf-4775-4670-8a16-6e35357566cd}", 18, 0,
                                          kMutualExclusionFields);
const StructDesc kGroupMutualExclusion("Group Mutual Exclusion",
                                       "{d1465a40-5a79-4338-b71b-e36b8fd6c249}", 18, 0,
                                       kGroupMutualExclusionFields);
const StructDesc kBandwidthSharing("Bandwidth Sharing", "{a69609e6-517b-11d2-b6af-00c04fd908e9}",
                                   26, 0, kBandwidthSharingFields);
const StructDesc kMediaObjectIndexParameters("Media Object Index Parameters",
                                             "{6b203bad-3f11-48e4-aca8-d7613de2cfa7}", 10, 0,
                                             kMediaObjectIndexParametersFields);
const StructDesc kTimecodeIndexParameters("Timecode Index Parameters",
                                          "{f55e496d-9797-4b5d-8c8b-604dfe9bfb24}", 10, 0,
                                          kTimecodeIndexParametersFields);
const StructDesc kCompatibility("Compatibility", "{26f18b5d-4584-47ec-9f5f-0e651f0452c9}", 2, 0,
                                kCompatibilityFields);
const StructDesc kAdvancedContentEncryption("Advanced Content Encryption",
                                            "{43058533-6981-49e6-9b74-ad12cb86d58c}", 2, 0,
                                            kAdvancedContentEncryptionFields);
const StructDesc kIndexParameterPlaceholder("Index Parameter Placeholder",
                                            "{d9aade20-7c17-4f9c-bc28-8555dd98e2a2}", 0, 0,
                                            kIndexParameterPlaceholderFields);

// The fixed fields take 32 bytes; a short file's index holds only a few
// entries of 6 bytes each.
const StructDesc kSimpleIndex("Simple Index", "{33000890-e5b1-11cf-89f4-00a0c90349cb}", 32, 0,
                              kSimpleIndexFields);
const StructDesc kIndex("Index", "{d6e229d3-35da-11d1-9034-00a0c90349be}", 26, 0, kIndexFields);
const StructDesc kMediaObjectIndex("Media Object Index", "{feb103f8-12ad-4c64-840f-2a1d2f7ad48c}",
                                   10, 0, kMediaObjectIndexFields);
const StructDesc kTimecodeIndex("Timecode Index", "{3cb73fd0-0c4a-4803-953d-edf7b6228f0c}", 10, 0,
                                kTimecodeIndexFields);

}  // namespace asf
