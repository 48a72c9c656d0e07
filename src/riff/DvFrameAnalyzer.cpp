#include "riff/DvFrameAnalyzer.h"

#include <array>

#include "core/ByteReader.h"

namespace {

constexpr size_t kBlockSize = 80;
constexpr size_t kBlocksPerSequence = 150;
constexpr size_t kSequenceSize = kBlockSize * kBlocksPerSequence;  // 12000 bytes

using Block = std::array<uint8_t, kBlockSize>;

// A pack: one id byte and four payload bytes (PC1 to PC4).
struct Pack {
  uint8_t id = 0;
  uint8_t pc1 = 0;
  uint8_t pc2 = 0;
  uint8_t pc3 = 0;
  uint8_t pc4 = 0;
};

constexpr uint8_t kTimeCodePack = 0x13;
constexpr uint8_t kAudioSourcePack = 0x50;
constexpr uint8_t kVideoSourcePack = 0x60;
constexpr uint8_t kVideoControlPack = 0x61;
constexpr uint8_t kRecordDatePack = 0x62;
constexpr uint8_t kRecordTimePack = 0x63;
constexpr uint8_t kNoInformation = 0xFF;  // an unused pack byte

// What the walk looks for. Each item is taken from the first block that
// carries it; the walk ends as soon as all of them are known.
enum FoundItem : unsigned {
  kAudioSourceItem = 1u << 0,
  kHeaderItem = 1u << 1,
  kTimeCodeItem = 1u << 2,
  kDateItem = 1u << 3,
  kTimeItem = 1u << 4,
  kVideoSourceItem = 1u << 5,
  kVideoControlItem = 1u << 6,
  kAllItems = (1u << 7) - 1,
};

// Section of a block, from the first byte of its id (section type in the top
// three bits, then a reserved 1 bit, then the low nibble).
bool IsHeaderBlock(uint8_t id) { return id == 0x1F; }
bool IsSubcodeBlock(uint8_t id) { return id == 0x3F; }
bool IsVideoAuxBlock(uint8_t id) { return (id >> 4) == 0x5; }
bool IsAudioBlock(uint8_t id) { return (id >> 4) == 0x7; }

bool IsDvFrameSize(size_t size) {
  return size == DvFrameAnalyzer::kFrameSize525 || size == DvFrameAnalyzer::kFrameSize625;
}

size_t BlockStart(size_t sequence, size_t number) {
  return (sequence * kBlocksPerSequence + number) * kBlockSize;
}

Block ReadBlock(const uint8_t* frame, size_t size, size_t sequence, size_t number) {
  ByteReader reader(frame, size);
  reader.Seek(BlockStart(sequence, number));
  Block block{};
  reader.CopyTo(block.data(), block.size());
  return block;
}

Pack PackAt(const Block& block, size_t offset) {
  ByteReader reader(block.data(), block.size());
  reader.Seek(offset);
  Pack pack;
  pack.id = reader.U8();
  pack.pc1 = reader.U8();
  pack.pc2 = reader.U8();
  pack.pc3 = reader.U8();
  pack.pc4 = reader.U8();
  return pack;
}

// Two BCD digits. A nibble that is no decimal digit (a damaged or unset pack)
// is shown as its hexadecimal digit, so "3A" rather than a made-up number.
std::string DigitPairText(uint8_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[value >> 4], kDigits[value & 0xF]};
}

// The year byte holds the last two digits in BCD; 00-24 are read as 2000-2024
// and 25-99 as 1925-1999. Comparing the raw byte with 0x25 is the same test
// for valid BCD and still picks a century for a damaged byte.
std::string YearText(uint8_t value) {
  return (value < 0x25 ? "20" : "19") + DigitPairText(value);
}

// Time code pack: PC1 frames, PC2 seconds, PC3 minutes, PC4 hours; the high
// bits of each byte are flags (drop frame, colour frame, binary group flags).
std::string TimeCodeText(const Pack& pack) {
  return DigitPairText(pack.pc4 & 0x3F) + ":" + DigitPairText(pack.pc3 & 0x7F) + ":" +
         DigitPairText(pack.pc2 & 0x7F) + ":" + DigitPairText(pack.pc1 & 0x3F);
}

// Recording date pack: PC1 time zone, PC2 day, PC3 month (the high bits hold
// the day of the week), PC4 year.
std::string RecordDateText(const Pack& pack) {
  return YearText(pack.pc4) + "-" + DigitPairText(pack.pc3 & 0x1F) + "-" +
         DigitPairText(pack.pc2 & 0x3F);
}

// Recording time pack: PC1 frames, PC2 seconds, PC3 minutes, PC4 hours.
std::string RecordTimeText(const Pack& pack) {
  return DigitPairText(pack.pc4 & 0x3F) + ":" + DigitPairText(pack.pc3 & 0x7F) + ":" +
         DigitPairText(pack.pc2 & 0x7F);
}

// The date and time packs come both in the subcode and in the VAUX blocks;
// whichever is met first gives the text.
unsigned TakeDateOrTime(const Pack& pack, unsigned found, DvAnalysis& result) {
  if (pack.id == kRecordDatePack && !(found & kDateItem)) {
    result.recordDate = RecordDateText(pack);
    return kDateItem;
  }
  if (pack.id == kRecordTimePack && !(found & kTimeItem)) {
    result.recordTime = RecordTimeText(pack);
    return kTimeItem;
  }
  return 0;
}

// Header block: bit 7 of byte 3 is the DSF flag, set for 625/50.
unsigned ReadHeaderBlock(const Block& block, unsigned found, DvAnalysis& result) {
  if (found & kHeaderItem) return 0;
  if (block[3] == 0xBF) result.is625_50 = true;
  return kHeaderItem;
}

// Subcode block: six sync blocks of 8 bytes from byte 3, each two id bytes, a
// parity byte and one pack (packs at bytes 6, 14, ..., 46).
unsigned ReadSubcodeBlock(const Block& block, unsigned found, DvAnalysis& result) {
  unsigned gained = 0;
  for (size_t offset = 6; offset < kBlockSize; offset += 8) {
    const Pack pack = PackAt(block, offset);
    if (pack.id == kTimeCodePack && pack.pc1 != kNoInformation &&
        !((found | gained) & kTimeCodeItem)) {
      result.timeCode = TimeCodeText(pack);
      gained |= kTimeCodeItem;
    } else {
      gained |= TakeDateOrTime(pack, found | gained, result);
    }
  }
  return gained;
}

// VAUX block: fifteen packs from byte 3. The source pack (its PC3 bit 5 is
// the 50/60 flag), the source control pack (PC2 bits 0-2 the display mode,
// bit 1 set for 16:9) and the recording date and time sit at bytes 48, 53,
// 58 and 63.
unsigned ReadVideoAuxBlock(const Block& block, unsigned found, DvAnalysis& result) {
  unsigned gained = 0;
  const Pack source = PackAt(block, 48);
  if (source.id == kVideoSourcePack && !(found & kVideoSourceItem)) {
    if (source.pc3 & 0x20) result.is625_50 = true;
    gained |= kVideoSourceItem;
  }
  const Pack control = PackAt(block, 53);
  if (control.id == kVideoControlPack && control.pc1 != kNoInformation &&
      !(found & kVideoControlItem)) {
    result.wide = (control.pc2 & 0x02) != 0;
    gained |= kVideoControlItem;
  }
  gained |= TakeDateOrTime(PackAt(block, 58), found | gained, result);
  gained |= TakeDateOrTime(PackAt(block, 63), found | gained, result);
  return gained;
}

// Audio block: one AAUX pack at byte 3, then 72 bytes of samples. The source
// pack's PC4 holds the sampling code (bits 3-5) and the quantisation (bits
// 0-2).
unsigned ReadAudioBlock(const Block& block, unsigned found, DvAnalysis& result) {
  if (found & kAudioSourceItem) return 0;
  const Pack pack = PackAt(block, 3);
  if (pack.id != kAudioSourcePack || pack.pc3 == kNoInformation) return 0;
  result.hasAudioSource = true;
  result.audioSource = pack.pc4;
  return kAudioSourceItem;
}

unsigned ReadAnyBlock(const Block& block, unsigned found, DvAnalysis& result) {
  const uint8_t id = block[0];
  if (IsHeaderBlock(id)) return ReadHeaderBlock(block, found, result);
  if (IsSubcodeBlock(id)) return ReadSubcodeBlock(block, found, result);
  if (IsVideoAuxBlock(id)) return ReadVideoAuxBlock(block, found, result);
  if (IsAudioBlock(id)) return ReadAudioBlock(block, found, result);
  return 0;
}

// ---- Audio ----------------------------------------------------------------
//
// Each DIF sequence holds nine audio blocks, at block numbers 6, 22, ...,
// 134 (one ahead of every fifteen video blocks). An audio block carries 72
// bytes of samples from byte 8: 36 samples of 16 bits, most significant byte
// first. With two channels, the first channel fills the audio blocks of the
// first half of the sequences (0-4 for 525/60, 0-5 for 625/50) and the
// second channel those of the second half.
//
// The samples of one channel are shuffled over its half so that a lost
// block or sequence costs scattered samples rather than a gap. With H the
// number of sequences in a half (5 or 6), sample n of a frame goes to
//   sequence     (n / 3 + 2 * (n % 3)) % H
//   audio block  3 * (n % 3) + (n % (9 * H)) / (3 * H)
//   byte         8 + 2 * (n / (9 * H))
// so each half has 9 * H * 36 sample places (1620 or 1944).
//
// The number of samples in a frame is the AF_SIZE field of the AAUX source
// pack (PC1 bits 0-5) added to the smallest count the system allows at the
// frame's sampling rate; at 48 kHz in 525/60 frames it alternates between
// 1600 and 1602 so that five frames hold exactly 8008 samples.
//
// A sample of 0x8000 marks an error in the recording; it is passed on as it
// is, as is a block whose id says it is no audio block (left silent).

struct AudioLayout {
  size_t halfSequences;     // sequences per channel
  uint32_t minimumSamples[3];  // by sampling code: 48, 44.1, 32 kHz
};

constexpr AudioLayout kAudioLayout525 = {5, {1580, 1452, 1053}};
constexpr AudioLayout kAudioLayout625 = {6, {1896, 1742, 1264}};

constexpr size_t kAudioBlocksPerSequence = 9;
constexpr size_t kSamplesPerAudioBlock = 36;
constexpr size_t kFirstAudioBlock = 6;
constexpr size_t kAudioBlockSpacing = 16;
constexpr size_t kAudioDataOffset = 8;

size_t AudioBlockNumber(size_t index) { return kFirstAudioBlock + kAudioBlockSpacing * index; }

// The first AAUX source pack in the audio blocks of the first channel's half.
bool FindAudioSource(const uint8_t* frame, size_t size, size_t halfSequences, Pack& source) {
  for (size_t sequence = 0; sequence < halfSequences; ++sequence) {
    for (size_t index = 0; index < kAudioBlocksPerSequence; ++index) {
      const Block block = ReadBlock(frame, size, sequence, AudioBlockNumber(index));
      if (!IsAudioBlock(block[0])) continue;
      const Pack pack = PackAt(block, 3);
      if (pack.id == kAudioSourcePack && pack.pc3 != kNoInformation) {
        source = pack;
        return true;
      }
    }
  }
  return false;
}

bool CheckAudioCoding(const Pack& source, std::string& why) {
  const unsigned quantisation = source.pc4 & 0x07;
  const unsigned samplingCode = (source.pc4 >> 3) & 0x07;
  if (quantisation == 1) {
    why = "12-bit nonlinear DV audio is not supported";
    return false;
  }
  if (quantisation != 0) {
    why = "DV audio quantisation code " + std::to_string(quantisation) + " is not supported";
    return false;
  }
  if (samplingCode > 2) {
    why = "DV audio sampling code " + std::to_string(samplingCode) + " is not supported";
    return false;
  }
  return true;
}

}  // namespace

bool DvFrameAnalyzer::Analyze(const uint8_t* frame, size_t size, DvAnalysis& result,
                              const Report& report, int depth, uint32_t verbosity) {
  result = DvAnalysis();
  if (!IsDvFrameSize(size)) {
    report.Message("Frame size is not DV compliant (144000/120000)", depth, kError);
    return false;
  }
  const size_t sequences = size / kSequenceSize;
  unsigned found = 0;
  for (size_t sequence = 0; sequence < sequences && found != kAllItems; ++sequence) {
    for (size_t number = 0; number < kBlocksPerSequence && found != kAllItems; ++number) {
      const Block block = ReadBlock(frame, size, sequence, number);
      const unsigned gained = ReadAnyBlock(block, found, result);
      if (gained == 0) continue;
      found |= gained;
      if (verbosity >= 5) {
        const int inner = report.PlainLine("SeqNo: " + std::to_string(sequence) +
                                               ", BlockNo: " + std::to_string(number),
                                           depth);
        report.HexDump(block.data(), block.size(), inner, verbosity);
      }
    }
  }
  return true;
}

std::string DvFrameAnalyzer::SummaryText(const DvAnalysis& analysis) {
  std::string text = "DV: ";
  text += analysis.is625_50 ? "PAL " : "NTSC ";
  text += analysis.wide ? "16:9 " : "4:3 ";
  switch (SamplingRate(analysis)) {
    case 48000: text += "48kHz "; break;
    case 44100: text += "44.1kHz "; break;
    case 32000: text += "32kHz "; break;
    default: break;
  }
  if (!analysis.timeCode.empty()) text += " TC: " + analysis.timeCode;
  if (!analysis.recordDate.empty()) text += " Date: " + analysis.recordDate;
  if (!analysis.recordTime.empty()) text += " Time: " + analysis.recordTime;
  return text;
}

uint32_t DvFrameAnalyzer::SamplingRate(const DvAnalysis& analysis) {
  if (!analysis.hasAudioSource) return 0;
  switch ((analysis.audioSource >> 3) & 0x07) {
    case 0: return 48000;
    case 1: return 44100;
    case 2: return 32000;
    default: return 0;
  }
}

bool DvFrameAnalyzer::ExtractAudio(const uint8_t* frame, size_t size, std::vector<uint8_t>& pcm,
                                   std::string& why) {
  pcm.clear();
  if (!IsDvFrameSize(size)) {
    why = "Frame size is not DV compliant (144000/120000)";
    return false;
  }
  const AudioLayout& layout = size == kFrameSize625 ? kAudioLayout625 : kAudioLayout525;
  const size_t half = layout.halfSequences;
  Pack source;
  if (!FindAudioSource(frame, size, half, source)) {
    why = "DV frame carries no audio source pack";
    return false;
  }
  if (!CheckAudioCoding(source, why)) return false;

  const size_t samples = layout.minimumSamples[(source.pc4 >> 3) & 0x07] + (source.pc1 & 0x3F);
  const size_t places = kAudioBlocksPerSequence * half * kSamplesPerAudioBlock;
  if (samples > places) {
    why = "DV audio sample count " + std::to_string(samples) + " exceeds the frame's " +
          std::to_string(places) + " places";
    return false;
  }

  // Which audio blocks really are audio blocks (a damaged frame may not say so).
  std::array<std::array<bool, kAudioBlocksPerSequence>, 12> isAudio{};
  ByteReader reader(frame, size);
  const size_t sequences = size / kSequenceSize;
  for (size_t sequence = 0; sequence < sequences; ++sequence) {
    for (size_t index = 0; index < kAudioBlocksPerSequence; ++index) {
      reader.Seek(BlockStart(sequence, AudioBlockNumber(index)));
      isAudio[sequence][index] = IsAudioBlock(reader.U8());
    }
  }

  const size_t channels = 2;
  pcm.assign(samples * channels * 2, 0);
  for (size_t channel = 0; channel < channels; ++channel) {
    for (size_t n = 0; n < samples; ++n) {
      const size_t sequence = channel * half + (n / 3 + 2 * (n % 3)) % half;
      const size_t index = 3 * (n % 3) + (n % (9 * half)) / (3 * half);
      if (!isAudio[sequence][index]) continue;
      const size_t byte = kAudioDataOffset + 2 * (n / (9 * half));
      reader.Seek(BlockStart(sequence, AudioBlockNumber(index)) + byte);
      const uint16_t sample = reader.U16BE();
      const size_t out = (n * channels + channel) * 2;
      pcm[out] = static_cast<uint8_t>(sample & 0xFF);
      pcm[out + 1] = static_cast<uint8_t>(sample >> 8);
    }
  }
  return true;
}
