#pragma once
// The fixed-layout atoms of QuickTime movies and ISO base media (MP4) files,
// described for the structure dumper. Numbers are big-endian. Headers that
// changed with the atom's version have one description per version.

#include "core/StructDesc.h"

namespace mov {

// Movie, track and media headers: version 0 (32-bit times) and version 1
// (64-bit times).
extern const StructDesc kMovieHeader0;
extern const StructDesc kMovieHeader1;
extern const StructDesc kTrackHeader0;
extern const StructDesc kTrackHeader1;
extern const StructDesc kMediaHeader0;
extern const StructDesc kMediaHeader1;
// The edit list inside 'edts': version 0 (32-bit times) and version 1
// (64-bit times).
extern const StructDesc kEdit;
extern const StructDesc kEdit1;
// Media information.
extern const StructDesc kVideoMediaHeader;
extern const StructDesc kSoundMediaHeader;
extern const StructDesc kDataInformation;
// The handler reference: QuickTime's (name with a length byte) and MP4's
// (name as text to the end).
extern const StructDesc kHandlerQuickTime;
extern const StructDesc kHandlerMp4;
extern const StructDesc kSampleDescription;
// User data of QuickTime players.
extern const StructDesc kWindowLocation;
extern const StructDesc kLoop;
extern const StructDesc kSelectionOnly;
extern const StructDesc kAllFrames;

}  // namespace mov
