#pragma once
// The per-file run: reads the first 12 bytes of a file, picks the parser that
// understands it, lets that parser report (and, for AVI and MPEG, write) the
// file, and reports a file no parser accepts with a guess at its type.

#include <cstdint>
#include <string>

#include "core/ReportOutput.h"
#include "core/RunOptions.h"

// The rows of the dispatch, in the order they are tried.
enum class ProbeRow {
  kAvi = 1,          // RIFF/RIFX ... 'AVI '
  kQuickTime = 2,    // an atom type in bytes 4-7
  kRealMedia = 3,    // '.RMF'
  kAsf = 4,          // the ASF header object's GUID
  kRiffForm = 5,     // MIDI, WAVE, AIFF, 8SVX and other known forms
  kForcedRiff = 6,   // a byte order given on the command line
  kRiff = 7,         // any other chunk file
  kMpeg = 8,         // program, transport and elementary streams
  kUnrecognised = 9,
};

// How one job went.
struct JobOutcome {
  uint64_t size = 0;    // of the source; 0 when it cannot be opened or read
  bool failed = false;  // the source could not be read or the output not written
  const char* parser = nullptr;  // the format whose parser read it; null for none
};

class FormatProbe {
 public:
  static constexpr size_t kProbeSize = 12;

  // Runs one job.
  static JobOutcome RunFile(const std::string& source, const std::string& output,
                            RunOptions options, ReportOutput& report);

  // The row a file with these first bytes goes to. Bytes a short file does
  // not have are passed as zero.
  static ProbeRow ChooseRow(const uint8_t (&probe)[kProbeSize], const RunOptions& options);

  static bool IsRiffForm(const uint8_t (&probe)[kProbeSize]);
  static bool IsGenericRiff(const uint8_t (&probe)[kProbeSize]);
  static bool IsMpeg(const uint8_t (&probe)[kProbeSize]);

  // The report of a file no parser accepts. `probeLength` is how many of the
  // probe bytes were really read.
  static void ReportUnrecognised(const std::string& source, const uint8_t (&probe)[kProbeSize],
                                 size_t probeLength, const RunOptions& options,
                                 ReportOutput& report);
};
