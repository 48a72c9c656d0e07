#include "mov/CMOVParser.h"

#include <algorithm>
#include <vector>

#include "core/ByteReader.h"
#include "core/FieldFormat.h"
#include "core/FourCC.h"
#include "core/StructureDumper.h"
#include "mov/MovDescriptions.h"

namespace {

using Container = CMOVParser::Container;

// A described atom is held in memory while it is printed; headers and
// sample descriptions stay far below this, so a larger claim is skipped.
constexpr uint64_t kMaxDumpedBody = 16u << 20;
// The initial object descriptor is read whole up to this size.
constexpr uint64_t kMaxDescriptorBody = 1u << 16;

// The sample sizes of a track: one size for all samples, or a table of them
// (shown up to the index trace limit). Its entry count is the track's sample
// count.
const FieldDesc kSampleSizeFields[] = {
    {FieldType::Byte, 0, 3, "Version"},        {FieldType::Word24, kHexFormat, 3, "Flags"},
    {FieldType::DWord, 0, 2, "SampleSize"},    {FieldType::DWord, 0, 1, "NumberOfEntries"},
    {FieldType::PlainArray, -1, 3, "Entries"}, {FieldType::DWord, 0, 3, "Size"},
};
const StructDesc kSampleSize("Sample Size", "'stsz'", 12, 0, kSampleSizeFields);

enum class How {
  kWalk,        // a container: position line, then its atoms
  kSkip,        // header line, body skipped
  kDump,        // printed through its description
  kRequired,    // printed, and the walk fails when the description does not fit
  kVersioned,   // version 0 or 1 description, other versions skipped
  kHandler,     // handler reference, QuickTime or MP4 form
  kFileType,    // 'ftyp'
  kDescriptor,  // 'iods'
  kNullMedia,   // 'nmhd': an MP4 file; skipped
  kEdit,        // 'edts': its edit list in version 0 or 1
};

struct Row {
  uint32_t type;
  const char* name;
  How how;
  Container child = Container::kFile;
  const StructDesc* desc = nullptr;
  const StructDesc* desc1 = nullptr;
};

const Row kFileRows[] = {
    {FourCC("moov"), "Movie", How::kWalk, Container::kMovie},
    {FourCC("ftyp"), "File Type", How::kFileType},
    {FourCC("mdat"), "Movie Data", How::kSkip},
    {FourCC("wide"), "Atom", How::kSkip},
    {FourCC("free"), "Atom", How::kSkip},
    {FourCC("skip"), "Atom", How::kSkip},
    {FourCC("pnot"), "Atom", How::kSkip},
    {FourCC("udta"), "Atom User Data", How::kWalk, Container::kUserData},
    // A uuid atom's body is its owner's: a 16-byte extended type, then data
    // of any layout (walked as atoms, it would read as damage).
    {FourCC("uuid"), "Atom User Data", How::kSkip},
    {FourCC("meta"), "MP4 MPEG-7 Atom", How::kSkip},
    {FourCC("xml "), "MP4 MPEG-7 Atom", How::kSkip},
    {FourCC("bxml"), "MP4 MPEG-7 Atom", How::kSkip},
    {FourCC("iinf"), "ISO/IEC 14496-12 item information", How::kSkip},
    {FourCC("pitm"), "ISO/IEC 14496-12 primary item", How::kSkip},
    {FourCC("ipro"), "ISO/IEC 14496-12 item protection", How::kSkip},
    // Fragmented files: the movie's samples come in fragments after it.
    {FourCC("moof"), "Movie Fragment", How::kWalk, Container::kFragment},
    {FourCC("mfra"), "Movie Fragment Random Access", How::kWalk, Container::kFragmentIndex},
    {FourCC("sidx"), "Segment Index", How::kSkip},
    {FourCC("styp"), "Segment Type", How::kSkip},
};
const Row kMovieRows[] = {
    {FourCC("mvhd"), "Movie Header", How::kVersioned, Container::kFile, &mov::kMovieHeader0,
     &mov::kMovieHeader1},
    {FourCC("trak"), "Track", How::kWalk, Container::kTrack},
    {FourCC("udta"), "User Data", How::kWalk, Container::kUserData},
    {FourCC("iods"), "MP4 Initial Object Descriptor", How::kDescriptor},
    {FourCC("ctab"), "Color Table", How::kSkip},
    {FourCC("clip"), "Clipping", How::kSkip},
    {FourCC("cmov"), "Compressed Movie", How::kSkip},
    {FourCC("mdra"), "Movie Data reference", How::kSkip},
    {FourCC("rmra"), "Reference Movie Record", How::kSkip},
    {FourCC("mvex"), "Movie Extends", How::kWalk, Container::kMovieExtends},
    {FourCC("meta"), "Metadata", How::kSkip},
};
const Row kTrackRows[] = {
    {FourCC("tkhd"), "Track Header", How::kVersioned, Container::kFile, &mov::kTrackHeader0,
     &mov::kTrackHeader1},
    {FourCC("edts"), "Edit", How::kEdit, Container::kFile, &mov::kEdit, &mov::kEdit1},
    {FourCC("mdia"), "Media", How::kWalk, Container::kMedia},
    {FourCC("udta"), "User Data", How::kWalk, Container::kUserData},
    {FourCC("imap"), "Input Map", How::kWalk, Container::kInputMap},
    {FourCC("tref"), "Track Reference", How::kSkip},
    {FourCC("load"), "Track Reference", How::kSkip},
    {FourCC("clip"), "Track Reference", How::kSkip},
    {FourCC("matt"), "Track Reference", How::kSkip},
};
const Row kMediaRows[] = {
    {FourCC("mdhd"), "Media Header", How::kVersioned, Container::kFile, &mov::kMediaHeader0,
     &mov::kMediaHeader1},
    {FourCC("hdlr"), "Handler Reference", How::kHandler},
    {FourCC("minf"), "Media Info", How::kWalk, Container::kMediaInfo},
    {FourCC("udta"), "User Data", How::kWalk, Container::kUserData},
};
const Row kMediaInfoRows[] = {
    {FourCC("vmhd"), "Video Media Information Header", How::kRequired, Container::kFile,
     &mov::kVideoMediaHeader},
    {FourCC("smhd"), "Sound Media Information Header", How::kRequired, Container::kFile,
     &mov::kSoundMediaHeader},
    {FourCC("hmhd"), "Hint Media Header", How::kSkip},
    {FourCC("gmhd"), "Generic Media Header", How::kSkip},
    {FourCC("nmhd"), "MP4 Null Media Header", How::kNullMedia},
    {FourCC("gmin"), "Generic Media Information", How::kSkip},
    {FourCC("dinf"), "Data Information", How::kDump, Container::kFile, &mov::kDataInformation},
    {FourCC("stbl"), "Sample Table", How::kWalk, Container::kSampleTable},
    {FourCC("hdlr"), "Handler Reference", How::kHandler},
};
const Row kSampleTableRows[] = {
    {FourCC("stsd"), "Sample Description", How::kRequired, Container::kFile,
     &mov::kSampleDescription},
    {FourCC("stts"), "Sample Time To Sample Duration", How::kSkip},
    {FourCC("ctts"), "Composition Time To Samples", How::kSkip},
    {FourCC("stss"), "Key Frames (Sync Samples)", How::kSkip},
    {FourCC("stsc"), "Sample To Chunk", How::kSkip},
    {FourCC("stsz"), "Sample Size", How::kDump, Container::kFile, &kSampleSize},
    {FourCC("stco"), "Sample Chunk Offset", How::kSkip},
    {FourCC("stsh"), "Sample Shadow Sync", How::kSkip},
    {FourCC("co64"), "Atom", How::kSkip},
    {FourCC("cslg"), "Atom", How::kSkip},
    {FourCC("sdtp"), "Atom", How::kSkip},
    {FourCC("stps"), "Atom", How::kSkip},
    {FourCC("sgpd"), "Sample Group Description", How::kSkip},
    {FourCC("sbgp"), "Sample To Group", How::kSkip},
};
const Row kUserDataRows[] = {
    {FourCC("WLOC"), "Window Location", How::kDump, Container::kFile, &mov::kWindowLocation},
    {FourCC("LOOP"), "Loop", How::kDump, Container::kFile, &mov::kLoop},
    {FourCC("SelO"), "Selection Only", How::kDump, Container::kFile, &mov::kSelectionOnly},
    {FourCC("AllF"), "All Frames", How::kDump, Container::kFile, &mov::kAllFrames},
    {FourCC("ptv "), "Print To Video", How::kSkip},
};
const Row kInputMapRows[] = {
    {FourCC("\0\0in"), "Input", How::kSkip},
    {FourCC("\0\0ty"), "Input Type", How::kSkip},
    {FourCC("obid"), "obid", How::kSkip},
};

const Row kFragmentRows[] = {
    {FourCC("mfhd"), "Movie Fragment Header", How::kSkip},
    {FourCC("traf"), "Track Fragment", How::kWalk, Container::kTrackFragment},
};
const Row kTrackFragmentRows[] = {
    {FourCC("tfhd"), "Track Fragment Header", How::kSkip},
    {FourCC("tfdt"), "Track Fragment Decode Time", How::kSkip},
    {FourCC("trun"), "Track Fragment Run", How::kSkip},
    {FourCC("sdtp"), "Atom", How::kSkip},
    {FourCC("sbgp"), "Sample To Group", How::kSkip},
    {FourCC("sgpd"), "Sample Group Description", How::kSkip},
    {FourCC("saiz"), "Atom", How::kSkip},
    {FourCC("saio"), "Atom", How::kSkip},
};
const Row kMovieExtendsRows[] = {
    {FourCC("mehd"), "Movie Extends Header", How::kSkip},
    {FourCC("trex"), "Track Extends", How::kSkip},
};
const Row kFragmentIndexRows[] = {
    {FourCC("tfra"), "Track Fragment Random Access", How::kSkip},
    {FourCC("mfro"), "Movie Fragment Random Access Offset", How::kSkip},
};

struct Table {
  const Row* rows;
  size_t count;
};
template <size_t N>
constexpr Table TableOf(const Row (&rows)[N]) {
  return {rows, N};
}

Table TableFor(Container container) {
  switch (container) {
    case Container::kFile:
      return TableOf(kFileRows);
    case Container::kMovie:
      return TableOf(kMovieRows);
    case Container::kTrack:
      return TableOf(kTrackRows);
    case Container::kMedia:
      return TableOf(kMediaRows);
    case Container::kMediaInfo:
      return TableOf(kMediaInfoRows);
    case Container::kSampleTable:
      return TableOf(kSampleTableRows);
    case Container::kUserData:
      return TableOf(kUserDataRows);
    case Container::kInputMap:
      return TableOf(kInputMapRows);
    case Container::kFragment:
      return TableOf(kFragmentRows);
    case Container::kTrackFragment:
      return TableOf(kTrackFragmentRows);
    case Container::kMovieExtends:
      return TableOf(kMovieExtendsRows);
    case Container::kFragmentIndex:
      return TableOf(kFragmentIndexRows);
  }
  return {nullptr, 0};
}

// Brands of the file type atom.
const ValueName kBrandNames[] = {
    {FourCC("3g2a"), "3GPP2", kEnumValue},
    {FourCC("3ge6"), "3GPP Release 6 extended-presentation Profile", kEnumValue},
    {FourCC("3gg6"), "3GPP Release 6 General Profile", kEnumValue},
    {FourCC("3gp4"), "3GPP Release 4", kEnumValue},
    {FourCC("3gp5"), "3GPP Release 5", kEnumValue},
    {FourCC("3gp6"), "3GPP Release 6 basic Profile", kEnumValue},
    {FourCC("3gr6"), "3GPP Release 6 progressive-download Profile", kEnumValue},
    {FourCC("3gs6"), "3GPP Release 6 streaming-server Profile", kEnumValue},
    {FourCC("avc1"), "Advanced Video Coding extensions", kEnumValue},
    {FourCC("iso2"), "ISO 14496-12 (2004) Base Media", kEnumValue},
    {FourCC("isom"), "ISO 14496-1 Base Media", kEnumValue},
    {FourCC("mj2s"), "Motion JPEG 2000 simple profile", kEnumValue},
    {FourCC("mjp2"), "Motion JPEG 2000, general profile", kEnumValue},
    {FourCC("mp21"), "MPEG-21", kEnumValue},
    {FourCC("mp41"), "ISO 14496-1 vers. 1", kEnumValue},
    {FourCC("mp42"), "ISO 14496-1 vers. 2", kEnumValue},
    {FourCC("qt  "), "Quicktime Movie", kEnumValue},
    {FourCC("sdv "), "SD Video", kEnumValue},
    {FourCC("mmp4"), "3G Mobile MP4", kEnumValue},
    {FourCC("M4A "), "Apple AAC audio w/ iTunes info", kEnumValue},
    {FourCC("M4P "), "AES encrypted audio", kEnumValue},
    {FourCC("M4B "), "Apple audio w/ iTunes position", kEnumValue},
    {FourCC("mp71"), "ISO 14496-12 MPEG-7 meta data", kEnumValue},
    {FourCC("ndxh"), "ISO 14496-12 MPEG-7 meta data", kEnumValue},
};
const ValueNameTable kBrands(kEnumeration, kBrandNames);
const FieldDesc kFileTypeFields[] = {
    {FieldType::FourCC, 0, 2, "MajorBrand (http://www.mp4ra.org)", &kBrands},
    {FieldType::DWord, 0, 2, "MajorBrandVersion"},
    {FieldType::PlainArray, 0, 2, "CompatibleBrands"},
    {FieldType::FourCC, 0, 2, "CompatibleBrand", &kBrands},
};
const StructDesc kFileType("File Type", "'ftyp'", 12, 0, kFileTypeFields);

// International text items: length, language code, text.
const FieldDesc kTextFields[] = {
    {FieldType::PlainArray, 0, 1, "Text"},
    {FieldType::Word, 0, 3, "Length"},
    {FieldType::Word, 0, 3, "Language"},
    {FieldType::AString, -2, 1, "Text"},
};
const StructDesc kInternationalText("", "", 0, 0, kTextFields);

const char* ExtendedTypeNote(uint8_t type) {
  return type == 0x80 ? " (Start)" : type == 0xFE ? " (End)" : " (Unknown)";
}

}  // namespace

CMOVParser::CMOVParser(RunOptions options, ReportOutput& output)
    : CRIFFParser(std::move(options), output) {
  bigEndian_ = true;
  wordAligned_ = false;
}

bool CMOVParser::Parse(const std::string& sourcePath, const std::string& outputPath) {
  bool ok = false;
  RunParse(sourcePath, outputPath, [this, &ok](int depth) {
    const int inner = OpeningLine(depth);
    // A file that ends inside an atom is cut, however well the rest reads.
    ok = Walk(Container::kFile, FileSize(), inner) && !truncated_;
    verdict_ = !ok    ? "This might not be a valid Apple Quicktime file."
               : mp4_ ? "This is a Apple Quicktime MPEG-4 file."
                      : "This is a Apple Quicktime file.";
  });
  return ok;
}

// Atoms follow each other by their sizes. One larger than what is left of
// its container is cut to it; one smaller than its own header ends the
// container; bytes that cannot hold another atom are reported and skipped.
bool CMOVParser::Walk(Container container, uint64_t remaining, int depth) {
  const uint64_t end = CurrentPosition() + remaining;
  if (nesting_ >= kMaxListNesting) {
    report_.Message("Atoms nested too deep, skipped!", depth, kError);
    return Seek(end);
  }
  ++nesting_;
  bool ok = true;
  for (;;) {
    const uint64_t here = CurrentPosition();
    const uint64_t left = end > here ? end - here : 0;
    if (left < 8) break;
    if (container == Container::kFile && here >= FileSize()) {
      ok = false;
      break;
    }
    Atom atom;
    if (!ReadAtom(atom, left, depth)) {
      ok = false;
      break;
    }
    if (atom.size < atom.header) break;
    if (!Handle(container, atom, depth)) {
      ok = false;
      break;
    }
    // The next atom starts where this one ends, whatever its handler read.
    if (CurrentPosition() != atom.start + atom.size && !Seek(atom.start + atom.size)) {
      ok = false;
      break;
    }
  }
  --nesting_;
  if (!ok) return false;
  const uint64_t here = CurrentPosition();
  if (end > here) {
    report_.Message(kSizeMismatch, depth, kError);
    if (!options_.scan.subchunkEnforcesParentSize) {
      return SkipChecked(end - here, Verbosity() != 0 ? depth + 1 : 0);
    }
  }
  return true;
}

// The size and type of the atom at the current position: size 0 runs to the
// end of the container, size 1 has a 64-bit size behind the type.
bool CMOVParser::ReadAtom(Atom& atom, uint64_t remaining, int depth) {
  atom.start = CurrentPosition();
  uint8_t bytes[8];
  if (!ReadChecked(bytes, sizeof bytes, depth, true)) return false;
  ByteReader reader(bytes, sizeof bytes, true);
  uint64_t size = reader.U32();
  atom.type = reader.FourCC();
  if (size == 1) {
    uint8_t wide[8];
    if (!ReadChecked(wide, sizeof wide, depth, true)) return false;
    size = ByteReader(wide, sizeof wide, true).U64();
    atom.header = 16;
  } else if (size == 0) {
    size = remaining;
  }
  const uint64_t toEnd = FileSize() - std::min(FileSize(), atom.start);
  if (size > toEnd) {
    report_.Message("Chunk size greater File size, File may be truncated!", depth, kError);
    truncated_ = true;
  }
  if (size > remaining) {
    report_.Message("Token Size greater Chunk Size!", depth, kError);
    size = remaining;
  }
  atom.size = size;
  return true;
}

bool CMOVParser::Handle(Container container, const Atom& atom, int depth) {
  const Table table = TableFor(container);
  const Row* row = std::find_if(table.rows, table.rows + table.count,
                                [&](const Row& r) { return r.type == atom.type; });
  if (row == table.rows + table.count) {
    // User data: texts of the international list begin with the copyright
    // sign; any other atom there is simply skipped.
    if (container == Container::kUserData) {
      if ((atom.type & 0xFF) == 0xA9) return InternationalText(atom, depth);
      return Skip(atom, "Atom", depth);
    }
    return Unknown(atom, container == Container::kSampleTable ? kWarning : kError, depth);
  }
  switch (row->how) {
    case How::kWalk:
      return Walk(row->child, atom.Body(), PositionLine(atom, row->name, depth));
    case How::kSkip:
      return Skip(atom, row->name, depth);
    case How::kDump:
      Dump(atom, *row->desc, depth);
      return true;
    case How::kRequired:
      return Dump(atom, *row->desc, depth);
    case How::kVersioned:
      return Versioned(atom, *row->desc, *row->desc1, depth);
    case How::kHandler:
      return Dump(atom, mp4_ ? mov::kHandlerMp4 : mov::kHandlerQuickTime, depth);
    case How::kFileType:
      return FileType(atom, depth);
    case How::kDescriptor:
      return ObjectDescriptor(atom, depth);
    case How::kEdit: {
      // The edit list's version byte follows its own 8-byte header.
      uint8_t version = 0;
      ReadAt(CurrentPosition() + 8, &version, 1);
      return Dump(atom, version == 1 ? *row->desc1 : *row->desc, depth);
    }
    case How::kNullMedia:
      mp4_ = true;
      return Skip(atom, row->name, depth);
  }
  return false;
}

int CMOVParser::PositionLine(const Atom& atom, const char* name, int depth) {
  return ChunkHeaderLine(FourCCText(atom.type), "", atom.size, atom.start, name, depth);
}

bool CMOVParser::Skip(const Atom& atom, const char* name, int depth) {
  const int inner = PositionLine(atom, name, depth);
  return SkipChecked(atom.Body(), Verbosity() >= 4 ? inner : 0);
}

bool CMOVParser::Unknown(const Atom& atom, int level, int depth) {
  const int inner = PositionLine(atom, "??? Atom", depth);
  report_.Message(kUnexpectedToken, inner, level);
  return SkipChecked(atom.Body(), Verbosity() >= 4 ? inner : 0);
}

// True when the description took the body exactly.
bool CMOVParser::Dump(const Atom& atom, const StructDesc& desc, int depth) {
  if (atom.Body() > kMaxDumpedBody) {
    const int inner = PositionLine(atom, desc.name, depth);
    report_.Message("Atom too large to show, skipped!", inner, kWarning);
    return SkipChecked(atom.Body(), 0);
  }
  const uint32_t consumed = StructureDumper::DumpStructure(
      *this, depth, atom.header, static_cast<uint32_t>(atom.size), static_cast<uint32_t>(atom.size),
      desc, options_.report.indxTraceLimit);
  return consumed == atom.Body();
}

bool CMOVParser::Versioned(const Atom& atom, const StructDesc& version0, const StructDesc& version1,
                           int depth) {
  uint8_t version = 0xFF;
  // An atom of nothing but its header has no version to read.
  if (atom.Body() > 0) ReadAt(CurrentPosition(), &version, 1);
  if (version == 0) return Dump(atom, version0, depth);
  if (version == 1) return Dump(atom, version1, depth);
  return Skip(atom, version0.name, depth);
}

// The brands say MP4 unless the major one is QuickTime's own.
bool CMOVParser::FileType(const Atom& atom, int depth) {
  const bool whole = Dump(atom, kFileType, depth);
  uint8_t brand[4] = {};
  if (atom.Body() >= 4 && ReadAt(atom.start + atom.header, brand, sizeof brand)) {
    mp4_ = FourCCFromBytes(brand) != FourCC("qt  ");
  }
  return whole;
}

// The initial object descriptor, read by hand within its atom.
bool CMOVParser::ObjectDescriptor(const Atom& atom, int depth) {
  const int inner = PositionLine(atom, "MP4 Initial Object Descriptor", depth);
  std::vector<uint8_t> body(static_cast<size_t>(std::min(atom.Body(), kMaxDescriptorBody)));
  if (!ReadChecked(body.data(), body.size(), inner, true)) return false;
  if (Verbosity() == 0) return true;
  ByteReader reader(body.data(), body.size(), true);
  auto line = [&](const std::string& text) { report_.PlainLine(text, inner); };
  auto hex = [](uint64_t value, int digits) { return "0x" + FieldFormat::Hex(value, digits); };
  auto lengthBytes = [&]() {
    uint8_t byte = reader.U8();
    while (byte >= 0x80 && !reader.Short()) {
      line("extended descriptor type: " + hex(byte, 2) + ExtendedTypeNote(byte));
      byte = reader.U8();
    }
    line("DescriptorTypeLength: " + std::to_string(byte));
    return byte;
  };
  line("Version: " + std::to_string(reader.U8()));
  const uint32_t flags = reader.U24();
  line("Flags: " + hex(flags, 6));
  line("IOD Type: " + hex(reader.U8(), 2));
  lengthBytes();
  line("OD ID: " + std::to_string(reader.U16()));
  for (const char* name : {"ODProfileLevel: ", "SceneProfileLevel: ", "AudioProfileLevel: ",
                           "VideoProfileLevel: ", "GraphicsProfileLevel: "}) {
    line(name + std::to_string(reader.U8()));
  }
  while (reader.Remaining() >= 2 && !reader.Short()) {
    line("ES ID IncludedDescriptorTypeTag: " + hex(reader.U8(), 2));
    const uint8_t length = lengthBytes();
    if (length == 4) {
      const uint32_t track = reader.U32();
      line("TrackID: " + hex(track, 8));
      line("TrackID: " + std::to_string(track));
    } else {
      reader.Skip(length);
    }
  }
  return true;
}

bool CMOVParser::InternationalText(const Atom& atom, int depth) {
  Dump(atom, kInternationalText, PositionLine(atom, "Text International", depth));
  return true;
}
