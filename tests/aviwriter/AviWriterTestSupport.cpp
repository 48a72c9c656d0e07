#include "aviwriter/AviWriterTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "aviwriter/AviWriter.h"
#include "riff/CAVIParser.h"

namespace avitest {

// The AVI parser as the tool builds it: a file with an output path goes to
// the writer.
class RepairingAviParser : public CAVIParser {
 public:
  RepairingAviParser(RunOptions options, ReportOutput& output)
      : CAVIParser(std::move(options), output) {
    AviWriter::AttachTo(*this);
  }
};

using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::TextBytes;

namespace {

const ChunkBuilder riff;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

StreamPlan VideoStream(uint32_t scale, uint32_t rate) {
  return {"vids", "DIB ", scale, rate, 0, BitmapFormat(4, 2, 0)};
}

Bytes RawFrame(uint8_t fill) { return Bytes(kRawFrameSize, fill); }

StreamPlan PcmStream(uint32_t samplesPerSecond) {
  return {"auds", std::string("\x01\0\0\0", 4), 2, samplesPerSecond * 2, 2,
          PcmFormat(samplesPerSecond, 1, 16)};
}

Bytes BuildAvi(const std::vector<StreamPlan>& streams, const std::vector<ChunkPlan>& chunks,
               uint32_t microSecPerFrame, bool withIdx1) {
  uint32_t videoFrames = 0;
  for (const ChunkPlan& chunk : chunks) videoFrames += chunk.id[0] == '0' && chunk.id[1] == '0';
  std::vector<Bytes> header = {
      riff.Chunk("avih", AvihBody(microSecPerFrame, withIdx1 ? 0x10 : 0, videoFrames,
                                  static_cast<uint32_t>(streams.size()), 32, 16))};
  for (size_t i = 0; i < streams.size(); ++i) {
    uint32_t length = 0;
    for (const ChunkPlan& chunk : chunks) {
      length += static_cast<uint32_t>(chunk.id[1] - '0') == i;
    }
    header.push_back(riff.List(
        "strl", {riff.Chunk("strh", StrhBody(streams[i].type, streams[i].handler, streams[i].scale,
                                             streams[i].rate, length, streams[i].sampleSize, 0,
                                             streams[i].initialFrames)),
                 riff.Chunk("strf", streams[i].format)}));
  }
  std::vector<Bytes> movi;
  Bytes index;
  uint32_t offset = 4;  // from the 'movi' FourCC
  for (const ChunkPlan& chunk : chunks) {
    movi.push_back(riff.Chunk(chunk.id, chunk.payload));
    index = Concat({index, TextBytes(chunk.id), Le32(chunk.keyFrame ? 0x10 : 0), Le32(offset),
                    Le32(static_cast<uint32_t>(chunk.payload.size()))});
    offset += static_cast<uint32_t>(movi.back().size());
  }
  std::vector<Bytes> body = {riff.List("hdrl", header), riff.List("movi", movi)};
  if (withIdx1) body.push_back(riff.Chunk("idx1", index));
  return riff.Riff("AVI ", body);
}

std::vector<std::string> ProblemLines(const std::vector<std::string>& lines) {
  std::vector<std::string> problems;
  for (const std::string& line : lines) {
    if (line.find("Error: ") != std::string::npos || line.find("Fatal: ") != std::string::npos) {
      problems.push_back(line);
    }
  }
  return problems;
}

RunOptions Quiet() {
  RunOptions options;
  options.report.verbosity = 1;
  return options;
}

testsupport::ParseRun WriteAvi(const std::string& source, const std::string& output,
                               const RunOptions& options) {
  return testsupport::RunParserOnFile<RepairingAviParser>(source, options, nullptr, output);
}

ParsedBack ParseBack(const std::string& path, const RunOptions& options) {
  ParsedBack parsed;
  parsed.run = testsupport::RunParserOnFile<CAVIParser>(path, options, [&](CAVIParser& parser) {
    const AviModel& model = parser.Model();
    parsed.streams = model.streams.size();
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
    }
  });
  return parsed;
}

bool HaveFfmpeg() {
  return ::access("/usr/bin/ffmpeg", X_OK) == 0 && ::access("/usr/bin/ffprobe", X_OK) == 0;
}

std::string RunCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
  std::string text;
  if (!pipe) return "popen failed";
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) text.append(buffer, got);
  return text;
}

std::vector<long> PacketCounts(const std::string& path) {
  std::istringstream text(RunCommand(
      "/usr/bin/ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
      Quoted(path)));
  std::vector<long> counts;
  std::string line;
  while (std::getline(text, line)) counts.push_back(line == "N/A" ? 0 : std::atol(line.c_str()));
  return counts;
}

std::string DecodeComplaints(const std::string& path) {
  return RunCommand("/usr/bin/ffmpeg -nostdin -v error -i " + Quoted(path) + " -f null -");
}

std::string GeneratedCapture() {
  if (!HaveFfmpeg()) return "";
  static testsupport::ScratchDir dir;
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
