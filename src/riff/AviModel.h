#pragma once
// The in-memory model of one AVI file: filled while the file is walked (headers,
// the chunks found in every 'movi' list, the index entries) and read by the
// statistics and by the writer of a repaired file.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Per (stream, chunk id) counters.
struct ChunkTypeCounters {
  uint32_t moviChunks = 0;     // chunks found in 'movi' lists
  uint32_t idx1Entries = 0;    // 'idx1' entries
  uint32_t odmlEntries = 0;    // OpenDML index entries (entries in use, for ix## ids)
  uint32_t idx1KeyFrames = 0;  // 'idx1' entries flagged as key frames
  uint32_t zeroSize = 0;       // chunks of size 0 and 'idx1' entries of length 0
};

// How far the scan trusts a chunk it found. A chunk followed by garbled data
// may owe its place to a wrong size: it stays only when an index entry
// names its position and size.
enum class ChunkTrust : uint8_t { kFound, kDoubtful, kConfirmed };

// One chunk found in a 'movi' list (40 bytes: files hold millions of them).
struct MoviEntry {
  uint32_t chunkId = 0;
  uint32_t size = 0;              // payload size
  uint32_t flags = 0;             // flags of the index entry matched to it (0x10 key frame)
  uint16_t segment = 1;           // 1 for 'AVI ', 2 and up for 'AVIX'
  ChunkTrust trust = ChunkTrust::kFound;
  uint64_t offset = 0;            // chunk header offset from the 'movi' list type word
  uint64_t payloadPosition = 0;   // absolute file position of the payload
  std::unique_ptr<std::vector<uint8_t>> ownedPayload;  // only for synthesised chunks
};

// One entry of an 'idx1' or OpenDML standard index.
struct IndexEntry {
  uint16_t segment = 1;
  bool standard = false;          // from an OpenDML standard index ('ix##'), not 'idx1'
  uint32_t size = 0;
  uint32_t flags = 0;             // 0x10 key frame
  uint32_t assignments = 0;       // how often it was matched to a 'movi' chunk
  uint64_t offset = 0;            // payload offset from the 'movi' list type word
  uint64_t payloadPosition = 0;   // absolute file position of the payload
  const char* note = nullptr;     // what was wrong with it (static text), or none
};

constexpr uint32_t kKeyFrameFlag = 0x10;

// The 56-byte 'avih' body, decoded.
struct AviMainHeader {
  uint32_t microSecPerFrame = 0;
  uint32_t maxBytesPerSec = 0;
  uint32_t paddingGranularity = 0;
  uint32_t flags = 0;
  uint32_t totalFrames = 0;
  uint32_t initialFrames = 0;
  uint32_t streams = 0;
  uint32_t suggestedBufferSize = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint32_t reserved[4] = {0, 0, 0, 0};
};

// The 56-byte 'strh' body, decoded.
struct AviStreamHeader {
  uint32_t type = 0;      // FourCC
  uint32_t handler = 0;   // FourCC
  uint32_t flags = 0;
  uint16_t priority = 0;
  uint16_t language = 0;
  uint32_t initialFrames = 0;
  uint32_t scale = 0;
  uint32_t rate = 0;
  uint32_t start = 0;
  uint32_t length = 0;
  uint32_t suggestedBufferSize = 0;
  int32_t quality = -1;
  uint32_t sampleSize = 0;
  int16_t frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
};

struct AviStream {
  std::array<uint8_t, 56> strh{};
  bool strhSeen = false;
  std::vector<uint8_t> strf;
  std::vector<uint8_t> strd;
  std::vector<uint8_t> indx;
  std::string name;
  std::map<uint32_t, ChunkTypeCounters> counters;  // keyed by chunk id
  uint64_t audioBytes = 0;       // payload bytes of its audio chunks
  uint32_t largestChunk = 0;     // largest chunk payload
  uint32_t initialFrames = 0;    // 'movi' chunks before its first one (set by the statistics)
};

struct AviModel {
  // Stream numbers in chunk ids have two decimal digits: stream lists beyond
  // this many could never be addressed by a chunk and are not kept.
  static constexpr size_t kMaxStreams = 100;

  std::array<uint8_t, 56> avih{};
  bool avihSeen = false;
  std::array<uint8_t, 248> dmlh{};
  bool dmlhSeen = false;
  bool bigEndian = false;        // numeric fields of the headers are big-endian (RIFX)
  std::vector<AviStream> streams;
  std::map<uint32_t, std::vector<IndexEntry>> indexMap;
  std::vector<MoviEntry> movi;
  std::vector<AviStream> extraStreams;  // added by a DV type-1 to type-2 conversion
  bool interleaved = false;      // audio and video chunks alternate (set by the statistics)
  // What the header list announces, looked at before it is walked, so that
  // the main header is judged by it: a file without a video stream has no
  // frames for the main header to count, and in an OpenDML file the main
  // header counts the frames of the first segment only.
  bool videoAnnounced = true;  // a video stream header, or no stream header at all
  bool odmlAnnounced = false;  // an OpenDML header list

  AviMainHeader MainHeader() const;
  AviStreamHeader StreamHeader(size_t stream) const;
  static AviMainHeader DecodeMainHeader(const uint8_t* body, bool bigEndian);
  static AviStreamHeader DecodeStreamHeader(const uint8_t* body, bool bigEndian);
  static void EncodeMainHeader(const AviMainHeader& header, uint8_t* body);
  static void EncodeStreamHeader(const AviStreamHeader& header, uint8_t* body);

  // Whether a wave format stores its audio as whole blocks, each one sample
  // of every channel (PCM and IEEE float, plain or as the sub-format of
  // WAVE_FORMAT_EXTENSIBLE), and its block size (nBlockAlign, 0 when the
  // format is too short to hold it).
  static bool IsBlockAudio(const std::vector<uint8_t>& format, bool bigEndian);
  static uint32_t BlockAlign(const std::vector<uint8_t>& format, bool bigEndian);

  // The stream a chunk id belongs to: '##xx' ids carry the number in their
  // first two characters, 'ix##' ids (and any id whose first two characters
  // are not digits) in their last two. -1 when neither pair is two decimal
  // digits or the number is not below `streamCount`.
  static int StreamNumber(uint32_t chunkId, size_t streamCount);
  int StreamNumber(uint32_t chunkId) const { return StreamNumber(chunkId, streams.size()); }
  // The chunk id '##cc' for stream `stream` (0..99) and the two-letter code.
  static uint32_t MakeChunkId(unsigned stream, const char code[2]);
};
