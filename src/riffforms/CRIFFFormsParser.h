#pragma once
// The audio and music forms of the RIFF family: RIFF `WAVE` (and big-endian
// `RIFX` WAVE), RIFF MIDI (`RMID`), Standard MIDI Files (`MThd`), IFF `AIFF`,
// `AIFC` and `8SVX`, IFF bags (`FORM` of type four blanks), and DirectInput
// force-feedback effects (`FORC`), which are reported but are not standard
// RIFF.
//
// Each form has a walker with a table of the chunks it knows; described
// chunks are printed by the structure dumper, the WAVE format by the audio
// format dump, sample data is skipped. Chunks any form may hold go to the
// handlers of the generic walker. The verdict names the form.

#include <cstdint>
#include <string>

#include "riff/CRIFFParser.h"

class CRIFFFormsParser : public CRIFFParser {
 public:
  CRIFFFormsParser(RunOptions options, ReportOutput& output);

  // The name of the form last recognised, "(Unknown)" when there was none.
  const std::string& FormTypeText() const { return formType_; }

 protected:
  bool HandleTopLevelToken(uint32_t token, int depth, bool& formSeen) override;
  int HandleTopLevelForm(uint32_t token, uint32_t size, int depth) override;
  std::string FormVerdict() const override;

 private:
  using Table = ChunkTable<CRIFFFormsParser>;

  // A form (`RIFF`, `RIFX`, `FORM`, ...) of `size` bytes, with the position
  // behind its size word: the form type picks the walker.
  int DispatchForm(uint32_t token, uint32_t size, int depth);
  // A force-feedback effect form's body of `body` bytes behind its type.
  int HandleForceFeedback(uint64_t body, int depth);
  // Runs `table` over `remaining` bytes, one nesting level deeper.
  int Walk(uint64_t remaining, const Table& table, int depth);
  // The walkers of the forms and lists, each over `remaining` bytes.
  int WalkWave(uint64_t remaining, int depth);
  int WalkAssociatedData(uint64_t remaining, int depth);
  int WalkWaveList(uint64_t remaining, int depth);
  int WalkIffAudio(uint64_t remaining, int depth);
  int WalkMidi(uint64_t remaining, int depth);

  // Chunk handlers (see CRIFFParser::ChunkTable).
  int HandleForm(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleWaveFormat(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleWaveData(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleWaveList(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleIffList(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleMidiList(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleMidiHeader(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleMidiData(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleDescribed(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleText(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleNamedSkip(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleKnownOrUnexpected(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleUnexpected(const ChunkHeader& chunk, uint64_t& remaining, int depth);

  // A list (`LIST`, `CAT `, `PROP`) whose type is read here, walked by the
  // generic list walker under a header line named `name`.
  int WalkTypedList(const ChunkHeader& chunk, uint64_t& remaining, const char* name, int depth);
  // The fields of a MIDI file header; false when its bytes could not be read.
  bool DumpMidiHeader(const ChunkHeader& chunk, int depth);

  std::string formType_ = "(Unknown)";
  uint32_t nesting_ = 0;
};
