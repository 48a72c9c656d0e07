#pragma once
// Reads what a DV video frame (25 Mbit/s, 525/60 or 625/50) says about
// itself: the system, the aspect ratio, the audio sampling rate, the time
// code and the recording date and time, all carried in small 5-byte "packs"
// inside the frame's DIF blocks; and takes the audio samples out of the
// frame's audio DIF blocks as plain PCM.
//
// Frame layout: 10 (525/60, 120000 bytes) or 12 (625/50, 144000 bytes) DIF
// sequences of 150 DIF blocks of 80 bytes. Every block starts with a 3-byte
// id whose first byte names its section: 0x1F header, 0x3F subcode, 0x5X
// video auxiliary (VAUX), 0x7X audio, 0x9X video.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Report.h"

// What the analysis of one frame found. Texts are empty when the frame did
// not carry the pack.
struct DvAnalysis {
  bool is625_50 = false;         // PAL system
  bool wide = false;             // 16:9 picture
  bool hasAudioSource = false;   // an AAUX source pack was found
  uint8_t audioSource = 0;       // its last byte: sampling code in bits 3-5
  std::string timeCode;          // "hh:mm:ss:ff"
  std::string recordDate;        // "yyyy-mm-dd"
  std::string recordTime;        // "hh:mm:ss"
};

class DvFrameAnalyzer {
 public:
  static constexpr size_t kFrameSize525 = 120000;
  static constexpr size_t kFrameSize625 = 144000;

  // Walks the DIF blocks of `frame` and fills `result` (reset first). A frame
  // of any other size than the two above gets an Error and nothing of it is
  // read (false). At verbosity 5 and above every block that gave something
  // is hex-dumped under a line naming its sequence and block number.
  static bool Analyze(const uint8_t* frame, size_t size, DvAnalysis& result,
                      const Report& report, int depth, uint32_t verbosity);

  // The one-line summary: "DV: PAL 4:3 48kHz  TC: 00:00:00:00 Date: ...".
  static std::string SummaryText(const DvAnalysis& analysis);

  // Samples per second named by the AAUX source pack (48000, 44100, 32000),
  // or 0 when there is no pack or its code is not one of these.
  static uint32_t SamplingRate(const DvAnalysis& analysis);

  // Decodes the audio of one frame into interleaved 16-bit little-endian
  // stereo PCM (`pcm` replaced). False with the reason in `why` when the frame
  // has the wrong size, carries no audio source pack, or uses a coding that is
  // not decoded here (12-bit nonlinear, 20-bit).
  static bool ExtractAudio(const uint8_t* frame, size_t size, std::vector<uint8_t>& pcm,
                           std::string& why);
};
