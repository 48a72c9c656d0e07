#pragma once
// Helpers of the AVI writer tests: built AVI files, write runs, parse-backs, and
// ffmpeg as a second opinion on whether a written file plays.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "aviwriter/AviWriter.h"
#include "core/RunOptions.h"
#include "riff/AviIndexTestFiles.h"
#include "riff/AviModel.h"
#include "riff/CAVIParser.h"

namespace avitest {

using namespace testsupport;

// One stream of a built AVI file.
struct StreamPlan {
  std::string type, handler;  // "vids" or "auds"; four characters
  uint32_t scale = 1, rate = 25, sampleSize = 0;
  Bytes format;
  uint32_t initialFrames = 0;
};

// A 'movi' chunk; an empty id puts the payload there bare, unindexed (garbage).
struct ChunkPlan {
  std::string id;  // "00dc", "01wb", ...
  Bytes payload;
  bool keyFrame = true;
};

// The AVI parser as the tool builds it: with an output path it writes.
class RepairingAviParser : public CAVIParser {
 public:
  RepairingAviParser(RunOptions options, ReportOutput& output)
      : CAVIParser(std::move(options), output) {
    AviWriter::AttachTo(*this);
  }
};

inline std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Uncompressed 24-bit frames of 4 x 2 pixels: any 24 bytes decode.
constexpr size_t kRawFrameSize = 24;
inline StreamPlan VideoStream(uint32_t scale = 1, uint32_t rate = 25) {
  return {"vids", "DIB ", scale, rate, 0, BitmapFormat(4, 2, 0)};
}

inline Bytes RawFrame(uint8_t fill = 0x40) { return Bytes(kRawFrameSize, fill); }

inline StreamPlan PcmStream(uint32_t samplesPerSecond = 8000) {
  return {"auds", std::string("\x01\0\0\0", 4),      2, samplesPerSecond * 2,
          2,      PcmFormat(samplesPerSecond, 1, 16)};
}

// A RIFF 'AVI ' file: header list, one 'movi' list and, if asked, an 'idx1'.
inline Bytes BuildAvi(const std::vector<StreamPlan>& streams, const std::vector<ChunkPlan>& chunks,
                      uint32_t microSecPerFrame = 40000, bool withIdx1 = true) {
  const ChunkBuilder riff;
  std::vector<uint32_t> lengths(streams.size() + 1, 0);  // the last: what is no stream's
  for (const ChunkPlan& chunk : chunks) {
    ++lengths[chunk.id.empty() ? streams.size()
                               : std::min<size_t>(chunk.id[1] - '0', streams.size())];
  }
  std::vector<Bytes> header = {
      riff.Chunk("avih", AvihBody(microSecPerFrame, withIdx1 ? 0x10 : 0, lengths[0],
                                  static_cast<uint32_t>(streams.size()), 32, 16))};
  for (size_t i = 0; i < streams.size(); ++i) {
    const StreamPlan& s = streams[i];
    header.push_back(riff.List(
        "strl", {riff.Chunk("strh", StrhBody(s.type, s.handler, s.scale, s.rate, lengths[i],
                                             s.sampleSize, 0, s.initialFrames)),
                 riff.Chunk("strf", s.format)}));
  }
  std::vector<Bytes> movi;
  Bytes index;
  uint32_t offset = 4;  // from the 'movi' FourCC
  for (const ChunkPlan& chunk : chunks) {
    const Bytes& payload = chunk.payload;
    movi.push_back(chunk.id.empty() ? payload : riff.Chunk(chunk.id, payload));
    if (!chunk.id.empty()) {
      index = Concat({index, TextBytes(chunk.id), Le32(chunk.keyFrame ? 0x10 : 0), Le32(offset),
                      Le32(static_cast<uint32_t>(payload.size()))});
    }
    offset += static_cast<uint32_t>(movi.back().size());
  }
  std::vector<Bytes> body = {riff.List("hdrl", header), riff.List("movi", movi)};
  if (withIdx1) body.push_back(riff.Chunk("idx1", index));
  return riff.Riff("AVI ", body);
}

inline void PutU32(Bytes& bytes, uint64_t at, uint32_t value) {
  const Bytes le = Le32(value);
  std::copy(le.begin(), le.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// Lines of a report that carry an Error or a Fatal message.
inline std::vector<std::string> ProblemLines(const std::vector<std::string>& lines) {
  std::vector<std::string> problems;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(problems), [](const std::string& l) {
    return l.find("Error: ") != std::string::npos || l.find("Fatal: ") != std::string::npos;
  });
  return problems;
}

struct ParsedBack {
  ParseRun run;
  std::map<std::string, uint32_t> chunks;          // 'movi' entries per chunk id
  std::map<uint16_t, uint32_t> entriesPerSegment;  // 'movi' entries per RIFF segment
  std::map<std::string, uint64_t> payloadBytes;    // per chunk id
  std::vector<uint64_t> headerPositions;           // of the first segment's chunks
  AviMainHeader main;
  std::vector<AviStreamHeader> headers;
  std::vector<Bytes> formats;
};

// Options for writer runs: parse lines only.
inline RunOptions Quiet() {
  RunOptions options;
  options.report.verbosity = 1;
  return options;
}

inline ParseRun WriteAvi(const std::string& source, const std::string& output,
                         const RunOptions& options = Quiet()) {
  return RunParserOnFile<RepairingAviParser>(source, options, nullptr, output);
}

inline ParsedBack ParseBack(const std::string& path, const RunOptions& options = RunOptions()) {
  ParsedBack parsed;
  parsed.run = RunParserOnFile<CAVIParser>(path, options, [&](CAVIParser& parser) {
    const AviModel& model = parser.Model();
    parsed.main = model.MainHeader();
    for (size_t stream = 0; stream < model.streams.size(); ++stream) {
      parsed.headers.push_back(model.StreamHeader(stream));
      parsed.formats.push_back(model.streams[stream].strf);
    }
    for (const MoviEntry& entry : model.movi) {
      const std::string id(reinterpret_cast<const char*>(&entry.chunkId), 4);
      ++parsed.chunks[id];
      parsed.payloadBytes[id] += entry.size;
      ++parsed.entriesPerSegment[entry.segment];
      if (entry.segment == 1) parsed.headerPositions.push_back(entry.payloadPosition - 8);
    }
  });
  return parsed;
}

// ffmpeg as a second opinion; the tests that use it are skipped without it.
inline bool HaveFfmpeg() {
  return ::access("/usr/bin/ffmpeg", X_OK) == 0 && ::access("/usr/bin/ffprobe", X_OK) == 0;
}

using testsupport::RunCommand;

// Packets per stream as ffprobe counts them (none without ffmpeg).
inline std::vector<long> PacketCounts(const std::string& path) {
  if (!HaveFfmpeg()) return {};
  std::istringstream text(RunCommand(
      "/usr/bin/ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
      Quoted(path)));
  std::vector<long> counts;
  std::string line;
  while (std::getline(text, line)) counts.push_back(line == "N/A" ? 0 : std::atol(line.c_str()));
  return counts;
}

// What ffmpeg complains about while it decodes the whole file (empty: nothing).
inline std::string DecodeComplaints(const std::string& path) {
  return RunCommand("/usr/bin/ffmpeg -nostdin -v error -i " + Quoted(path) + " -f null -");
}

// An MJPEG + PCM file of about 3 MB made by ffmpeg, or "" without ffmpeg.
inline std::string GeneratedCapture() {
  if (!HaveFfmpeg()) return "";
  static ScratchDir dir;
  const std::string path = dir.File("capture.avi");
  if (::access(path.c_str(), R_OK) != 0) {
    RunCommand(
        "/usr/bin/ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=480x360:rate=25:duration=7 "
        "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=7 -c:v mjpeg -q:v 1 "
        "-pix_fmt yuvj420p -c:a pcm_s16le -ac 1 " +
        Quoted(path));
  }
  return ::access(path.c_str(), R_OK) == 0 ? path : "";
}

}  // namespace avitest
