#pragma once
// The fixed-layout objects of ASF (Windows Media) files, described for the
// structure dumper. All numbers are little-endian. Each description's tag is
// the object's GUID in its lowercase registry form, so the tag is also what
// the object walk dispatches on.

#include "core/StructDesc.h"

namespace asf {

// Children of the Header Object, and the Header Object's own fields.
extern const StructDesc kHeader;
extern const StructDesc kFileProperties;
extern const StructDesc kContentDescription;
extern const StructDesc kStreamProperties;
extern const StructDesc kCodecList;
extern const StructDesc kExtendedContentDescription;
extern const StructDesc kStreamBitrateProperties;
extern const StructDesc kContentEncryption;
extern const StructDesc kExtendedContentEncryption;
extern const StructDesc kDigitalSignature;
extern const StructDesc kScriptCommand;
extern const StructDesc kMarker;
extern const StructDesc kBitrateMutualExclusion;
extern const StructDesc kErrorCorrection;
extern const StructDesc kContentBranding;
extern const StructDesc kHeaderExtension;

// The type-specific data of a stream: its tag is the stream type's GUID.
extern const StructDesc kVideoMedia;
extern const StructDesc kAudioMedia;
// The error-correction data of a stream whose error correction is "spread"
// (audio): the span and the lengths that interleave its packets.
extern const StructDesc kSpreadErrorCorrection;

// Children of the Header Extension Object.
extern const StructDesc kExtendedStreamProperties;
extern const StructDesc kLanguageList;
extern const StructDesc kMetadata;
extern const StructDesc kMetadataLibrary;
extern const StructDesc kStreamPrioritization;
extern const StructDesc kIndexParameters;
extern const StructDesc kAdvancedMutualExclusion;
extern const StructDesc kGroupMutualExclusion;
extern const StructDesc kBandwidthSharing;
extern const StructDesc kMediaObjectIndexParameters;
extern const StructDesc kTimecodeIndexParameters;
extern const StructDesc kCompatibility;
extern const StructDesc kAdvancedContentEncryption;
extern const StructDesc kIndexParameterPlaceholder;

// The index objects that follow the Data Object.
extern const StructDesc kSimpleIndex;
extern const StructDesc kIndex;
extern const StructDesc kMediaObjectIndex;
extern const StructDesc kTimecodeIndex;

}  // namespace asf
