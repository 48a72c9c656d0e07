#pragma once
// The headers of RealMedia files, described for the structure dumper. Every
// number of a RealMedia file is big-endian. A header chunk starts with a
// 10-byte header (id, size, version) that the descriptions leave out.

#include "core/StructDesc.h"

namespace rmf {

// The file header, in its two versions.
extern const StructDesc kFileHeader0;
extern const StructDesc kFileHeader1;
// File properties, one stream's media properties, the content description
// (title, author, copyright, comment) and a stream's seek index.
extern const StructDesc kProperties;
extern const StructDesc kMediaProperties;
extern const StructDesc kContentDescription;
extern const StructDesc kIndex;
// The metadata section's own fields (behind its id and size), and one of its
// properties (a property's sub-properties follow it, each with its own size).
extern const StructDesc kMetadata;
extern const StructDesc kMetadataProperty;
// The header of the data chunk and its packets of version 0 and 1 (behind
// the packet's version and length).
extern const StructDesc kDataHeader;
extern const StructDesc kPacket0;
extern const StructDesc kPacket1;
// The type-specific data of media properties, by MIME type.
extern const StructDesc kRealAudio;
extern const StructDesc kRealVideo;
extern const StructDesc kLogicalFileInfo;

// The sizes of the fixed parts of the audio and video type-specific data;
// what follows them is codec data, shown as bytes.
constexpr uint32_t kRealAudioSize = 48;
constexpr uint32_t kRealVideoSize = 34;

}  // namespace rmf
