#pragma once
// Helpers of the AVI writer tests: AVI files built from bytes, a write run
// through the parser, the written file parsed back, and ffmpeg as a second
// opinion on whether the written file plays.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/RunOptions.h"
#include "riff/AviIndexTestFiles.h"
#include "riff/AviModel.h"

namespace avitest {

using testsupport::Bytes;

// One stream of a built AVI file.
struct StreamPlan {
  std::string type;     // "vids", "auds"
  std::string handler;  // four characters
  uint32_t scale = 1;
  uint32_t rate = 25;
  uint32_t sampleSize = 0;
  Bytes format;
  uint32_t initialFrames = 0;
};

struct ChunkPlan {
  std::string id;  // "00dc", "01wb", ...
  Bytes payload;
  bool keyFrame = true;
};

// Uncompressed 24-bit frames of 4 x 2 pixels: any payload of this size is a
// frame a player decodes.
constexpr size_t kRawFrameSize = 24;
StreamPlan VideoStream(uint32_t scale = 1, uint32_t rate = 25);
Bytes RawFrame(uint8_t fill = 0x40);
StreamPlan PcmStream(uint32_t samplesPerSecond = 8000);

// A RIFF 'AVI ' file: header list, one 'movi' list and, when asked, an
// 'idx1' index of all chunks with their key-frame flags.
Bytes BuildAvi(const std::vector<StreamPlan>& streams, const std::vector<ChunkPlan>& chunks,
               uint32_t microSecPerFrame = 40000, bool withIdx1 = true);

using testsupport::FindToken;
using testsupport::ReadFile;
using testsupport::TokenAt;
using testsupport::U16At;
using testsupport::U32At;

// Lines of a report that carry an Error or a Fatal message.
std::vector<std::string> ProblemLines(const std::vector<std::string>& lines);

// The parse of a written file.
struct ParsedBack {
  testsupport::ParseRun run;
  std::map<std::string, uint32_t> chunks;            // 'movi' entries per chunk id
  std::map<uint16_t, uint32_t> entriesPerSegment;     // 'movi' entries per RIFF segment
  std::map<std::string, uint64_t> payloadBytes;       // per chunk id
  size_t streams = 0;
  AviMainHeader main;
  std::vector<AviStreamHeader> headers;
  std::vector<Bytes> formats;
};

// Parses `source` and writes `output` with `options`.
// Options for writer runs: parse lines only.
RunOptions Quiet();
testsupport::ParseRun WriteAvi(const std::string& source, const std::string& output,
                               const RunOptions& options = RunOptions());
ParsedBack ParseBack(const std::string& path, const RunOptions& options = RunOptions());

using testsupport::Installed;
// ffmpeg as a second opinion; the tests that use it are skipped without it.
bool HaveFfmpeg();
std::string RunCommand(const std::string& command);
// Packets per stream as ffprobe counts them.
std::vector<long> PacketCounts(const std::string& path);
// What ffmpeg complains about while it decodes the whole file (empty: nothing).
std::string DecodeComplaints(const std::string& path);
// An MJPEG + PCM file of about 3 MB made by ffmpeg, or "" without ffmpeg.
std::string GeneratedCapture();

}  // namespace avitest
