#include "app/FormatProbe.h"

#include <cstring>
#include <memory>

#include "asf/CASFParser.h"
#include "aviwriter/AviWriter.h"
#include "core/CIOService.h"
#include "core/CParser.h"
#include "core/FourCC.h"
#include "core/PlatformFile.h"
#include "core/Report.h"
#include "mov/CMOVParser.h"
#include "mpeg/CMPGParser.h"
#include "realmedia/CRMFParser.h"
#include "riff/CAVIParser.h"
#include "riff/CRIFFParser.h"
#include "riffforms/CRIFFFormsParser.h"

namespace {

using ParserMaker = std::unique_ptr<CParser> (*)(const RunOptions&, ReportOutput&);

template <class Parser>
std::unique_ptr<CParser> Make(const RunOptions& options, ReportOutput& report) {
  return std::make_unique<Parser>(options, report);
}

// The AVI parser hands a file with an output path to the writer.
std::unique_ptr<CParser> MakeAvi(const RunOptions& options, ReportOutput& report) {
  auto parser = std::make_unique<CAVIParser>(options, report);
  AviWriter::AttachTo(*parser);
  return parser;
}

// Which parser each row creates, and whether it receives the job's output
// path (only the AVI and MPEG parsers write). A file no row takes is
// reported as unrecognised.
struct ParserRow {
  ProbeRow row;
  ParserMaker make;
  bool takesOutput;
  const char* format;  // as a machine-readable report names it
};

const ParserRow kParserRows[] = {
    {ProbeRow::kAvi, MakeAvi, true, "AVI"},
    {ProbeRow::kQuickTime, Make<CMOVParser>, false, "QuickTime"},
    {ProbeRow::kRealMedia, Make<CRMFParser>, false, "RealMedia"},
    {ProbeRow::kAsf, Make<CASFParser>, false, "ASF"},
    {ProbeRow::kRiffForm, Make<CRIFFFormsParser>, false, "RIFF form"},
    {ProbeRow::kForcedRiff, Make<CRIFFParser>, false, "RIFF"},
    {ProbeRow::kRiff, Make<CRIFFParser>, false, "RIFF"},
    {ProbeRow::kMpeg, Make<CMPGParser>, true, "MPEG"},
};

const ParserRow* FindParserRow(ProbeRow row) {
  for (const ParserRow& entry : kParserRows) {
    if (entry.row == row) return &entry;
  }
  return nullptr;
}

// Signatures of common files that are not media containers, for a hint in the
// report of an unrecognised file. First match wins.
struct ForeignSignature {
  const char* bytes;
  size_t length;
  const char* info;
  const char* verdict;
};

const ForeignSignature kForeignSignatures[] = {
    {"PK", 2, "File is presumably ZIP (.zip)", "This might be a .ZIP file."},
    {"MZ", 2, "File is presumably a Windows Executable (.exe)", "This might be a .EXE file."},
    {"\xBC", 1, "File is presumably a Windows Executable (.com)", "This might be a .COM file."},
    {"\xE9", 1, "File is presumably a Windows Executable (.com)", "This might be a .COM file."},
    {"%PDF", 4, "File is presumably Adobe PDF (.pdf)", "This might be a .PDF file."},
    {"\xFF\xD8\xFF\xE0", 4, "File is presumably JPG (.jpg)", "This might be a .JPG file."},
    {"OggS", 4, "File is presumably Ogg Vorbis (.ogg)", "This might be a Ogg Vorbis file."},
};

const char kNotRecognised[] = "This file is not recognized.";

constexpr uint8_t kAsfGuidStart[4] = {0x30, 0x26, 0xB2, 0x75};

struct ProbeWords {
  uint32_t w0;
  uint32_t w1;
  uint32_t w2;
};

ProbeWords WordsOf(const uint8_t (&probe)[FormatProbe::kProbeSize]) {
  return {FourCCFromBytes(probe), FourCCFromBytes(probe + 4), FourCCFromBytes(probe + 8)};
}

bool IsOneOf(uint32_t token, std::initializer_list<uint32_t> tokens) {
  for (uint32_t candidate : tokens) {
    if (token == candidate) return true;
  }
  return false;
}

bool IsPrintable(uint8_t c) { return c >= 0x20 && c < 0x7f; }
bool IsAlphanumeric(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsQuickTime(const ProbeWords& w) {
  return IsOneOf(w.w1, {FourCC("ftyp"), FourCC("mdat"), FourCC("wide"), FourCC("moov"),
                        FourCC("pnot")});
}

}  // namespace

bool FormatProbe::IsRiffForm(const uint8_t (&probe)[kProbeSize]) {
  const ProbeWords w = WordsOf(probe);
  if (!IsOneOf(w.w0, {FourCC("RIFF"), FourCC("FORM"), FourCC("FORC"), FourCC("LIST"),
                      FourCC("CAT "), FourCC("RIFX")})) {
    return false;
  }
  return w.w0 == FourCC("FORC") ||
         IsOneOf(w.w2, {FourCC("WAVE"), FourCC("RMID"), FourCC("AIFF"), FourCC("AIFC"),
                        FourCC("8SVX"), FourCC("    ")});
}

bool FormatProbe::IsGenericRiff(const uint8_t (&probe)[kProbeSize]) {
  const ProbeWords w = WordsOf(probe);
  if (!IsOneOf(w.w0, {FourCC("RIFF"), FourCC("FORM"), FourCC("LIST"), FourCC("CAT "),
                      FourCC("RIFX")})) {
    return false;
  }
  const bool formTypeReadable = IsPrintable(probe[8]) && IsAlphanumeric(probe[9]) &&
                                IsAlphanumeric(probe[10]) && IsAlphanumeric(probe[11]);
  return formTypeReadable || w.w2 == FourCC("Egg!");
}

bool FormatProbe::IsMpeg(const uint8_t (&probe)[kProbeSize]) {
  if (probe[0] == 0x47) return true;                              // transport packet sync
  // An audio frame: the 11-bit sync, a version and a layer that are not reserved.
  if (probe[0] == 0xFF && (probe[1] & 0xE0) == 0xE0 && (probe[1] & 0x18) != 0x08 &&
      (probe[1] & 0x06) != 0) {
    return true;
  }
  if (probe[0] == 0 && probe[1] == 0 && probe[2] == 1 && (probe[3] == 0xBA || probe[3] == 0xB3)) {
    return true;  // pack header or sequence header
  }
  return probe[0] == 'I' && probe[1] == 'D' && probe[2] == '3' && probe[3] >= 1 && probe[3] <= 5;
}

ProbeRow FormatProbe::ChooseRow(const uint8_t (&probe)[kProbeSize], const RunOptions& options) {
  const ProbeWords w = WordsOf(probe);
  if (IsOneOf(w.w0, {FourCC("RIFF"), FourCC("RIFX")}) && w.w2 == FourCC("AVI ")) {
    return ProbeRow::kAvi;
  }
  if (IsQuickTime(w)) return ProbeRow::kQuickTime;
  if (w.w0 == FourCC(".RMF")) return ProbeRow::kRealMedia;
  if (std::memcmp(probe, kAsfGuidStart, sizeof kAsfGuidStart) == 0) return ProbeRow::kAsf;
  if (w.w0 == FourCC("MThd") || IsRiffForm(probe)) return ProbeRow::kRiffForm;
  if (options.scan.ByteOrderForced()) return ProbeRow::kForcedRiff;
  if (IsGenericRiff(probe)) return ProbeRow::kRiff;
  if (options.scan.byteOrder == ByteOrder::kMpegScan || IsMpeg(probe)) return ProbeRow::kMpeg;
  return ProbeRow::kUnrecognised;
}

JobOutcome FormatProbe::RunFile(const std::string& source, const std::string& output,
                               RunOptions options, ReportOutput& report) {
  report.Line("");
  // Bytes a short file does not have stay zero, and only the bytes really
  // read are shown in the report.
  uint8_t probe[kProbeSize] = {};
  size_t probeLength = 0;
  JobOutcome outcome;
  {
    // A file that cannot be opened is named with the host's reason, and
    // nothing more: no parser and no guess at its type would add anything
    // true. One that cannot be read has been reported by the read.
    CIOService io(options, report);
    int error = 0;
    if (!PlatformFile().OpenForReading(source, error)) {
      Report(report).TopLine(source);
      io.ReportSystemError(false, error);
      return JobOutcome{0, true, nullptr};
    }
    FileRecord record;
    if (!io.OpenForReading(record, source)) return JobOutcome{0, true, nullptr};
    outcome.size = io.FileSize(record);
    probeLength = outcome.size < kProbeSize ? static_cast<size_t>(outcome.size) : kProbeSize;
    const bool read = io.Read(record, probe, probeLength);
    io.Close(record);
    if (!read) return JobOutcome{0, true, nullptr};
  }

  const ParserRow* row = FindParserRow(ChooseRow(probe, options));
  if (!row) {
    ReportUnrecognised(source, probe, probeLength, options, report);
    return outcome;
  }
  outcome.parser = row->format;
  std::unique_ptr<CParser> parser = row->make(options, report);
  parser->Parse(source, row->takesOutput ? output : std::string());
  outcome.failed = parser->JobFailed();
  return outcome;
}

void FormatProbe::ReportUnrecognised(const std::string& source,
                                     const uint8_t (&probe)[kProbeSize], size_t probeLength,
                                     const RunOptions& options, ReportOutput& report) {
  const Report reporter(report);
  reporter.TopLine(source);
  reporter.ItemLine("", "", "Probe", Report::kNoSize, 0, 1, options.report.verbosity);
  if (probeLength > 0) reporter.HexDump(probe, probeLength, 2, options.report.verbosity);
  reporter.Message(CRIFFParser::kUnexpectedToken, 2, kError);
  const char* verdict = kNotRecognised;
  for (const ForeignSignature& signature : kForeignSignatures) {
    if (std::memcmp(probe, signature.bytes, signature.length) == 0) {
      reporter.Message(signature.info, 2, kInfo);
      verdict = signature.verdict;
      break;
    }
  }
  reporter.Verdict(verdict, 1);
}
