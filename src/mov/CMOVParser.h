#pragma once
// QuickTime movies and ISO base media files (MP4, 3GP): the atom tree walked
// container by container (file, movie, track, media, media information,
// sample table, user data, input map). Each atom is announced with a header
// line; fixed-layout atoms are printed through their descriptions, the file
// type and initial object descriptor by hand, media data and tables skipped.
// Atom sizes are 32-bit, 64-bit (size 1) or run to the end of their
// container (size 0); numbers are big-endian.

#include <cstdint>
#include <string>

#include "riff/CRIFFParser.h"

class CMOVParser : public CRIFFParser {
 public:
  CMOVParser(RunOptions options, ReportOutput& output);

  bool Parse(const std::string& sourcePath, const std::string& outputPath) override;

  // The kinds of container; each has its table of the atoms it holds.
  enum class Container {
    kFile,
    kMovie,
    kTrack,
    kMedia,
    kMediaInfo,
    kSampleTable,
    kUserData,
    kInputMap,
    kFragment,
    kTrackFragment,
    kMovieExtends,
    kFragmentIndex,
  };

 private:
  struct Atom {
    uint32_t type = 0;
    uint64_t size = 0;    // header included, cut to its container
    uint64_t start = 0;   // of its header
    uint32_t header = 8;  // 16 with a 64-bit size
    uint64_t Body() const { return size - header; }
  };

  bool Walk(Container container, uint64_t remaining, int depth);
  bool ReadAtom(Atom& atom, uint64_t remaining, int depth);
  bool Handle(Container container, const Atom& atom, int depth);
  int PositionLine(const Atom& atom, const char* name, int depth);
  bool Skip(const Atom& atom, const char* name, int depth);
  bool Unknown(const Atom& atom, int level, int depth);
  bool Dump(const Atom& atom, const StructDesc& desc, int depth);
  bool Versioned(const Atom& atom, const StructDesc& version0, const StructDesc& version1,
                 int depth);
  bool FileType(const Atom& atom, int depth);
  bool ObjectDescriptor(const Atom& atom, int depth);
  bool InternationalText(const Atom& atom, int depth);

  bool mp4_ = false;
  bool truncated_ = false;
  uint32_t nesting_ = 0;
};
