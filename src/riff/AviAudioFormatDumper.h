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

class AviAudioFormatDumper {
 public:
  // `streamHeader` is null when the stream has no stream header.
  AviAudioFormatDumper(CParser& parser, const AviStreamHeader* streamHeader)
      : parser_(parser), streamHeader_(streamHeader) {}

  void Dump(const uint8_t* body, uint32_t size, int depth);

 private:
  void CheckTagSize(uint16_t tag, uint16_t extensionSize, const uint8_t* body, uint32_t size,
                    int depth) const;
  void CheckSampleRate(uint16_t tag, uint32_t samplesPerSec, int depth) const;
  void CheckByteRate(uint16_t tag, uint32_t samplesPerSec, uint32_t avgBytesPerSec,
                     uint16_t blockAlign, int depth) const;
  void CheckBlockAlign(uint16_t tag, uint16_t channels, uint16_t blockAlign, uint16_t bitsPerSample,
                       int depth) const;
  void CheckBitsPerSample(uint16_t tag, uint16_t bitsPerSample, int depth) const;
  void CheckBitsDuration(uint16_t tag, uint16_t channels, uint32_t samplesPerSec,
                         uint16_t blockAlign, uint16_t bitsPerSample, int depth) const;
  // The play time of a duration at the stream's rate.
  std::string DurationText(uint32_t milliseconds) const;
  void DumpMpegExtension(const uint8_t* body, uint32_t size, int depth) const;
  void DumpAdpcmExtension(const uint8_t* body, uint32_t size, int depth) const;
  void DumpMpegLayer3Extension(const uint8_t* body, uint32_t size, int depth) const;
  void DumpExtensibleExtension(uint16_t bitsPerSample, const uint8_t* body, uint32_t size,
                               int depth) const;

  CParser& parser_;
  const AviStreamHeader* streamHeader_;
};
