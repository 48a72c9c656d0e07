#pragma once
// Dumps and checks the WAVEFORMATEX family of an audio stream's 'strf' chunk
// (PCM, ADPCM, MPEG-1, MPEG layer 3, WAVEFORMATEXTENSIBLE) against itself and
// against the stream header of the same stream. Every check reports and
// continues; a body shorter than its structure is dumped over the bytes
// present.

#include <cstddef>
#include <cstdint>
#include <string>

#include "riff/AviModel.h"

class CParser;
class StructureHooks;
struct StructDesc;

class AviAudioFormatDumper {
 public:
  // `streamHeader` is null when the stream has no stream header.
  AviAudioFormatDumper(CParser& parser, const AviStreamHeader* streamHeader)
      : parser_(parser), streamHeader_(streamHeader) {}

  void Dump(const uint8_t* body, uint32_t size, int depth);

 private:
  void Interpret(const StructDesc& desc, const uint8_t* body, uint32_t size, int depth,
                 const StructureHooks* hooks) const;
  void DumpAdpcmExtension(const uint8_t* body, uint32_t size, int depth) const;

  CParser& parser_;
  const AviStreamHeader* streamHeader_;
};
