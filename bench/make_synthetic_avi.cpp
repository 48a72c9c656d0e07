// Writes a synthetic AVI file for timing the parser on large captures: a
// header list with one MPEG-4 video and one MP3 audio stream, then 'movi'
// lists holding N chunks that alternate between '00dc' and '01wb', split into
// OpenDML segments of at most 1 GiB ('RIFF AVI ' first, 'RIFF AVIX' after it),
// and optionally an 'idx1' index of the first segment and OpenDML indexes.
//
// Payload sizes follow a low-bitrate capture (about 1 Mbit/s): video frames
// of 1-7 KB with a 16 KB key frame every 12 frames, 640-byte audio chunks
// (128 kbit/s per 40 ms frame). The audio is a stream of silent MP3 frames
// (a frame header every 384 bytes) so that other tools count its packets;
// all other payload bytes are zero, and payloads of 64 KiB or more are left
// as holes of a sparse file.
//
// With --odml each stream list holds an 'indx' super index, and every 'movi'
// list ends with standard indexes ('ix00', 'ix01') of at most
// kStandardIndexEntries chunks each; the super index of a stream lists all of
// its standard indexes in file order. Entry offsets of a standard index are
// relative to the 'movi' type word of its list (the base offset) and point at
// the payload; bit 31 of the size marks a frame that is not a key frame.
//
// Usage: make_synthetic_avi OUTPUT CHUNKS [--idx1] [--odml]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kSegmentLimit = uint64_t{1} << 30;
constexpr uint32_t kAudioChunk = 640;
// More than the largest chunk with its header and its index entries.
constexpr uint64_t kChunkRoom = 32 * 1024;
constexpr uint32_t kKeyFrame = 16 * 1024;
constexpr uint32_t kGop = 12;
constexpr uint64_t kHoleThreshold = 64 * 1024;
// MPEG-1 layer III, 128 kbit/s, 48 kHz, stereo: 384 bytes per frame.
constexpr uint8_t kMp3Header[4] = {0xFF, 0xFB, 0x94, 0x00};
constexpr uint64_t kMp3FrameSize = 384;
// Index chunks are kept within 16 KiB, header included, as readers expect:
// a standard index of 2000 entries is 16,040 bytes, and the super index body
// holds 1022 entries of 16 bytes behind its 24-byte header (16,376 bytes).
constexpr uint32_t kStandardIndexEntries = 2000;
constexpr uint32_t kSuperIndexEntries = 1022;
constexpr uint32_t kOdmlHeaderSize = 24;
constexpr uint32_t kSuperIndexBody = kOdmlHeaderSize + kSuperIndexEntries * 16;
constexpr uint32_t kNotKeyFrame = 0x80000000u;
constexpr int kStreams = 2;
constexpr const char* kChunkIds[kStreams] = {"00dc", "01wb"};
constexpr const char* kIndexIds[kStreams] = {"ix00", "ix01"};

// Sequential writer with a large buffer; long zero runs become holes.
class Output {
 public:
  explicit Output(const char* path) {
    fd_ = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd_ < 0) {
      perror(path);
      exit(1);
    }
    buffer_.reserve(kBufferSize);
  }
  ~Output() { Close(); }

  uint64_t Position() const { return position_; }

  void Bytes(const void* data, size_t count) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    position_ += count;
    if (buffer_.size() >= kBufferSize) Flush();
  }
  void U32(uint32_t value) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    Bytes(bytes, 4);
  }
  void U64(uint64_t value) {
    U32(static_cast<uint32_t>(value));
    U32(static_cast<uint32_t>(value >> 32));
  }
  void U8(uint8_t value) { Bytes(&value, 1); }
  void U16(uint16_t value) {
    uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    Bytes(bytes, 2);
  }
  void Id(const char* id) { Bytes(id, 4); }
  void Zeros(uint64_t count) {
    if (count >= kHoleThreshold) {
      Flush();
      position_ += count;
      if (lseek(fd_, static_cast<off_t>(position_), SEEK_SET) < 0) Fail("lseek");
      return;
    }
    buffer_.resize(buffer_.size() + count, 0);
    position_ += count;
    if (buffer_.size() >= kBufferSize) Flush();
  }
  // Overwrites a size word written earlier.
  void Patch(uint64_t at, uint32_t value) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    PatchBytes(at, bytes, 4);
  }
  // Overwrites bytes written earlier (a reserved index, say).
  void PatchBytes(uint64_t at, const void* data, size_t count) {
    Flush();
    if (pwrite(fd_, data, count, static_cast<off_t>(at)) != static_cast<ssize_t>(count)) {
      Fail("pwrite");
    }
  }
  void Close() {
    if (fd_ < 0) return;
    Flush();
    // A trailing hole still needs the file to reach its end.
    if (ftruncate(fd_, static_cast<off_t>(position_)) != 0) Fail("ftruncate");
    close(fd_);
    fd_ = -1;
  }

 private:
  static constexpr size_t kBufferSize = size_t{4} << 20;
  static void Fail(const char* what) {
    perror(what);
    exit(1);
  }
  void Flush() {
    size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n <= 0) Fail("write");
      done += static_cast<size_t>(n);
    }
    buffer_.clear();
  }

  int fd_ = -1;
  uint64_t position_ = 0;
  std::vector<uint8_t> buffer_;
};

// A small deterministic generator for the frame sizes.
uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

uint32_t VideoSize(uint64_t frame, uint32_t& state) {
  if (frame % kGop == 0) return kKeyFrame + NextRandom(state) % 4096;
  return 1024 + NextRandom(state) % 6144;
}

// One chunk of a standard index: payload offset from the base, and size.
struct StandardEntry {
  uint32_t offset;
  uint32_t size;
};

// One standard index as its stream's super index lists it.
struct SuperEntry {
  uint64_t position;  // of the 'ix##' chunk header
  uint32_t size;      // of the whole chunk, header included
  uint32_t duration;  // in the stream's time units
};

// The OpenDML index state of one stream: where its super index body lies,
// the chunks of the current 'movi' list and the standard indexes so far.
struct StreamIndex {
  uint64_t superBodyPosition = 0;
  uint32_t ticksPerChunk = 1;  // video: one frame; audio: bytes (sample size 1)
  std::vector<StandardEntry> pending;
  std::vector<SuperEntry> written;
};

// Bytes the standard indexes of COUNT chunks take.
uint64_t StandardIndexBytes(uint64_t count) {
  const uint64_t chunks = (count + kStandardIndexEntries - 1) / kStandardIndexEntries;
  return chunks * (8 + kOdmlHeaderSize) + count * 8;
}

// A super index with every entry unused; filled in once the file is written.
void WriteSuperIndex(Output& out, int stream, StreamIndex& index) {
  out.Id("indx");
  out.U32(kSuperIndexBody);
  index.superBodyPosition = out.Position();
  out.U16(4);  // longs per entry
  out.U8(0);   // sub type
  out.U8(0);   // index of indexes
  out.U32(0);  // entries in use, patched
  out.Id(kChunkIds[stream]);
  out.Zeros(kSuperIndexBody - 12);
}

// Rewrites the super index body from its entry count on.
void PatchSuperIndex(Output& out, int stream, const StreamIndex& index) {
  std::vector<uint8_t> body(kSuperIndexBody - 4, 0);
  std::memcpy(body.data() + 4, kChunkIds[stream], 4);
  auto put32 = [&body](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) body[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put32(0, static_cast<uint32_t>(index.written.size()));
  for (size_t k = 0; k < index.written.size(); ++k) {
    const SuperEntry& entry = index.written[k];
    const size_t at = kOdmlHeaderSize - 4 + k * 16;
    put32(at, static_cast<uint32_t>(entry.position));
    put32(at + 4, static_cast<uint32_t>(entry.position >> 32));
    put32(at + 8, entry.size);
    put32(at + 12, entry.duration);
  }
  out.PatchBytes(index.superBodyPosition + 4, body.data(), body.size());
}

// The standard indexes of one stream's chunks in the current 'movi' list.
void WriteStandardIndexes(Output& out, int stream, uint64_t baseOffset, StreamIndex& index) {
  const std::vector<StandardEntry>& pending = index.pending;
  for (size_t first = 0; first < pending.size(); first += kStandardIndexEntries) {
    const uint32_t count =
        static_cast<uint32_t>(std::min<size_t>(kStandardIndexEntries, pending.size() - first));
    if (index.written.size() == kSuperIndexEntries) {
      std::fprintf(stderr, "more than %u standard indexes for stream %d\n", kSuperIndexEntries,
                   stream);
      exit(1);
    }
    const uint32_t bodySize = kOdmlHeaderSize + count * 8;
    index.written.push_back({out.Position(), 8 + bodySize, count * index.ticksPerChunk});
    out.Id(kIndexIds[stream]);
    out.U32(bodySize);
    out.U16(2);  // longs per entry
    out.U8(0);   // sub type
    out.U8(1);   // index of chunks
    out.U32(count);
    out.Id(kChunkIds[stream]);
    out.U64(baseOffset);
    out.U32(0);
    for (size_t k = first; k < first + count; ++k) {
      out.U32(pending[k].offset);
      out.U32(pending[k].size);
    }
  }
  index.pending.clear();
}

struct Idx1Entry {
  uint32_t id;
  uint32_t flags;
  uint32_t offset;
  uint32_t size;
};

void WriteHeaderList(Output& out, uint64_t videoFrames, uint64_t audioChunks, bool idx1,
                     StreamIndex* odml) {
  const uint32_t indxSize = odml ? 8 + kSuperIndexBody : 0;
  const uint64_t listStart = out.Position();
  out.Id("LIST");
  out.U32(0);
  out.Id("hdrl");
  // Main header.
  out.Id("avih");
  out.U32(56);
  out.U32(40000);                         // microseconds per frame
  out.U32(300000);                        // max bytes per second
  out.U32(0);                             // padding granularity
  out.U32((idx1 ? 0x10u : 0u) | 0x100u);  // has index, interleaved
  out.U32(static_cast<uint32_t>(videoFrames));
  out.U32(0);
  out.U32(2);      // streams
  out.U32(65536);  // suggested buffer size
  out.U32(720);
  out.U32(576);
  out.Zeros(16);
  // Video stream.
  out.Id("LIST");
  out.U32(4 + 8 + 56 + 8 + 40 + indxSize);
  out.Id("strl");
  out.Id("strh");
  out.U32(56);
  out.Id("vids");
  out.Id("FMP4");
  out.U32(0);
  out.U16(0);
  out.U16(0);
  out.U32(0);
  out.U32(1);
  out.U32(25);
  out.U32(0);
  out.U32(static_cast<uint32_t>(videoFrames));
  out.U32(65536);
  out.U32(0xFFFFFFFF);
  out.U32(0);
  out.U16(0);
  out.U16(0);
  out.U16(720);
  out.U16(576);
  out.Id("strf");
  out.U32(40);
  out.U32(40);
  out.U32(720);
  out.U32(576);
  out.U16(1);
  out.U16(24);
  out.Id("FMP4");
  out.U32(720 * 576 * 3);
  out.Zeros(16);
  if (odml) WriteSuperIndex(out, 0, odml[0]);
  // Audio stream: MP3, 48 kHz stereo, 128 kbit/s.
  out.Id("LIST");
  out.U32(4 + 8 + 56 + 8 + 30 + indxSize);
  out.Id("strl");
  out.Id("strh");
  out.U32(56);
  out.Id("auds");
  out.U32(0);
  out.U32(0);
  out.U16(0);
  out.U16(0);
  out.U32(0);
  out.U32(1);
  out.U32(16000);
  out.U32(0);
  out.U32(static_cast<uint32_t>(audioChunks * kAudioChunk));
  out.U32(kAudioChunk);
  out.U32(0xFFFFFFFF);
  out.U32(1);
  out.Zeros(8);
  out.Id("strf");
  out.U32(30);
  out.U16(0x55);
  out.U16(2);
  out.U32(48000);
  out.U32(16000);
  out.U16(1);
  out.U16(0);
  out.U16(12);
  out.U16(1);     // MPEGLAYER3_ID_MPEG
  out.U32(2);     // padding off
  out.U16(384);   // block size
  out.U16(1);     // frames per block
  out.U16(1393);  // codec delay
  if (odml) WriteSuperIndex(out, 1, odml[1]);
  // OpenDML header with the frames of all segments.
  out.Id("LIST");
  out.U32(4 + 8 + 248);
  out.Id("odml");
  out.Id("dmlh");
  out.U32(248);
  out.U32(static_cast<uint32_t>(videoFrames));
  out.Zeros(244);
  out.Patch(listStart + 4, static_cast<uint32_t>(out.Position() - listStart - 8));
}

}  // namespace

int main(int argc, char** argv) {
  bool withIdx1 = false;
  bool withOdml = false;
  bool usage = argc < 3;
  for (int k = 3; k < argc && !usage; ++k) {
    const std::string option = argv[k];
    if (option == "--idx1") {
      withIdx1 = true;
    } else if (option == "--odml") {
      withOdml = true;
    } else {
      usage = true;
    }
  }
  if (usage) {
    std::fprintf(stderr, "usage: %s OUTPUT CHUNKS [--idx1] [--odml]\n", argv[0]);
    return 2;
  }
  const uint64_t chunks = std::strtoull(argv[2], nullptr, 10);
  const uint64_t videoFrames = (chunks + 1) / 2;
  const uint64_t audioChunks = chunks / 2;

  Output out(argv[1]);
  StreamIndex odml[kStreams];
  odml[1].ticksPerChunk = kAudioChunk;
  uint32_t random = 12345;
  std::vector<Idx1Entry> index;
  uint64_t written = 0;
  uint64_t videoFrame = 0;
  uint64_t audioBytes = 0;
  for (int segment = 0; written < chunks || segment == 0; ++segment) {
    const uint64_t riffStart = out.Position();
    out.Id("RIFF");
    out.U32(0);
    out.Id(segment == 0 ? "AVI " : "AVIX");
    if (segment == 0) {
      WriteHeaderList(out, videoFrames, audioChunks, withIdx1, withOdml ? odml : nullptr);
    }
    const uint64_t moviStart = out.Position();
    out.Id("LIST");
    out.U32(0);
    out.Id("movi");
    const uint64_t typePos = moviStart + 8;
    // The indexes still to come count against the segment limit, and room is
    // left for the next chunk with its index entries, so that no segment
    // exceeds the limit.
    uint64_t indexBytes = 0;
    while (written < chunks &&
           out.Position() + indexBytes + kChunkRoom - riffStart <= kSegmentLimit) {
      const bool video = written % 2 == 0;
      const uint32_t size = video ? VideoSize(videoFrame++, random) : kAudioChunk;
      const bool key = !video || (videoFrame - 1) % kGop == 0;
      if (segment == 0 && withIdx1) {
        index.push_back({video ? 0x63643030u : 0x62773130u, key ? 0x10u : 0u,
                         static_cast<uint32_t>(out.Position() - typePos), size});
      }
      if (withOdml) {
        StreamIndex& stream = odml[video ? 0 : 1];
        stream.pending.push_back({static_cast<uint32_t>(out.Position() + 8 - typePos),
                                  size | (key ? 0u : kNotKeyFrame)});
      }
      indexBytes = (segment == 0 && withIdx1 ? 8 + index.size() * 16 : 0) +
                    StandardIndexBytes(odml[0].pending.size()) +
                    StandardIndexBytes(odml[1].pending.size());
      out.Id(video ? "00dc" : "01wb");
      out.U32(size);
      if (video) {
        out.Zeros(size + (size & 1));
      } else {
        std::vector<uint8_t> audio(size, 0);
        for (uint32_t i = 0; i < size; ++i) {
          const uint64_t at = (audioBytes + i) % kMp3FrameSize;
          if (at < 4) audio[i] = kMp3Header[at];
        }
        audioBytes += size;
        out.Bytes(audio.data(), audio.size());
      }
      ++written;
    }
    if (withOdml) {
      for (int stream = 0; stream < kStreams; ++stream) {
        WriteStandardIndexes(out, stream, typePos, odml[stream]);
      }
    }
    out.Patch(moviStart + 4, static_cast<uint32_t>(out.Position() - moviStart - 8));
    if (segment == 0 && withIdx1) {
      out.Id("idx1");
      out.U32(static_cast<uint32_t>(index.size() * 16));
      for (const Idx1Entry& entry : index) {
        out.U32(entry.id);
        out.U32(entry.flags);
        out.U32(entry.offset);
        out.U32(entry.size);
      }
    }
    out.Patch(riffStart + 4, static_cast<uint32_t>(out.Position() - riffStart - 8));
  }
  if (withOdml) {
    for (int stream = 0; stream < kStreams; ++stream) PatchSuperIndex(out, stream, odml[stream]);
  }
  out.Close();
  return 0;
}
