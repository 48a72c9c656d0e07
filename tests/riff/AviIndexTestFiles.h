#pragma once
// The AVI builders of all tests: headers, formats and small AVI files (one 'movi'
// list, an editable 'idx1', OpenDML indexes on request) with every chunk's place.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace avitest {

using testsupport::Bytes;
using testsupport::Concat;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::TextBytes;

struct Stream {
  std::string type = "vids";
  std::string handler = "DIB ";
  uint32_t flags = 0;
  uint32_t initialFrames = 0;
  uint32_t scale = 1;
  uint32_t rate = 25;
  uint32_t length = 0;
  uint32_t suggestedBuffer = 0;
  uint32_t sampleSize = 0;
  uint16_t bitCount = 24;           // video format
  uint32_t avgBytesPerSec = 16000;  // audio format (8000 Hz mono 16-bit)
  Bytes extra;                      // more chunks for its stream list
};

struct Chunk {
  std::string id;
  uint32_t size = 0;
  bool key = true;
};

struct Idx1Row {
  std::string id;
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
};

enum class Idx1Kind { kNone, kRelative, kAbsolute };

struct Layout {
  uint32_t mainFlags = 0x10;  // has index
  uint32_t totalFrames = 0;
  std::vector<Stream> streams;
  bool odmlHeader = false;
  uint32_t odmlFrames = 0;
  std::vector<Chunk> chunks;
  bool standardIndexes = false;  // an 'ix##' per stream at the end of 'movi'
  bool superIndexes = true;      // ... and the 'indx' pointing to it
  Bytes moviExtra;               // more chunks at the very end of 'movi'
  Idx1Kind idx1 = Idx1Kind::kRelative;
  std::function<void(std::vector<Idx1Row>&)> editIdx1;
  Bytes idx1Tail;  // bytes after the last 'idx1' row
};

struct Built {
  Bytes bytes;
  uint64_t moviTypePos = 0;       // file position of the 'movi' list type word
  std::vector<uint64_t> offsets;  // chunk header offsets from that word
};

inline Bytes Id(const std::string& text) { return TextBytes((text + "    ").substr(0, 4)); }

// The 56 bytes of a main header ('avih').
inline Bytes AvihBody(uint32_t microSecPerFrame, uint32_t flags, uint32_t frames, uint32_t streams,
                      uint32_t width = 160, uint32_t height = 120) {
  return Concat({Le32(microSecPerFrame), Le32(0), Le32(0), Le32(flags), Le32(frames), Le32(0),
                 Le32(streams), Le32(0), Le32(width), Le32(height), Le32(0), Le32(0), Le32(0),
                 Le32(0)});
}

// The 56 bytes of a stream header ('strh'), quality -1.
inline Bytes StrhBody(const std::string& type, const std::string& handler, uint32_t scale,
                      uint32_t rate, uint32_t length, uint32_t sampleSize = 0, uint32_t flags = 0,
                      uint32_t initialFrames = 0, uint32_t suggestedBuffer = 0, uint16_t right = 0,
                      uint16_t bottom = 0) {
  return Concat({Id(type), Id(handler), Le32(flags), Le16(0), Le16(0), Le32(initialFrames),
                 Le32(scale), Le32(rate), Le32(0), Le32(length), Le32(suggestedBuffer),
                 Le32(0xFFFFFFFF), Le32(sampleSize), Le16(0), Le16(0), Le16(right), Le16(bottom)});
}

// A BITMAPINFOHEADER of 24-bit (or `bitCount`) frames.
inline Bytes BitmapFormat(uint32_t width, uint32_t height, uint32_t compression = 0,
                          uint16_t bitCount = 24) {
  return Concat({Le32(40), Le32(width), Le32(height), Le16(1), Le16(bitCount), Le32(compression),
                 Le32(width * height * 3), Le32(0), Le32(0), Le32(0), Le32(0)});
}

// A PCM WAVEFORMAT with the byte rate and block size that follow from it.
inline Bytes PcmFormat(uint32_t samplesPerSecond, uint16_t channels, uint16_t bits) {
  const uint16_t blockAlign = static_cast<uint16_t>(channels * bits / 8);
  return Concat({Le16(1), Le16(channels), Le32(samplesPerSecond),
                 Le32(samplesPerSecond * blockAlign), Le16(blockAlign), Le16(bits)});
}

inline Bytes MainHeader(const Layout& layout) {
  return AvihBody(40000, layout.mainFlags, layout.totalFrames,
                  static_cast<uint32_t>(layout.streams.size()));
}

inline Bytes StreamHeader(const Stream& s) {
  const bool video = s.type == "vids" || s.type == "iavs";
  return StrhBody(s.type, s.handler, s.scale, s.rate, s.length, s.sampleSize, s.flags,
                  s.initialFrames, s.suggestedBuffer, video ? 160 : 0, video ? 120 : 0);
}

inline Bytes StreamFormat(const Stream& s) {
  if (s.type != "auds") return BitmapFormat(160, 120, 0, s.bitCount);
  return Concat({Le16(1), Le16(1), Le32(8000), Le32(s.avgBytesPerSec), Le16(2), Le16(16)});
}

inline uint32_t StreamOf(const std::string& id) {
  return static_cast<uint32_t>((id[0] - '0') * 10 + (id[1] - '0'));
}

// The id of the first chunk of `stream`, or `otherwise`.
inline std::string FirstChunkId(const Layout& layout, uint32_t stream,
                                const std::string& otherwise) {
  const auto it =
      std::find_if(layout.chunks.begin(), layout.chunks.end(),
                   [stream](const Chunk& chunk) { return StreamOf(chunk.id) == stream; });
  return it == layout.chunks.end() ? otherwise : it->id;
}

// A standard index over the chunks of `stream`, based at the 'movi' list type word.
inline Bytes StandardIndexBody(const Layout& layout, const Built& built, uint32_t stream) {
  std::vector<Bytes> words;  // joined once: a hostile file has 100,000 entries
  for (size_t i = 0; i < layout.chunks.size(); ++i) {
    const Chunk& c = layout.chunks[i];
    if (StreamOf(c.id) != stream) continue;
    words.push_back(Le32(static_cast<uint32_t>(built.offsets[i] + 8)));
    words.push_back(Le32(c.size | (c.key ? 0 : 0x80000000u)));
  }
  return Concat({Le16(2), Bytes{0, 1}, Le32(static_cast<uint32_t>(words.size() / 2)),
                 Id(FirstChunkId(layout, stream, "")),
                 Le32(static_cast<uint32_t>(built.moviTypePos)),
                 Le32(static_cast<uint32_t>(built.moviTypePos >> 32)), Le32(0), Concat(words)});
}

inline std::string IndexChunkId(uint32_t stream) {
  return {'i', 'x', static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10)};
}

// The super index of `stream`: one entry for its standard index.
inline Bytes SuperIndexBody(const Layout& layout, uint32_t stream, uint64_t indexPos,
                            uint32_t indexSize, uint32_t entries) {
  return Concat({Le16(4), Bytes{0, 0}, Le32(1), Id(FirstChunkId(layout, stream, "00dc")), Le32(0),
                 Le32(0), Le32(0), Le32(static_cast<uint32_t>(indexPos)),
                 Le32(static_cast<uint32_t>(indexPos >> 32)), Le32(indexSize), Le32(entries)});
}

inline Built Build(const Layout& layout) {
  const testsupport::ChunkBuilder riff;
  Built built;
  // Pass 1 places everything with the index contents still zero; pass 2
  // fills them in (their sizes do not change).
  std::vector<Bytes> superIndexes(layout.streams.size(), Bytes(24 + 16, 0));
  std::vector<uint64_t> indexPositions(layout.streams.size(), 0);
  std::vector<Bytes> standardBodies(layout.streams.size());
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<Bytes> header = {riff.Chunk("avih", MainHeader(layout))};
    for (size_t s = 0; s < layout.streams.size(); ++s) {
      std::vector<Bytes> list = {riff.Chunk("strh", StreamHeader(layout.streams[s])),
                                 riff.Chunk("strf", StreamFormat(layout.streams[s]))};
      if (layout.standardIndexes && layout.superIndexes) {
        list.push_back(riff.Chunk("indx", superIndexes[s]));
      }
      list.push_back(layout.streams[s].extra);
      header.push_back(riff.List("strl", list));
    }
    if (layout.odmlHeader) {
      header.push_back(riff.List(
          "odml", {riff.Chunk("dmlh", Concat({Le32(layout.odmlFrames), Bytes(244, 0)}))}));
    }
    const Bytes hdrl = riff.List("hdrl", header);
    built.moviTypePos = 12 + hdrl.size() + 8;
    built.offsets.clear();
    std::vector<Bytes> movi;
    uint64_t offset = 4;
    for (const Chunk& chunk : layout.chunks) {
      built.offsets.push_back(offset);
      movi.push_back(riff.Chunk(chunk.id, Bytes(chunk.size, 0x11)));
      offset += movi.back().size();
    }
    for (uint32_t s = 0; layout.standardIndexes && s < layout.streams.size(); ++s) {
      standardBodies[s] = StandardIndexBody(layout, built, s);
      indexPositions[s] = built.moviTypePos + offset;
      movi.push_back(riff.Chunk(IndexChunkId(s), standardBodies[s]));
      offset += movi.back().size();
    }
    movi.push_back(layout.moviExtra);
    std::vector<Bytes> segment = {hdrl, riff.List("movi", movi)};
    if (layout.idx1 != Idx1Kind::kNone) {
      std::vector<Idx1Row> rows;
      const uint64_t base = layout.idx1 == Idx1Kind::kAbsolute ? built.moviTypePos : 0;
      for (size_t i = 0; i < layout.chunks.size(); ++i) {
        const Chunk& c = layout.chunks[i];
        rows.push_back(
            {c.id, c.key ? 0x10u : 0u, static_cast<uint32_t>(base + built.offsets[i]), c.size});
      }
      if (layout.editIdx1) layout.editIdx1(rows);
      std::vector<Bytes> body;
      for (const Idx1Row& r : rows)
        body.insert(body.end(), {Id(r.id), Le32(r.flags), Le32(r.offset), Le32(r.length)});
      body.push_back(layout.idx1Tail);
      segment.push_back(riff.Chunk("idx1", Concat(body)));
    }
    built.bytes = riff.Riff("AVI ", segment);
    if (!layout.standardIndexes) break;
    for (uint32_t s = 0; s < layout.streams.size(); ++s) {
      const uint32_t size = static_cast<uint32_t>(standardBodies[s].size());
      superIndexes[s] = SuperIndexBody(layout, s, indexPositions[s], size + 8, (size - 24) / 8);
    }
  }
  return built;
}

// A video and an audio stream whose headers agree with `chunks`.
inline Layout VideoAudioLayout(const std::vector<Chunk>& chunks) {
  // Audio: 16-bit mono at 8000 Hz in blocks of 2.
  Stream video, audio{"auds", std::string(4, '\0'), 0, 0, 2, 16000, 0, 0, 2, 24, 16000, {}};
  for (const Chunk& chunk : chunks) {
    Stream& stream = StreamOf(chunk.id) == 0 ? video : audio;
    stream.suggestedBuffer = std::max(stream.suggestedBuffer, chunk.size);
    stream.length += &stream == &video ? 1 : chunk.size;  // audio: bytes, then samples
  }
  audio.length /= 2;
  // Has index, interleaved.
  return {0x110, video.length, {video, audio},      false,   0, chunks, false,
          true,  {},           Idx1Kind::kRelative, nullptr, {}};
}

}  // namespace avitest
