#pragma once
// The fixed-layout chunks of WAVE and AIFF files, described for the
// structure dumper: numbers follow the file's byte order (little-endian in
// RIFF, big-endian in RIFX and IFF).

#include "core/StructDesc.h"

namespace riffforms {

// WAVE: the chunks of the form itself.
extern const StructDesc kWaveFact;
extern const StructDesc kWaveCue;
extern const StructDesc kWavePlaylist;
extern const StructDesc kWaveSampler;
extern const StructDesc kWaveInstrument;
extern const StructDesc kWaveSampleLoops;
extern const StructDesc kWaveMarker;
extern const StructDesc kWaveDirectMusicHeader;
extern const StructDesc kWaveBroadcast;
extern const StructDesc kWaveCart;
// WAVE: the chunks of an associated-data (`adtl`) list and of a `wavl` list.
extern const StructDesc kWaveLabel;
extern const StructDesc kWaveNote;
extern const StructDesc kWaveLabelText;
extern const StructDesc kWaveFile;
extern const StructDesc kWaveSilence;
// AIFF and AIFC.
extern const StructDesc kAiffCommon;
extern const StructDesc kAifcVersion;
extern const StructDesc kAiffApplication;

}  // namespace riffforms
