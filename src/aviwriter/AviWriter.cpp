#include "aviwriter/AviWriter.h"

#include <algorithm>
#include <iterator>

#include "core/CParser.h"
#include "core/FourCC.h"
#include "core/SplitName.h"
#include "riff/AviIds.h"
#include "riff/CAVIParser.h"

namespace {

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// The two characters of a chunk id that name its type: the last two of
// '##xx', the first two of 'xx##'.
void TypeCode(uint32_t chunkId, char code[2]) {
  const bool digitsFirst = IsDigit(FourCCByte(chunkId, 0)) && IsDigit(FourCCByte(chunkId, 1));
  code[0] = static_cast<char>(FourCCByte(chunkId, digitsFirst ? 2 : 0));
  code[1] = static_cast<char>(FourCCByte(chunkId, digitsFirst ? 3 : 1));
}

bool EndsWith(uint32_t chunkId, char a, char b) {
  return FourCCByte(chunkId, 2) == static_cast<uint8_t>(a) &&
         FourCCByte(chunkId, 3) == static_cast<uint8_t>(b);
}

}  // namespace

bool AviWriter::CountsAsFrame(uint32_t chunkId) {
  if (chunkId == FourCC("indx")) return false;
  if (FourCCByte(chunkId, 0) == 'i' && FourCCByte(chunkId, 1) == 'x') return false;
  return !EndsWith(chunkId, 'i', 'x') && !EndsWith(chunkId, 'p', 'c');
}

AviWriter::AviWriter(CIOService& io, const RunOptions& options, const Report& report,
                     AviModel& model, uint32_t& progressCounter, SourceFacts facts)
    : io_(io),
      model_(model),
      options_(options),
      report_(report),
      progressCounter_(progressCounter),
      facts_(facts),
      copier_(io) {}

void AviWriter::AttachTo(CAVIParser& parser) {
  parser.SetOutputStage([](CAVIParser& parsed, const std::string& outputPath, int depth) {
    SourceFacts facts;
    facts.indexOutOfOrder = parsed.IndexOutOfOrder();
    facts.dvAnalysis = parsed.FirstDvAnalysis();
    AviWriter writer(parsed, parsed.Options(), parsed.Reporter(), parsed.MutableModel(),
                     parsed.ProgressCounter(), facts);
    return writer.Write(outputPath, depth);
  });
}

int AviWriter::TraceLine(uint32_t id, uint32_t second, uint32_t size, uint64_t position,
                         const std::string& text, int depth) const {
  return report_.ItemLine(id ? CParser::FourCCText(id) : std::string(),
                          second ? CParser::FourCCText(second) : std::string(), text,
                          size == CParser::kNoChunkSize ? Report::kNoSize : size, position, depth,
                          options_.report.verbosity);
}

bool AviWriter::Write(const std::string& outputName, int depth) {
  outputName_ = outputName;
  NormaliseHeaders();
  EraseStreams(depth);
  ChooseIndexChunkIds();
  CapSegmentLimit(depth);
  return RunDriver(depth);
}

// ---------------------------------------------------------------------------
// Before the first file: the streams that are written and their chunk ids

void AviWriter::NormaliseHeaders() {
  // The headers are rewritten little-endian whatever the source used; the
  // streams a DV conversion added join the list under the numbers their
  // chunks already carry.
  const bool bigEndian = model_.bigEndian;
  formatsBigEndian_ = bigEndian;
  AviModel::EncodeMainHeader(AviModel::DecodeMainHeader(model_.avih.data(), bigEndian),
                             model_.avih.data());
  for (AviStream& stream : model_.streams) {
    AviModel::EncodeStreamHeader(AviModel::DecodeStreamHeader(stream.strh.data(), bigEndian),
                                 stream.strh.data());
  }
  model_.bigEndian = false;
  std::move(model_.extraStreams.begin(), model_.extraStreams.end(),
            std::back_inserter(model_.streams));
  model_.extraStreams.clear();
}

std::vector<bool> AviWriter::StreamsToErase() const {
  const size_t count = model_.streams.size();
  std::vector<bool> erase(count, false);
  // Numbers of streams that do not exist are ignored.
  for (uint16_t number : options_.writer.strippedStreams) {
    if (number < count) erase[number] = true;
  }
  if (options_.writer.switchQ1 || options_.scan.switchXi) {
    for (size_t number = 1; number <= 4 && number < count; ++number) erase[number] = true;
  }
  // A stream without frames to copy is dropped: counted from the entries that
  // would be written, so a stream whose chunks were all lost to damage does
  // not end up as an empty stream in the output.
  std::vector<uint32_t> frames(count, 0);
  for (const MoviEntry& entry : model_.movi) {
    const int stream = AviModel::StreamNumber(entry.chunkId, count);
    if (stream >= 0 && CountsAsFrame(entry.chunkId)) ++frames[static_cast<size_t>(stream)];
  }
  for (size_t number = 0; number < count; ++number) {
    if (frames[number] == 0) erase[number] = true;
  }
  return erase;
}

void AviWriter::EraseStreams(int depth) {
  const std::vector<bool> erase = StreamsToErase();
  std::vector<int> newNumbers(erase.size(), -1);
  std::vector<AviStream> kept;
  for (size_t number = 0; number < erase.size(); ++number) {
    if (erase[number]) {
      report_.Message("Erasing Stream #" + std::to_string(number), depth, kInfo);
      continue;
    }
    newNumbers[number] = static_cast<int>(kept.size());
    kept.push_back(std::move(model_.streams[number]));
  }
  model_.streams = std::move(kept);
  RenumberEntries(newNumbers);
}

void AviWriter::RenumberEntries(const std::vector<int>& newNumbers) {
  // Every entry that stays gets the '##xx' id of its stream's new number; an
  // entry of an erased stream, or one naming no stream, is dropped.
  std::vector<MoviEntry>& movi = model_.movi;
  size_t kept = 0;
  for (size_t i = 0; i < movi.size(); ++i) {
    MoviEntry& entry = movi[i];
    const int old = AviModel::StreamNumber(entry.chunkId, newNumbers.size());
    const int number = old >= 0 ? newNumbers[static_cast<size_t>(old)] : -1;
    if (number < 0) continue;
    char code[2];
    TypeCode(entry.chunkId, code);
    entry.chunkId = AviModel::MakeChunkId(static_cast<unsigned>(number), code);
    if (kept != i) movi[kept] = std::move(entry);
    ++kept;
  }
  movi.erase(movi.begin() + static_cast<std::ptrdiff_t>(kept), movi.end());
}

void AviWriter::ChooseIndexChunkIds() {
  // The id a stream's OpenDML indexes carry: of the ids of its chunks, the one
  // that sorts first as a little-endian number (so '00db' before '00dc'),
  // leaving out ids that end in "00" or name an index.
  const size_t count = model_.streams.size();
  indexChunkIds_.assign(count, 0);
  indexChunkCounts_.assign(count, 0);
  for (const MoviEntry& entry : model_.movi) {
    const int stream = AviModel::StreamNumber(entry.chunkId, count);
    if (stream < 0 || EndsWith(entry.chunkId, '0', '0') || EndsWith(entry.chunkId, 'i', 'x')) {
      continue;
    }
    uint32_t& chosen = indexChunkIds_[static_cast<size_t>(stream)];
    if (chosen == 0 || entry.chunkId < chosen) chosen = entry.chunkId;
    // An upper bound of the chunks its indexes will list.
    ++indexChunkCounts_[static_cast<size_t>(stream)];
  }
}

void AviWriter::CapSegmentLimit(int depth) {
  // Every size and offset of a segment is a 32-bit field: a larger limit
  // would make them wrap.
  moviLimit_ = options_.writer.moviChunkLimit;
  if (moviLimit_ > kMaxSegmentSize) {
    moviLimit_ = kMaxSegmentSize;
    report_.Message("'movi'-Chunk Size limited to " + Report::NumberText(moviLimit_) +
                        " Bytes, the largest that 32-bit RIFF sizes can hold!",
                    depth, kWarning);
  }
}

// ---------------------------------------------------------------------------
// The loop over output files

bool AviWriter::RunDriver(int depth) {
  for (uint32_t file = 0;; ++file) {
    std::string name;
    if (!OutputName(file, name, depth)) return false;
    const int inner = TraceLine(0, 0, 0xFFFFFFFFu, 0, "Writing '" + name + "'", depth);
    progressCounter_ = 0;
    if (!CheckBeforeFile(inner)) return false;
    if (!io_.CreateForWriting(name)) return false;
    PrepareFile();
    CheckCut(inner);
    bool more = false;
    if (!WriteSegments(inner, more)) return false;
    if (!more) return true;
  }
}

bool AviWriter::OutputName(uint32_t file, std::string& name, int depth) const {
  if (options_.writer.splitSize == 0) {
    name = outputName_;
    return true;
  }
  if (SplitName::Make(outputName_, file, name)) return true;
  // The command line only tests the first part's name when it is not told to
  // overwrite, so this is where a name without '.' is met.
  const std::string why = file < SplitName::kMaxParts
                              ? "the output name '" + outputName_ + "' has no '.'"
                              : "more than " + std::to_string(SplitName::kMaxParts) + " parts";
  report_.Message("Can't name split file #" + std::to_string(file) + ": " + why + "!", depth,
                  kError);
  return false;
}

bool AviWriter::CheckBeforeFile(int depth) const {
  if (!options_.scan.checkIndexes) {
    report_.Message("Index not checked (-c), can't write Keyframe information!", depth, kWarning);
  }
  if (model_.streams.empty()) {
    report_.Message("Nothing to do, no stream left!", depth, kWarning);
    return false;
  }
  if (facts_.indexOutOfOrder && !options_.writer.ignoreIdx1Order) {
    report_.Message(
        "Index defines out-of-sequence/duplicate frames which is not supported for writing "
        "files; use Option -ri to ignore ordering and write file!",
        depth, kFatal);
    return false;
  }
  return true;
}

void AviWriter::PrepareFile() {
  videoFramesWritten_ = 0;
  fileEntries_ = 0;
  idx1Size_ = 8;
  idx1Entries_.clear();
  standardIndexesWritten_ = 0;
  superIndexFull_ = false;
  const size_t count = model_.streams.size();
  records_.assign(count, StreamIndexRecord());
  tallies_.assign(count, StreamTally());
  // One record per stream, so that stream numbers index them; a stream with
  // no id to index under keeps an unusable one.
  for (size_t stream = 0; stream < count; ++stream) {
    const uint32_t id = indexChunkIds_[stream];
    if (id == 0) continue;
    StreamIndexRecord& record = records_[stream];
    char code[2];
    TypeCode(id, code);
    record.chunkId = AviModel::MakeChunkId(static_cast<unsigned>(stream), code);
    record.usable = true;
    record.superEntries.reserve(std::min<size_t>(
        indexChunkCounts_[stream] / kStandardIndexEntries + 1, kSuperIndexEntries));
  }
  FixStreamHeaders();
  videoStreams_.assign(count, false);
  intraOnlyStreams_.assign(count, false);
  for (size_t stream = 0; stream < count; ++stream) {
    const AviStreamHeader header = model_.StreamHeader(stream);
    // Every audio chunk can be decoded on its own, whatever flags the source
    // had (or had none, without an index).
    if (header.type == avi::kAudsType) intraOnlyStreams_[stream] = true;
    if (!IsVideo(stream)) continue;
    videoStreams_[stream] = true;
    intraOnlyStreams_[stream] =
        header.handler == FourCC("dvsd") || header.handler == FourCC("MJPG");
  }
}

void AviWriter::CheckCut(int depth) const {
  if (options_.writer.firstFrame == 0) return;
  if (model_.streams.size() > 1 || !IsVideo(0)) {
    report_.Message("Cutting audio streams is not supported!", depth, kWarning);
  }
}

bool AviWriter::WriteSegments(int depth, bool& more) {
  if (!ReserveHeader(depth)) {
    ReportFailure(depth);
    CloseFile();
    return false;
  }
  for (uint32_t segment = 1;; ++segment) {
    const SegmentResult result = WriteSegment(depth, segment);
    if (segment == 1) riffSize_ = static_cast<uint32_t>(copier_.Position() - 8);
    switch (result) {
      case SegmentResult::kFinished:
      case SegmentResult::kFileFull: {
        bool ok = RewriteHeader(depth);
        if (!ok) ReportFailure(depth);
        ok = CloseFile() && ok;
        more = ok && result == SegmentResult::kFileFull;
        return ok;
      }
      case SegmentResult::kSegmentFull:
        if (segment == 1 && !options_.writer.writeOpenDml) {
          report_.Message(
              "Write Segment #2 - Without ODML 1.02 only one Segment possible - don't use -ro "
              "switch!",
              depth, kFatal);
          // What fits in the one segment is still a readable file.
          RewriteHeader(depth);
          CloseFile();
          return false;
        }
        if (segment == 1 && options_.writer.writeIdx1) {
          report_.Message(
              "Write Segment #2 - Idx1 Index superfluous with ODML 1.02 compliant multisegment "
              "AVI!",
              depth, kWarning);
        }
        break;
      case SegmentResult::kFailed:
        ReportFailure(depth);
        // After a failed read of the source, what was gathered is dropped and
        // the output goes on where the file ends. The header of segment 1 is
        // still put in place where the output allows.
        if (copier_.SourceFailed()) copier_.Reset(copier_.Position());
        if (segment == 1) {
          riffSize_ = static_cast<uint32_t>(copier_.Position() - 8);
          RewriteHeader(depth);
        }
        CloseFile();
        return false;
    }
  }
}

bool AviWriter::CloseFile() {
  const bool flushed = copier_.Flush();
  return io_.CloseOutput() && flushed;
}

void AviWriter::ReportFailure(int depth) {
  // A failed output operation has been reported by the I/O service; the end
  // of the source is silent there.
  if (copier_.SourceFailed() && !failureReported_) {
    failureReported_ = true;
    report_.Message(CParser::kPrematureEnd, depth, kFatal);
  }
}
