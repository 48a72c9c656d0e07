#include "mov/MovDescriptions.h"

#include "core/FourCC.h"

namespace mov {
namespace {

using T = FieldType;
constexpr int16_t kHex = kHexFormat;

// Every atom below that is a "full atom" starts with a version byte and 24
// bits of flags. Times are seconds since 1904-01-01; rates and volumes are
// fixed-point numbers (16.16 and 8.8).

// ---------------------------------------------------------------------------
// Movie header: version 0 holds 32-bit times and duration, version 1 64-bit
// ones; the rest is the same.

const FieldDesc kMovieHeader0Fields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::MacDate32, 0, 3, "CreationTime"},
    {T::MacDate32, 0, 3, "ModificationTime"},
    {T::DWord, 0, 3, "Timescale"},
    {T::DWord, 0, 3, "Duration"},
    {T::Fixed16, 0, 3, "PreferredRate"},
    {T::Fixed8, 0, 3, "PreferredVolume"},
    {T::Bytes, 10, 4, "Reserved"},
    {T::Bytes, 36, 4, "Matrix"},
    {T::DWord, 0, 3, "PreviewTime"},
    {T::DWord, 0, 3, "PreviewDuration"},
    {T::DWord, 0, 3, "PosterTime"},
    {T::DWord, 0, 3, "SelectionTime"},
    {T::DWord, 0, 3, "SelectionDuration"},
    {T::DWord, 0, 3, "CurrentTime"},
    {T::DWord, 0, 3, "NextTrackID"},
};

const FieldDesc kMovieHeader1Fields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::MacDate64, 0, 3, "CreationTime"},
    {T::MacDate64, 0, 3, "ModificationTime"},
    {T::DWord, 0, 3, "Timescale"},
    {T::QWord, 0, 3, "Duration"},
    {T::Fixed16, 0, 3, "PreferredRate"},
    {T::Fixed8, 0, 3, "PreferredVolume"},
    {T::Bytes, 10, 4, "Reserved"},
    {T::Bytes, 36, 4, "Matrix"},
    {T::DWord, 0, 3, "PreviewTime"},
    {T::DWord, 0, 3, "PreviewDuration"},
    {T::DWord, 0, 3, "PosterTime"},
    {T::DWord, 0, 3, "SelectionTime"},
    {T::DWord, 0, 3, "SelectionDuration"},
    {T::DWord, 0, 3, "CurrentTime"},
    {T::DWord, 0, 3, "NextTrackID"},
};

// ---------------------------------------------------------------------------
// Track header, again one layout per version.

const ValueName kTrackFlagNames[] = {
    {0x1, "Track Enabled", kFlag},
    {0x2, "Track in Movie", kFlag},
    {0x4, "Track in Preview", kFlag},
    {0x8, "Track in Poster", kFlag},
};
const ValueNameTable kTrackFlags(kBitFlags, kTrackFlagNames);

const FieldDesc kTrackHeader0Fields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags", &kTrackFlags},
    {T::MacDate32, 0, 3, "CreationTime"},
    {T::MacDate32, 0, 3, "ModificationTime"},
    {T::DWord, 0, 3, "TrackID"},
    {T::DWord, 0, 4, "Reserved"},
    {T::DWord, 0, 3, "Duration"},
    {T::Bytes, 8, 4, "Reserved"},
    {T::Word, 0, 3, "Layer"},
    {T::Word, 0, 3, "AlternateGroup"},
    {T::Fixed8, 0, 3, "Volume"},
    {T::Word, 0, 4, "Reserved"},
    {T::Bytes, 36, 4, "MatrixStructure"},
    {T::Fixed16, 0, 3, "TrackWidth"},
    {T::Fixed16, 0, 3, "TrackHeight"},
};

const FieldDesc kTrackHeader1Fields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags", &kTrackFlags},
    {T::MacDate64, 0, 3, "CreationTime"},
    {T::MacDate64, 0, 3, "ModificationTime"},
    {T::DWord, 0, 3, "TrackID"},
    {T::DWord, 0, 4, "Reserved"},
    {T::QWord, 0, 3, "Duration"},
    {T::Bytes, 8, 4, "Reserved"},
    {T::Word, 0, 3, "Layer"},
    {T::Word, 0, 3, "AlternateGroup"},
    {T::Fixed8, 0, 3, "Volume"},
    {T::Word, 0, 4, "Reserved"},
    {T::Bytes, 36, 4, "MatrixStructure"},
    {T::Fixed16, 0, 3, "TrackWidth"},
    {T::Fixed16, 0, 3, "TrackHeight"},
};

// ---------------------------------------------------------------------------
// Media header: the language is a Macintosh language code.

const ValueName kLanguageNames[] = {
    {0, "English", kEnumValue},   {1, "French", kEnumValue}, {2, "German", kEnumValue},
    {3, "Italian", kEnumValue},   {4, "Dutch", kEnumValue},  {5, "Swedish", kEnumValue},
    {6, "Spanish", kEnumValue},   {7, "Danish", kEnumValue}, {8, "Portuguese", kEnumValue},
    {9, "Norwegian", kEnumValue},
};
const ValueNameTable kLanguages(kEnumeration, kLanguageNames);

const FieldDesc kMediaHeader0Fields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::MacDate32, 0, 3, "CreationTime"},
    {T::MacDate32, 0, 3, "ModificationTime"},
    {T::DWord, 0, 3, "Time Scale"},
    {T::DWord, 0, 3, "Duration"},
    {T::Word, 0, 3, "Language", &kLanguages},
    {T::Word, 0, 3, "Quality"},
};

const FieldDesc kMediaHeader1Fields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::MacDate64, 0, 3, "CreationTime"},
    {T::MacDate64, 0, 3, "ModificationTime"},
    {T::DWord, 0, 3, "TimeScale"},
    {T::QWord, 0, 3, "Duration"},
    {T::Word, 0, 3, "Language", &kLanguages},
    {T::Word, 0, 3, "Quality"},
};

// ---------------------------------------------------------------------------
// The edit atom holds one edit list atom: its own size and type, then a
// count of 12-byte entries.

const FieldDesc kEditFields[] = {
    {T::DWord, 0, 3, "Size"},
    {T::FourCC, 0, 3, "Type"},
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::DWord, 0, 3, "NumberOfEntries"},
    {T::ItemArray, -1, 3, "EditList"},
    {T::DWord, 0, 3, "TrackDuration"},
    {T::DWord, 0, 4, "MediaTime"},
    {T::Fixed16, 0, 3, "MediaRate"},
};
// Version 1 of the edit list: 64-bit duration and media time.
const FieldDesc kEdit1Fields[] = {
    {T::DWord, 0, 3, "Size"},
    {T::FourCC, 0, 3, "Type"},
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::DWord, 0, 3, "NumberOfEntries"},
    {T::ItemArray, -1, 3, "EditList"},
    {T::QWord, 0, 3, "TrackDuration"},
    {T::QWord, 0, 4, "MediaTime"},
    {T::Fixed16, 0, 3, "MediaRate"},
};

// ---------------------------------------------------------------------------
// Media information headers.

const ValueName kVideoFlagNames[] = {
    {0x1, "No Lean Ahead (Quicktime 1.0 incompatible)", kFlag},
};
const ValueNameTable kVideoFlags(kBitFlags, kVideoFlagNames);

// The transfer mode the track is drawn with; the blend and transparent modes
// take the colour that follows.
const ValueName kGraphicsModeNames[] = {
    {0, "Copy", kEnumValue},
    {0x40, "Dither Copy", kEnumValue},
    {0x20, "Blend (Opcolor)", kEnumValue},
    {0x24, "Transparent (Opcolor)", kEnumValue},
    {0x100, "Straight Alpha", kEnumValue},
    {0x101, "Premul White Alpha", kEnumValue},
    {0x102, "Premul Black Alpha", kEnumValue},
    {0x104, "Straight Alpha Blend (Opcolor)", kEnumValue},
    {0x103, "Composition (Dither Copy)", kEnumValue},
};
const ValueNameTable kGraphicsModes(kEnumeration, kGraphicsModeNames);

const FieldDesc kVideoMediaHeaderFields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags", &kVideoFlags},
    {T::Word, kHex, 3, "GraphicsMode", &kGraphicsModes},
    {T::Word, kHex, 3, "OpcolorRed"},
    {T::Word, kHex, 3, "OpcolorGreen"},
    {T::Word, kHex, 3, "OpcolorBlue"},
};

const FieldDesc kSoundMediaHeaderFields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::Fixed8, 0, 3, "Balance"},
    {T::Word, kHex, 3, "Reserved"},
};

// The data information atom holds one data reference atom: its size and
// type, a count, then entries that each carry their own size, so an entry's
// data runs to the end of that size.
const ValueName kDataReferenceFlagNames[] = {{0x1, "Self Reference", kFlag}};
const ValueNameTable kDataReferenceFlags(kBitFlags, kDataReferenceFlagNames);

const FieldDesc kDataInformationFields[] = {
    {T::DWord, 0, 3, "Size"},
    {T::FourCC, 0, 3, "Type"},
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::DWord, 0, 3, "NumberOfEntries"},
    {T::ItemArray, -1, 3, "DataReferences"},
    {T::DWord, 0, 3, "Size"},
    {T::FourCC, 0, 3, "Type"},
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags", &kDataReferenceFlags},
    {T::BytesRest, -4, 3, "Data"},
};

// ---------------------------------------------------------------------------
// Handler reference. QuickTime stores the component name with a length byte
// in front; MP4 stores it as text up to a terminator (or the atom's end).

const ValueName kComponentTypeNames[] = {
    {FourCC("mhlr"), "Media Handler", kEnumValue},
    {FourCC("dhlr"), "Data Handler", kEnumValue},
};
const ValueNameTable kComponentTypes(kEnumeration, kComponentTypeNames);

const ValueName kComponentSubtypeNames[] = {
    {FourCC("vide"), "Video", kEnumValue},
    {FourCC("soun"), "Audio", kEnumValue},
    {FourCC("alis"), "Alias", kEnumValue},
    {FourCC("odsm"), "Object Descriptor", kEnumValue},
    {FourCC("crsm"), "Clock Reference", kEnumValue},
    {FourCC("sdsm"), "Scene Description", kEnumValue},
    {FourCC("m7sm"), "MPEG-7 Stream", kEnumValue},
    {FourCC("ocsm"), "Object Content Info", kEnumValue},
    {FourCC("ipsm"), "IPMP", kEnumValue},
    {FourCC("mjsm"), "MPEG-J", kEnumValue},
};
const ValueNameTable kComponentSubtypes(kEnumeration, kComponentSubtypeNames);

const FieldDesc kHandlerMp4Fields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::FourCC, 0, 3, "ComponentType", &kComponentTypes},
    {T::FourCC, 0, 3, "ComponentSubtype", &kComponentSubtypes},
    {T::FourCC, 0, 3, "ComponentManufacturer"},
    {T::DWord, kHex, 3, "ComponentFlags"},
    {T::DWord, kHex, 3, "ComponentFlagsMask"},
    {T::AString, 0, 3, "ComponentName"},
};

const FieldDesc kHandlerQuickTimeFields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::FourCC, 0, 3, "ComponentType", &kComponentTypes},
    {T::FourCC, 0, 3, "ComponentSubtype", &kComponentSubtypes},
    {T::FourCC, 0, 3, "ComponentManufacturer"},
    {T::DWord, kHex, 3, "ComponentFlags"},
    {T::DWord, kHex, 3, "ComponentFlagsMask"},
    {T::Byte, 0, 4, "ComponentNameLength"},
    {T::AString, -1, 3, "ComponentName"},
};

// ---------------------------------------------------------------------------
// Sample description: a count of entries, each sized by its first word; what
// follows the common fields depends on the data format and is shown as bytes.

const FieldDesc kSampleDescriptionFields[] = {
    {T::Byte, 0, 3, "Version"},
    {T::Word24, kHex, 3, "Flags"},
    {T::DWord, 0, 3, "NumberOfEntries"},
    {T::ItemArray, -1, 3, "Descriptions"},
    {T::DWord, 0, 3, "Size"},
    {T::FourCC, 0, 3, "DataFormat"},
    {T::Bytes, 6, 3, "Reserved"},
    {T::Word, 0, 3, "DataReferenceIndex"},
    {T::BytesRest, -4, 3, "AdditionalData"},
};

// ---------------------------------------------------------------------------
// User data that QuickTime players keep about how a movie is shown.

const FieldDesc kWindowLocationFields[] = {
    {T::Word, 0, 3, "PosX"},
    {T::Word, 0, 3, "PosY"},
};

const FieldDesc kLoopFields[] = {{T::DWord, 0, 3, "Indicator"}};
const FieldDesc kByteIndicatorFields[] = {{T::Byte, 0, 3, "Indicator"}};

}  // namespace

const StructDesc kMovieHeader0("Movie Header", "'mvhd'", 100, 100, kMovieHeader0Fields);
const StructDesc kMovieHeader1("Movie Header", "'mvhd'", 112, 112, kMovieHeader1Fields);
const StructDesc kTrackHeader0("Track Header", "'tkhd'", 84, 84, kTrackHeader0Fields);
const StructDesc kTrackHeader1("Track Header", "'tkhd'", 96, 96, kTrackHeader1Fields);
const StructDesc kMediaHeader0("Media Header", "'mdhd'", 24, 24, kMediaHeader0Fields);
const StructDesc kMediaHeader1("Media Header", "'mdhd'", 36, 36, kMediaHeader1Fields);
const StructDesc kEdit("Edit", "'edts'", 16, 0, kEditFields);
const StructDesc kEdit1("Edit", "'edts'", 16, 0, kEdit1Fields);
const StructDesc kVideoMediaHeader("Video Media Information Header", "'vmhd'", 12, 12,
                                   kVideoMediaHeaderFields);
const StructDesc kSoundMediaHeader("Sound Media Information Header", "'smhd'", 8, 8,
                                   kSoundMediaHeaderFields);
const StructDesc kDataInformation("Data Information", "'dinf'", 16, 0, kDataInformationFields);
const StructDesc kHandlerQuickTime("Handler Reference", "'hdlr'", 25, 0, kHandlerQuickTimeFields);
const StructDesc kHandlerMp4("Handler Reference", "'hdlr'", 25, 0, kHandlerMp4Fields);
const StructDesc kSampleDescription("Sample Description", "'stsd'", 8, 0, kSampleDescriptionFields);
const StructDesc kWindowLocation("Window Location", "'WLOC'", 4, 4, kWindowLocationFields);
const StructDesc kLoop("Loop", "'LOOP'", 4, 4, kLoopFields);
const StructDesc kSelectionOnly("Selection Only", "'SelO'", 1, 1, kByteIndicatorFields);
const StructDesc kAllFrames("All Frames", "'AllF'", 1, 1, kByteIndicatorFields);

}  // namespace mov
