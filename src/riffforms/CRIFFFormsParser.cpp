#include "riffforms/CRIFFFormsParser.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "core/FourCC.h"
#include "riff/AviAudioFormatDumper.h"
#include "riffforms/RiffFormDescriptions.h"

namespace {

constexpr uint32_t kRiffId = FourCC("RIFF");
constexpr uint32_t kRifxId = FourCC("RIFX");
constexpr uint32_t kFormId = FourCC("FORM");
constexpr uint32_t kListId = FourCC("LIST");
constexpr uint32_t kCatId = FourCC("CAT ");
constexpr uint32_t kPropId = FourCC("PROP");
constexpr uint32_t kMidiHeaderId = FourCC("MThd");
constexpr uint32_t kInfoId = FourCC("INFO");
constexpr uint32_t kAdtlId = FourCC("adtl");
constexpr uint32_t kWavlId = FourCC("wavl");

// A format chunk is a few dozen bytes and a described chunk rarely more than
// a few kilobytes; a larger one is read this far (a format) or reported and
// skipped (a description), so that a size word cannot claim the memory.
constexpr uint32_t kMaxFormatBody = 1u << 16;
constexpr uint32_t kMaxDescribedBody = 1u << 20;
// What force-feedback effect files carry between their form type and their
// chunks.
constexpr uint32_t kForceFeedbackPrefix = 16;

struct Described {
  uint32_t token;
  const StructDesc* desc;
};
const Described kDescribed[] = {
    {FourCC("fact"), &riffforms::kWaveFact},
    {FourCC("cue "), &riffforms::kWaveCue},
    {FourCC("plst"), &riffforms::kWavePlaylist},
    {FourCC("smpl"), &riffforms::kWaveSampler},
    {FourCC("inst"), &riffforms::kWaveInstrument},
    {FourCC("wsmp"), &riffforms::kWaveSampleLoops},
    {FourCC("mark"), &riffforms::kWaveMarker},
    {FourCC("wavh"), &riffforms::kWaveDirectMusicHeader},
    {FourCC("bext"), &riffforms::kWaveBroadcast},
    {FourCC("cart"), &riffforms::kWaveCart},
    {FourCC("labl"), &riffforms::kWaveLabel},
    {FourCC("note"), &riffforms::kWaveNote},
    {FourCC("ltxt"), &riffforms::kWaveLabelText},
    {FourCC("file"), &riffforms::kWaveFile},
    {FourCC("slnt"), &riffforms::kWaveSilence},
    {FourCC("COMM"), &riffforms::kAiffCommon},
    {FourCC("FVER"), &riffforms::kAifcVersion},
    {FourCC("APPL"), &riffforms::kAiffApplication},
};

struct Named {
  uint32_t token;
  const char* name;
};
// Chunks shown by their header line and skipped.
const Named kSkipped[] = {
    {FourCC("mpeg"), "WAVE EBU MPEG-extension data Chunk"},
    {FourCC("wavu"), "WAVE ??? Chunk"},
    {FourCC("alia"), "WAVE ??? Chunk"},
    {FourCC("COMT"), "AIFF Comment Chunk"},
    {FourCC("SSND"), "AIFF Sound Data Chunk"},
    {FourCC("MARK"), "AIFF Marker Chunk"},
    {FourCC("INST"), "AIFF Instrument Chunk"},
    {FourCC("MIDI"), "AIFF Midi Data Chunk"},
    {FourCC("AESD"), "AIFF Audio Recording Chunk"},
    {FourCC("CHAN"), "AIFF Channel Chunk"},
    {FourCC("VHDR"), "8SVX Header Chunk"},
    {FourCC("BODY"), "8SVX Body Chunk"},
    {FourCC("MTrk"), "Midi Track Chunk"},
};
// IFF text chunks.
const Named kTexts[] = {
    {FourCC("AUTH"), "AIFF Author Chunk"},
    {FourCC("NAME"), "AIFF Name Chunk"},
    {FourCC("(c) "), "AIFF Copyright Chunk"},
    {FourCC("ANNO"), "AIFF Annotation Chunk"},
};

template <class Entry, size_t N>
const Entry* Lookup(const Entry (&table)[N], uint32_t token) {
  for (const Entry& entry : table) {
    if (entry.token == token) return &entry;
  }
  return nullptr;
}

// The forms this parser walks: header line, the form's name in the verdict
// (null keeps the name found before), and the walker.
enum class Walker { kWave, kMidi, kIffAudio, kForceFeedback, kGeneric };
struct FormKind {
  uint32_t token;  // the form type
  const char* lineName;
  const char* typeText;
  Walker walker;
};
const FormKind kForms[] = {
    {FourCC("WAVE"), "RIFF WAVE Chunk", ".WAV (Wave)", Walker::kWave},
    {FourCC("RMID"), "RIFF Midi Chunk", ".MID (Midi)", Walker::kMidi},
    {FourCC("AIFF"), "Audio Interchange File Format Chunk", "AIFF (Audio Interchange)",
     Walker::kIffAudio},
    {FourCC("AIFC"), "Audio Interchange File Format - Compressed Chunk",
     "AIFC (Audio Interchange Compressed)", Walker::kIffAudio},
    {FourCC("8SVX"), "Audio 8-bit Sampled Sound Format Chunk", "8SVX (8-Bit Sampled Sound)",
     Walker::kIffAudio},
    {FourCC("    "), "Interchange File Format Bag Chunk", nullptr, Walker::kIffAudio},
    {FourCC("FORC"), "RIFF MS DirectInput Force Feedback Effect Chunk", nullptr,
     Walker::kForceFeedback},
};
const FormKind kOtherForm = {0, "RIFF Unknown Chunk", nullptr, Walker::kGeneric};

}  // namespace

CRIFFFormsParser::CRIFFFormsParser(RunOptions options, ReportOutput& output)
    : CRIFFParser(std::move(options), output) {
  sizeMismatchEnd_ = ")!";
}

std::string CRIFFFormsParser::FormVerdict() const {
  return (bigEndian_ ? "This is a valid RIFF file in Network byte order of type "
                     : "This is a valid RIFF file of type ") +
         formType_ + ".";
}

bool CRIFFFormsParser::HandleTopLevelToken(uint32_t token, int depth, bool& formSeen) {
  if (token != kMidiHeaderId) return false;
  // A Standard MIDI File: big-endian numbers and no pad bytes; its chunks are
  // walked from the header on.
  if (!options_.scan.ByteOrderForced()) bigEndian_ = true;
  wordAligned_ = false;
  formSeen = true;
  if (Skip(-4, true)) WalkMidi(RemainingInFile(), depth);
  return true;
}

int CRIFFFormsParser::HandleTopLevelForm(uint32_t token, uint32_t size, int depth) {
  if (token == kFormId || token == kRifxId || token == kCatId) {
    // IFF and RIFX: big-endian, chunks padded to even lengths.
    wordAligned_ = true;
    bigEndian_ = true;
  }
  return DispatchForm(token, size, depth);
}

int CRIFFFormsParser::DispatchForm(uint32_t token, uint32_t size, int depth) {
  if (size < 4) return kStop;
  // The position is behind the form's size word.
  const uint64_t headerPos = CurrentPosition() - 8;
  uint32_t formType = 0;
  if (!ReadToken(formType, depth)) return kStop;
  ++formCounter_;
  const FormKind* kind = Lookup(kForms, formType);
  if (!kind) kind = &kOtherForm;
  if (kind->typeText) formType_ = kind->typeText;
  const int inner = ChunkHeaderLine(token, formType, size, headerPos, kind->lineName, depth);
  const uint64_t body = uint64_t{size} - 4;
  switch (kind->walker) {
    case Walker::kWave:
      return WalkWave(AlignedSize(body), inner);
    case Walker::kMidi:
      return WalkMidi(AlignedSize(body), inner);
    case Walker::kIffAudio:
      return WalkIffAudio(AlignedSize(body), inner);
    case Walker::kForceFeedback:
      return HandleForceFeedback(body, inner);
    case Walker::kGeneric:
      break;
  }
  return WalkList(body, inner);
}

int CRIFFFormsParser::HandleForceFeedback(uint64_t body, int depth) {
  report_.Message("This is not a standard RIFF File Format!", depth, kFatal);
  // The effect's chunks follow a fixed prefix; they fill what remains of
  // the form behind it.
  const uint64_t prefix = std::min<uint64_t>(kForceFeedbackPrefix, body);
  if (prefix > RemainingInFile()) {
    SkipChecked(prefix, depth);
    return kStop;
  }
  SkipChecked(prefix, depth);
  return WalkList(body - prefix, depth);
}

// ---------------------------------------------------------------------------
// The walkers

int CRIFFFormsParser::Walk(uint64_t remaining, const Table& table, int depth) {
  if (nesting_ >= kMaxListNesting) {
    // Forms and MIDI data nest; each level costs a frame of the walk.
    report_.Message("Lists nested too deeply, skipped!", depth, kError);
    return SkipChunkBody(remaining, depth) ? kHandled : kStop;
  }
  static const ListRules kRules = {ListStyle::kRiff, nullptr, 0, nullptr, false};
  ++nesting_;
  const int result = WalkChunks(remaining, kRules, *this, table, depth);
  --nesting_;
  return result;
}

int CRIFFFormsParser::WalkWave(uint64_t remaining, int depth) {
  using P = CRIFFFormsParser;
  static const Table::Entry kEntries[] = {
      {FourCC("fmt "), &P::HandleWaveFormat}, {FourCC("data"), &P::HandleWaveData},
      {FourCC("fact"), &P::HandleDescribed},  {FourCC("cue "), &P::HandleDescribed},
      {FourCC("plst"), &P::HandleDescribed},  {FourCC("smpl"), &P::HandleDescribed},
      {FourCC("inst"), &P::HandleDescribed},  {FourCC("wsmp"), &P::HandleDescribed},
      {FourCC("mark"), &P::HandleDescribed},  {FourCC("wavh"), &P::HandleDescribed},
      {FourCC("bext"), &P::HandleDescribed},  {FourCC("cart"), &P::HandleDescribed},
      {FourCC("mpeg"), &P::HandleNamedSkip},  {FourCC("wavu"), &P::HandleNamedSkip},
      {FourCC("alia"), &P::HandleNamedSkip},  {kListId, &P::HandleWaveList},
  };
  static const Table kTable = {kEntries, std::size(kEntries), &P::HandleKnownOrUnexpected};
  return Walk(remaining, kTable, depth);
}

int CRIFFFormsParser::WalkAssociatedData(uint64_t remaining, int depth) {
  using P = CRIFFFormsParser;
  static const Table::Entry kEntries[] = {
      {FourCC("labl"), &P::HandleDescribed},
      {FourCC("note"), &P::HandleDescribed},
      {FourCC("ltxt"), &P::HandleDescribed},
      {FourCC("file"), &P::HandleDescribed},
  };
  static const Table kTable = {kEntries, std::size(kEntries), &P::HandleUnexpected};
  return Walk(remaining, kTable, depth);
}

int CRIFFFormsParser::WalkWaveList(uint64_t remaining, int depth) {
  using P = CRIFFFormsParser;
  static const Table::Entry kEntries[] = {
      {FourCC("data"), &P::HandleWaveData},
      {FourCC("slnt"), &P::HandleDescribed},
  };
  static const Table kTable = {kEntries, std::size(kEntries), &P::HandleUnexpected};
  return Walk(remaining, kTable, depth);
}

int CRIFFFormsParser::WalkIffAudio(uint64_t remaining, int depth) {
  using P = CRIFFFormsParser;
  static const Table::Entry kEntries[] = {
      {kFormId, &P::HandleForm},
      {kListId, &P::HandleIffList},
      {kCatId, &P::HandleIffList},
      {kPropId, &P::HandleIffList},
      {FourCC("COMM"), &P::HandleDescribed},
      {FourCC("FVER"), &P::HandleDescribed},
      {FourCC("APPL"), &P::HandleDescribed},
      {FourCC("AUTH"), &P::HandleText},
      {FourCC("NAME"), &P::HandleText},
      {FourCC("(c) "), &P::HandleText},
      {FourCC("ANNO"), &P::HandleText},
      {FourCC("COMT"), &P::HandleNamedSkip},
      {FourCC("SSND"), &P::HandleNamedSkip},
      {FourCC("MARK"), &P::HandleNamedSkip},
      {FourCC("INST"), &P::HandleNamedSkip},
      {FourCC("MIDI"), &P::HandleNamedSkip},
      {FourCC("AESD"), &P::HandleNamedSkip},
      {FourCC("CHAN"), &P::HandleNamedSkip},
      {FourCC("VHDR"), &P::HandleNamedSkip},
      {FourCC("BODY"), &P::HandleNamedSkip},
  };
  static const Table kTable = {kEntries, std::size(kEntries), &P::HandleKnownOrUnexpected};
  return Walk(remaining, kTable, depth);
}

int CRIFFFormsParser::WalkMidi(uint64_t remaining, int depth) {
  using P = CRIFFFormsParser;
  static const Table::Entry kEntries[] = {
      {kMidiHeaderId, &P::HandleMidiHeader},
      {FourCC("MTrk"), &P::HandleNamedSkip},
      {FourCC("data"), &P::HandleMidiData},
      {kListId, &P::HandleMidiList},
      {kCatId, &P::HandleMidiList},
      {kPropId, &P::HandleMidiList},
      {kFormId, &P::HandleForm},
  };
  static const Table kTable = {kEntries, std::size(kEntries), &P::HandleKnownOrUnexpected};
  return Walk(remaining, kTable, depth);
}

// ---------------------------------------------------------------------------
// The chunks

int CRIFFFormsParser::HandleForm(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  if (chunk.size < 4) return HandleUnexpected(chunk, remaining, depth);
  return DispatchForm(chunk.token, chunk.size, depth);
}

int CRIFFFormsParser::HandleWaveFormat(const ChunkHeader& chunk, uint64_t&, int depth) {
  const int inner = ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos,
                                    "WAVE StreamFormat Chunk", depth);
  const uint32_t read = std::min(chunk.size, kMaxFormatBody);
  std::vector<uint8_t> body;
  if (!ReadBody(body, read, inner)) return kStop;
  // A WAVE file has no stream header to hold the format against.
  AviAudioFormatDumper(*this, nullptr).Dump(body.data(), read, inner);
  return SkipRestOfChunk(chunk.BodyStart(), chunk.size, inner) ? kHandled : kStop;
}

int CRIFFFormsParser::HandleWaveData(const ChunkHeader& chunk, uint64_t&, int depth) {
  const int inner =
      ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos, "WAVE Data Chunk", depth);
  // Samples are shown only when asked for in detail, or when the file ends
  // inside them.
  const bool shown = Verbosity() >= 5 || chunk.size > RemainingInFile();
  return SkipRestOfChunk(chunk.BodyStart(), chunk.size, shown ? inner : 0) ? kHandled : kStop;
}

int CRIFFFormsParser::HandleWaveList(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  if (chunk.size < 4) return HandleUnexpected(chunk, remaining, depth);
  uint32_t listType = 0;
  if (!ReadToken(listType, depth)) return kStop;
  const uint64_t body = uint64_t{chunk.size} - 4;
  const char* name = listType == kInfoId   ? "RIFF Info List"
                     : listType == kAdtlId ? "WAVE Associated Data List"
                     : listType == kWavlId ? "WAVE Data List"
                                           : "";
  const int inner =
      ChunkHeaderLine(chunk.token, listType, chunk.size, chunk.headerPos, name, depth);
  if (listType == kAdtlId) return WalkAssociatedData(AlignedSize(body), inner);
  if (listType == kWavlId) return WalkWaveList(AlignedSize(body), inner);
  if (listType == kInfoId) {
    const int result = WalkInfoList(body, inner);
    if (result == kStop) return kStop;
    // An INFO list that ran into the header of another part of the file
    // hands its bytes back to the form, which walks that part next.
    const uint64_t listEnd = chunk.BodyStart() + AlignedSize(chunk.size);
    const uint64_t position = CurrentPosition();
    if (listEnd > position) remaining += listEnd - position;
    return kHandled;
  }
  if (listType == kRiffId) {
    // The next form begins inside this one: the form ends here and the next
    // one is read from behind its type.
    report_.Message("Unexpected Token, recovered!", inner, kError);
    return kMetRiff;
  }
  report_.Message(kUnexpectedToken, inner, kWarning);
  return WalkList(body, inner) == kStop ? kStop : kHandled;
}

int CRIFFFormsParser::HandleIffList(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  return WalkTypedList(chunk, remaining, "IFF List", depth);
}

int CRIFFFormsParser::HandleMidiList(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  return WalkTypedList(chunk, remaining, "RIFF List", depth);
}

int CRIFFFormsParser::WalkTypedList(const ChunkHeader& chunk, uint64_t& remaining, const char* name,
                                    int depth) {
  // Too small to hold its type: stepped over as a chunk nobody knows.
  if (chunk.size < 4) return HandleUnexpected(chunk, remaining, depth);
  uint32_t listType = 0;
  if (!ReadToken(listType, depth)) return kStop;
  const int inner =
      ChunkHeaderLine(chunk.token, listType, chunk.size, chunk.headerPos, name, depth);
  return WalkList(uint64_t{chunk.size} - 4, inner) == kStop ? kStop : kHandled;
}

int CRIFFFormsParser::HandleMidiHeader(const ChunkHeader& chunk, uint64_t&, int depth) {
  return DumpMidiHeader(chunk, depth) ? kHandled : kStop;
}

bool CRIFFFormsParser::DumpMidiHeader(const ChunkHeader& chunk, int depth) {
  const int inner =
      ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos, "Midi Header", depth);
  // Format, tracks and division, as far as the body holds them; anything
  // behind them is shown while it is skipped.
  uint8_t bytes[6] = {};
  const uint32_t present = std::min<uint32_t>(chunk.size, sizeof bytes);
  if (present > RemainingInFile()) {
    report_.Message(kPrematureEnd, inner, kFatal);
    return false;
  }
  if (!ReadChecked(bytes, present, inner, true)) return false;
  if (chunk.size != 6) report_.Message("Unknown Token Size!", inner, kWarning);
  const unsigned format = bytes[0] << 8 | bytes[1];
  if (present >= 2) {
    const char* kind = format == 0   ? " Type: 1 Track/16 Midi Channels"
                       : format == 1 ? " Type: Simultaneous Multitrack"
                       : format == 2 ? " Type: Sequential Multitrack"
                                     : " (undefined)";
    report_.PlainLine("00 Format: " + std::to_string(format) + kind, inner);
  }
  if (present >= 4) {
    const unsigned tracks = bytes[2] << 8 | bytes[3];
    report_.PlainLine("02 Tracks: " + std::to_string(tracks), inner);
    if (format == 0 && tracks != 1) {
      report_.Message("Unexpected number of Tracks for TYPE 0 Midi!", inner, kError);
    }
  }
  if (present >= 6) {
    if (bytes[4] < 0x80) {
      report_.PlainLine("04 Division: " + std::to_string(bytes[4] << 8 | bytes[5]) + " PPQN",
                        inner);
    } else {
      // SMPTE timing: the negated frame rate, then the ticks per frame.
      const int framesPerSecond = -static_cast<int8_t>(bytes[4]);
      report_.PlainLine("04 Division: " + std::to_string(framesPerSecond) + " frames per second/" +
                            std::to_string(bytes[5]) + " subframes per frame",
                        inner);
    }
  }
  return SkipRestOfChunk(chunk.BodyStart(), chunk.size, inner);
}

int CRIFFFormsParser::HandleMidiData(const ChunkHeader& chunk, uint64_t&, int depth) {
  const int inner =
      ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos, "RMID Data Chunk", depth);
  // The MIDI data inside a RIFF file keeps its own rules: big-endian, no pad
  // bytes. The RIFF rules are back in force behind it.
  const bool wordAligned = wordAligned_;
  const bool bigEndian = bigEndian_;
  wordAligned_ = false;
  bigEndian_ = true;
  const int result = WalkMidi(chunk.size, inner);
  wordAligned_ = wordAligned;
  bigEndian_ = bigEndian;
  if (result == kStop) return kStop;
  return SkipRestOfChunk(chunk.BodyStart(), chunk.size, inner) ? kHandled : kStop;
}

int CRIFFFormsParser::HandleDescribed(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  const Described* described = Lookup(kDescribed, chunk.token);
  if (!described) return HandleUnexpected(chunk, remaining, depth);
  if (chunk.size > kMaxDescribedBody) {
    const int inner =
        ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos, described->desc->name, depth);
    report_.Message("Unknown Token Size>!", inner, kError);
    return SkipChunkBody(chunk.size, inner) ? kHandled : kStop;
  }
  // A body of the wrong size is the dumper's to report; the walk goes on
  // behind the chunk whenever its bytes could be read.
  bool complete = false;
  return DumpDescribed(chunk.size, *described->desc, depth, complete) ? kHandled : kStop;
}

int CRIFFFormsParser::HandleText(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  const Named* text = Lookup(kTexts, chunk.token);
  if (!text) return HandleUnexpected(chunk, remaining, depth);
  return DumpTextChunk(chunk.token, chunk.size, text->name, depth) ? kHandled : kStop;
}

int CRIFFFormsParser::HandleNamedSkip(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  const Named* skipped = Lookup(kSkipped, chunk.token);
  if (!skipped) return HandleUnexpected(chunk, remaining, depth);
  const int inner =
      ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos, skipped->name, depth);
  return SkipChunkBody(chunk.size, inner) ? kHandled : kStop;
}

int CRIFFFormsParser::HandleKnownOrUnexpected(const ChunkHeader& chunk, uint64_t& remaining,
                                              int depth) {
  const int result = HandleKnownChunk(chunk.token, chunk.size, depth);
  if (result != kNotKnown) return result;
  return HandleUnexpected(chunk, remaining, depth);
}

int CRIFFFormsParser::HandleUnexpected(const ChunkHeader& chunk, uint64_t&, int depth) {
  const int inner = ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos, "", depth);
  report_.Message(kUnexpectedToken, inner, kWarning);
  return SkipChunkBody(chunk.size, inner) ? kHandled : kStop;
}
