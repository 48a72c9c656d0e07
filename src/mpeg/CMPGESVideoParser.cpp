#include "mpeg/CMPGESVideoParser.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "core/Report.h"

namespace {

// The report levels of the field lines: slices are the bulk of a stream and
// are shown only on request.
constexpr uint32_t kHeaderLevel = 2;
constexpr uint32_t kGopLevel = 3;
constexpr uint32_t kUserDataLevel = 3;
constexpr uint32_t kSliceLevel = 4;
constexpr uint32_t kMatrixLevel = 4;

// Picture coding types; type 4 (D pictures of MPEG-1) and the reserved ones
// are undefined here.
constexpr uint32_t kIPicture = 1;
constexpr uint32_t kPPicture = 2;
constexpr uint32_t kBPicture = 3;

constexpr uint8_t kPictureCode = 0x00;
constexpr uint8_t kLastSliceCode = 0xAF;

// Slices above picture line 2800 carry three more bits of their position.
constexpr uint32_t kTallPictureLines = 2800;
// scalable_mode values of a sequence scalable extension.
constexpr uint32_t kDataPartitioning = 0;
constexpr uint32_t kSpatialScalability = 1;
constexpr uint32_t kTemporalScalability = 3;

template <size_t N>
const char* TableText(const char* const (&table)[N], uint64_t value, const char* other) {
  return value < N && table[value] ? table[value] : other;
}

const char* const kCodingTypes[] = {nullptr, " (I-Frame)", " (P-Frame)", " (B-Frame)"};
const char* const kAspectRatios[] = {" (forbidden)", " (1:1)", " (4:3)", " (16:9)", " (2.21:1)"};
const char* const kFrameRates[] = {" (forbidden)", " (24000/1001 (23.976 fps))", " (24 fps)",
                                   " (25 fps)",    " (30000/1001 (29.97 fps))",  " (30 fps)",
                                   " (50 fps)",    " (60000/1001 (59.94 fps))",  " (60 fps)"};
const char* const kProfiles[] = {nullptr,           " (High)", " (Spatially Scalable)",
                                 " (SNR Scalable)", " (Main)", " (Simple)"};
const char* const kLevels[] = {nullptr,        nullptr, nullptr,   nullptr, " (High)", nullptr,
                               " (High 1440)", nullptr, " (Main)", nullptr, " (Low)"};
const char* const kVideoFormats[] = {nullptr,    " (PAL)", " (NTSC)",
                                     " (SECAM)", " (MAC)", " (Unspecified video format)"};

// "0xb3": the code byte as the unit's chunk line shows it.
std::string CodeText(uint8_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", code);
  return text;
}

std::string TwoDigits(uint64_t value) {
  return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

// The number of zero bytes (at most two) that end `carried` zero bytes
// followed by `data`.
size_t TrailingZeros(const uint8_t* data, size_t size, size_t carried) {
  size_t zeros = 0;
  while (zeros < 2 && zeros < size && data[size - 1 - zeros] == 0) ++zeros;
  if (zeros == size) zeros = std::min<size_t>(2, size + carried);
  return zeros;
}

}  // namespace

bool CMPGParser::CMPGESVideoParser::Parse(const uint8_t* data, size_t size, uint64_t position,
                                          bool packetized, int depth) {
  ++packets;
  if (data == nullptr || size == 0) return true;
  const size_t carried = ResolveZeroTail(data, size, depth);
  size_t at = 0;
  if (hasPending_) {
    at = FinishPendingUnit(data, size, position, packetized, depth);
  } else {
    at = SkipToStartCode(data, size, position, carried, depth);
  }
  WalkUnits(data, size, at, position, packetized, depth);
  previousEnd_ = position + size;
  return true;
}

// A payload that ended in zero bytes outside any unit may have ended with
// the first bytes of a start code: they begin a pending unit when this
// payload completes the start code, and are skipped otherwise (the count
// returned).
size_t CMPGParser::CMPGESVideoParser::ResolveZeroTail(const uint8_t* data, size_t size, int depth) {
  const size_t zeros = zeroTail_;
  zeroTail_ = 0;
  if (zeros == 0) return 0;
  std::array<uint8_t, 5> joined{};  // the zeros, then the payload's first bytes
  const size_t taken = std::min<size_t>(size, 3);
  std::copy(data, data + taken, joined.begin() + zeros);
  const size_t start = BitReader::FindStartCode(joined.data(), zeros + taken, 0);
  if (start >= zeros) return zeros;
  if (start > 0) owner_.ChunkHeaderLine("Skipping", "", start, previousEnd_ - zeros, "", depth);
  StartPendingUnit(joined.data() + start, zeros - start, previousEnd_ - (zeros - start));
  return 0;
}

// Without a unit going on, the bytes up to the first start code (and the
// `carried` zero bytes before the payload) belong to no unit.
size_t CMPGParser::CMPGESVideoParser::SkipToStartCode(const uint8_t* data, size_t size,
                                                      uint64_t position, size_t carried,
                                                      int depth) {
  const size_t first = BitReader::FindStartCode(data, size, 0);
  // Zeros at the very end may be the first bytes of a start code that the
  // next payload completes: they wait for it.
  const size_t waiting = first == size ? TrailingZeros(data, size, carried) : 0;
  const uint64_t skipped = carried + first - waiting;
  if (skipped > 0) {
    const uint64_t from = carried > 0 ? previousEnd_ - carried : position;
    owner_.ChunkHeaderLine("Skipping", "", skipped, from, "", depth);
  }
  zeroTail_ = waiting;
  return first;
}

// Ends the pending unit at the next start code, which may have begun in the
// unit's last bytes, and parses it. Returns the offset in `data` where the
// next unit begins, or `size` when the whole payload joined the pending unit.
size_t CMPGParser::CMPGESVideoParser::FinishPendingUnit(const uint8_t* data, size_t size,
                                                        uint64_t position, bool packetized,
                                                        int depth) {
  for (;;) {
    const int64_t end = PendingUnitEnd(data, size);
    if (end >= static_cast<int64_t>(size)) {
      AnnounceBuffering(size, position, packetized, depth);
      AppendToPendingUnit(data, size);
      return size;
    }
    if (pending_.announced) {
      owner_.ChunkHeaderLine("Buffered", "", pending_.length, pending_.position, "", depth);
    }
    if (end >= 0) {
      AppendToPendingUnit(data, static_cast<size_t>(end));
      hasPending_ = false;
      ParseUnit(pending_.kept.data(), pending_.kept.size(), pending_.length, pending_.position,
                depth);
      return static_cast<size_t>(end);
    }
    // The start code's first bytes are the unit's last ones: they move to a
    // new pending unit, which this payload goes on.
    const size_t moved = static_cast<size_t>(-end);
    std::array<uint8_t, 3> prefix{};
    std::copy(pending_.tail.begin() + (pending_.tailLength - moved),
              pending_.tail.begin() + pending_.tailLength, prefix.begin());
    pending_.length -= moved;
    if (pending_.kept.size() > pending_.length) pending_.kept.resize(pending_.length);
    hasPending_ = false;
    ParseUnit(pending_.kept.data(), pending_.kept.size(), pending_.length, pending_.position,
              depth);
    StartPendingUnit(prefix.data(), moved, previousEnd_ - moved);
  }
}

void CMPGParser::CMPGESVideoParser::Finish(int depth) {
  if (!hasPending_) return;
  hasPending_ = false;
  ParseUnit(pending_.kept.data(), pending_.kept.size(), pending_.length, pending_.position, depth);
}

// The offset from data[0] of the start code after the pending unit's own:
// negative when it begins in the unit's last bytes, `size` when there is
// none. The unit's code byte never begins the next start code.
int64_t CMPGParser::CMPGESVideoParser::PendingUnitEnd(const uint8_t* data, size_t size) const {
  const uint64_t length = pending_.length;
  const size_t tail = pending_.tailLength;
  // The tail holds min(length, 3) bytes, so 4 + tail - length stays small.
  const size_t from = length >= 4 + tail ? 0 : static_cast<size_t>(4 + tail - length);
  if (from < tail) {
    std::array<uint8_t, 6> joined{};
    std::copy(pending_.tail.begin(), pending_.tail.begin() + tail, joined.begin());
    const size_t taken = std::min<size_t>(size, 3);
    std::copy(data, data + taken, joined.begin() + tail);
    const size_t start = BitReader::FindStartCode(joined.data(), tail + taken, from);
    if (start < tail) return static_cast<int64_t>(start) - static_cast<int64_t>(tail);
  }
  const size_t dataFrom = length >= 4 ? 0 : static_cast<size_t>(4 - length);
  return static_cast<int64_t>(BitReader::FindStartCode(data, size, dataFrom));
}

void CMPGParser::CMPGESVideoParser::WalkUnits(const uint8_t* data, size_t size, size_t at,
                                              uint64_t position, bool packetized, int depth) {
  while (at < size) {
    const size_t next = BitReader::FindStartCode(data, size, at + 4);
    if (next >= size) {
      StartPendingUnit(data + at, size - at, position + at);
      AnnounceBuffering(size - at, position + at, packetized, depth);
      return;
    }
    ParseUnit(data + at, next - at, next - at, position + at, depth);
    at = next;
  }
}

// Joins are told for PES payloads only, and not for the slices whose own
// lines are hidden. A unit whose buffering was told is told joined.
void CMPGParser::CMPGESVideoParser::AnnounceBuffering(uint64_t size, uint64_t position,
                                                      bool packetized, int depth) {
  if (!packetized) return;
  if (owner_.Verbosity() < kSliceLevel && pending_.kept.size() >= 4) {
    const uint8_t code = pending_.kept[3];
    if (code > kPictureCode && code <= kLastSliceCode) return;
  }
  owner_.ChunkHeaderLine("Buffering", "", size, position, "", depth);
  pending_.announced = true;
}

void CMPGParser::CMPGESVideoParser::StartPendingUnit(const uint8_t* bytes, size_t size,
                                                     uint64_t position) {
  hasPending_ = true;
  pending_.kept.clear();
  pending_.kept.reserve(kKeptUnitBytes);
  pending_.length = 0;
  pending_.position = position;
  pending_.tailLength = 0;
  pending_.announced = false;
  AppendToPendingUnit(bytes, size);
}

void CMPGParser::CMPGESVideoParser::AppendToPendingUnit(const uint8_t* bytes, size_t size) {
  const size_t room = kKeptUnitBytes - std::min(pending_.kept.size(), kKeptUnitBytes);
  pending_.kept.insert(pending_.kept.end(), bytes, bytes + std::min(size, room));
  pending_.length += size;
  // The last three bytes of the old tail and the new bytes.
  std::array<uint8_t, 6> last{};
  std::copy(pending_.tail.begin(), pending_.tail.begin() + pending_.tailLength, last.begin());
  const size_t taken = std::min<size_t>(size, 3);
  std::copy(bytes + size - taken, bytes + size, last.begin() + pending_.tailLength);
  const size_t total = pending_.tailLength + taken;
  pending_.tailLength = std::min<size_t>(total, 3);
  std::copy(last.begin() + (total - pending_.tailLength), last.begin() + total,
            pending_.tail.begin());
}

void CMPGParser::CMPGESVideoParser::ParseUnit(const uint8_t* unit, size_t available,
                                              uint64_t length, uint64_t position, int depth) {
  struct UnitKind {
    uint8_t code;
    const char* name;
    UnitParseFn parse;
  };
  static constexpr UnitKind kUnits[] = {
      {0x00, "Picture Start Code", &CMPGESVideoParser::ParsePicture},
      {0xB0, "Reserved", &CMPGESVideoParser::ParseNothing},
      {0xB1, "Reserved", &CMPGESVideoParser::ParseNothing},
      {0xB2, "User Data Start Code", &CMPGESVideoParser::ParseUserData},
      {0xB3, "Sequence Header Code", &CMPGESVideoParser::ParseSequenceHeader},
      {0xB4, "Sequence Error", &CMPGESVideoParser::ParseNothing},
      {0xB5, "Extension Start Code", &CMPGESVideoParser::ParseExtension},
      {0xB6, "Reserved", &CMPGESVideoParser::ParseNothing},
      {0xB7, "Sequence End Code", &CMPGESVideoParser::ParseNothing},
      {0xB8, "GOP Start Code", &CMPGESVideoParser::ParseGroupOfPictures},
      {0xB9, "Program End Code", &CMPGESVideoParser::ParseNothing},
  };
  owner_.Tick();
  if (available < 4) return;  // units are cut at least a start code long
  const uint8_t code = unit[3];
  BitReader bits(unit + 4, available - 4);
  int inner = depth + 1;
  if (code > kPictureCode && code <= kLastSliceCode) {
    // Slice lines are many: they are shown only at their own level.
    if (owner_.Verbosity() < kSliceLevel) return;
    inner = owner_.ChunkHeaderLine(CodeText(code), "", length, position, "Video Slice", depth);
    ParseSlice(bits, code, inner);
  } else {
    const UnitKind* kind = std::find_if(std::begin(kUnits), std::end(kUnits),
                                        [code](const UnitKind& k) { return k.code == code; });
    if (kind == std::end(kUnits)) {
      inner = owner_.ChunkHeaderLine("Header", "", length, position, "", depth);
      owner_.Error("Unknown Marker in ES Packet", inner);
      return;
    }
    inner = owner_.ChunkHeaderLine(CodeText(code), "", length, position, kind->name, depth);
    (this->*kind->parse)(bits, inner);
  }
  if (bits.Overrun()) owner_.Error("Unit ends inside its header!", inner);
}

void CMPGParser::CMPGESVideoParser::Value(const char* label, uint64_t value, int depth,
                                          uint32_t level) {
  owner_.Field(label, std::to_string(value), depth, level);
}

void CMPGParser::CMPGESVideoParser::Value(const char* label, uint64_t value, const char* note,
                                          int depth, uint32_t level) {
  owner_.Field(label, std::to_string(value) + note, depth, level);
}

// Marker bits of 1 and stuffing bits of 0: a wrong value is told and the
// unit read on.
void CMPGParser::CMPGESVideoParser::Marker(BitReader& bits, unsigned count, uint64_t expected,
                                           const char* warning, int depth) {
  if (bits.Bits(count) != expected && !bits.Overrun()) owner_.Warning(warning, depth);
}

void CMPGParser::CMPGESVideoParser::QuantiserMatrix(BitReader& bits, int depth) {
  std::string values;
  for (int i = 0; i < 64; ++i) {
    if (i > 0) values += ' ';
    values += std::to_string(bits.Bits(8));
  }
  owner_.Field("QMatrix:", values, depth, kMatrixLevel);
}

void CMPGParser::CMPGESVideoParser::AddPictureMark(uint32_t codingType) {
  if (codingType == kIPicture) ++iPictures_;
  if (patternFull_) return;
  const char* mark = codingType == kIPicture   ? " I"
                     : codingType == kPPicture ? "P"
                     : codingType == kBPicture ? "B"
                                               : "?";
  // Once a mark does not fit the pattern stops, so it never skips a picture.
  if (text.size() + std::char_traits<char>::length(mark) > kPatternLength) {
    patternFull_ = true;
    return;
  }
  text += mark;
  textSet = true;
}

void CMPGParser::CMPGESVideoParser::ParsePicture(BitReader& bits, int depth) {
  ++chunks;
  Value("Temporal Sequence Nr:", bits.Bits(10), depth, kHeaderLevel);
  const uint32_t type = static_cast<uint32_t>(bits.Bits(3));
  Value("Frame Type:", type, TableText(kCodingTypes, type, " (Undefined)"), depth, kHeaderLevel);
  AddPictureMark(type);
  Value("VBV Delay:", bits.Bits(16), depth, kHeaderLevel);
  if (type == kPPicture || type == kBPicture) {
    Value("full_pel_forward_vector:", bits.Bits(1), depth, kHeaderLevel);
    Value("forward_f_code:", bits.Bits(3), depth, kHeaderLevel);
  }
  if (type == kBPicture) {
    Value("full_pel_backward_vector:", bits.Bits(1), depth, kHeaderLevel);
    Value("backward_f_code:", bits.Bits(3), depth, kHeaderLevel);
  }
  // Each extra byte is announced by a 1 bit; a read past the unit gives 0.
  std::string extra;
  while (bits.Bit()) {
    if (!extra.empty()) extra += ' ';
    extra += std::to_string(bits.Bits(8));
  }
  if (!extra.empty()) owner_.Field("Additional Data:", extra, depth, kHeaderLevel);
}

void CMPGParser::CMPGESVideoParser::ParseUserData(BitReader& bits, int depth) {
  if (owner_.Verbosity() < kUserDataLevel || bits.BytesLeft() == 0) return;
  owner_.Reporter().HexDump(bits.Current(), bits.BytesLeft(), depth, owner_.Verbosity());
}

void CMPGParser::CMPGESVideoParser::ParseSequenceHeader(BitReader& bits, int depth) {
  Value("Horizontal Size:", bits.Bits(12), depth, kHeaderLevel);
  verticalSize_ = static_cast<uint32_t>(bits.Bits(12));
  Value("Vertical Size:", verticalSize_, depth, kHeaderLevel);
  const uint64_t aspect = bits.Bits(4);
  Value("Aspect Ratio:", aspect, TableText(kAspectRatios, aspect, " (reserved)"), depth,
        kHeaderLevel);
  const uint64_t rate = bits.Bits(4);
  Value("Frame Rate:", rate, TableText(kFrameRates, rate, " (reserved)"), depth, kHeaderLevel);
  Value("Bit Rate:", bits.Bits(18), depth, kHeaderLevel);
  Marker(bits, 1, 1, "Wrong marker, expected 1", depth);
  Value("VBV Buffer Size:", bits.Bits(10), depth, kHeaderLevel);
  Value("Constrained Parameters Flag:", bits.Bits(1), depth, kHeaderLevel);
  for (const char* label : {"load_intra_quantiser_matrix:", "load_non_intra_quantiser_matrix:"}) {
    const bool load = bits.Bit();
    Value(label, load, depth, kHeaderLevel);
    if (load) QuantiserMatrix(bits, depth);
  }
  dataPartitioned_ = false;  // until a sequence scalable extension says so
  owner_.SetFileType(CMPGParser::kMpeg2Program);
}

void CMPGParser::CMPGESVideoParser::ParseExtension(BitReader& bits, int depth) {
  struct ExtensionKind {
    const char* name;
    UnitParseFn parse;
  };
  static constexpr ExtensionKind kExtensions[] = {
      {nullptr, nullptr},
      {" (Sequence Extension)", &CMPGESVideoParser::ParseSequenceExtension},
      {" (Sequence Display Extension)", &CMPGESVideoParser::ParseSequenceDisplayExtension},
      {" (Quant Matrix Extension)", &CMPGESVideoParser::ParseNothing},
      {" (Copyright Extension)", &CMPGESVideoParser::ParseNothing},
      {" (Sequence Scalable Extension)", &CMPGESVideoParser::ParseSequenceScalableExtension},
      {nullptr, nullptr},
      {" (Picture Display Extension)", &CMPGESVideoParser::ParseNothing},
      {" (Picture Coding Extension)", &CMPGESVideoParser::ParsePictureCodingExtension},
      {" (Picture Spatial Scalable Extension)", &CMPGESVideoParser::ParseNothing},
      {" (A Picture Temporal Scalable Extension)", &CMPGESVideoParser::ParseNothing},
  };
  const uint64_t type = bits.Bits(4);
  const ExtensionKind* kind =
      type < std::size(kExtensions) && kExtensions[type].name ? &kExtensions[type] : nullptr;
  Value("Extension Type:", type, kind ? kind->name : " (undefined)", depth, kHeaderLevel);
  if (!kind) {
    owner_.Error("Unexpected Extension Type: " + std::to_string(type), depth);
    return;
  }
  (this->*kind->parse)(bits, depth);
}

void CMPGParser::CMPGESVideoParser::ParseSequenceExtension(BitReader& bits, int depth) {
  const uint64_t profileAndLevel = bits.Bits(8);
  Value("Profile and Level:", profileAndLevel, depth, kHeaderLevel);
  Value("Escape Bit:", profileAndLevel >> 7, depth, kHeaderLevel);
  const uint64_t profile = (profileAndLevel >> 4) & 7;
  Value("Profile:", profile, TableText(kProfiles, profile, " (Reserved)"), depth, kHeaderLevel);
  const uint64_t level = profileAndLevel & 15;
  Value("Level:", level, TableText(kLevels, level, " (Reserved)"), depth, kHeaderLevel);
  Value("Progressive Sequence:", bits.Bits(1), depth, kHeaderLevel);
  Value("Chroma Format:", bits.Bits(2), depth, kHeaderLevel);
  Value("Horizontal Size Extension:", bits.Bits(2), depth, kHeaderLevel);
  const uint64_t verticalExtension = bits.Bits(2);
  verticalSize_ = (verticalSize_ & 0xFFF) | static_cast<uint32_t>(verticalExtension << 12);
  Value("Vertical Size Extension:", verticalExtension, depth, kHeaderLevel);
  Value("Bitrate Extension:", bits.Bits(12), depth, kHeaderLevel);
  Marker(bits, 1, 1, "Wrong marker, expected 1", depth);
  Value("VBV Buffer Size Extension:", bits.Bits(8), depth, kHeaderLevel);
  Value("Low Delay:", bits.Bits(1), depth, kHeaderLevel);
  Value("Frame Rate Extension n:", bits.Bits(2), depth, kHeaderLevel);
  Value("Frame Rate Extension d:", bits.Bits(5), depth, kHeaderLevel);
}

void CMPGParser::CMPGESVideoParser::ParseSequenceDisplayExtension(BitReader& bits, int depth) {
  const uint64_t format = bits.Bits(3);
  Value("Video Format:", format, TableText(kVideoFormats, format, " (reserved)"), depth,
        kHeaderLevel);
  const bool colour = bits.Bit();
  Value("Color Description Flag:", colour, depth, kHeaderLevel);
  if (colour) {
    Value("Color Primaries:", bits.Bits(8), depth, kHeaderLevel);
    Value("Transfer Characteristics:", bits.Bits(8), depth, kHeaderLevel);
    Value("Matrix Coefficients:", bits.Bits(8), depth, kHeaderLevel);
  }
  Value("Display Horizontal Size:", bits.Bits(14), depth, kHeaderLevel);
  Marker(bits, 1, 1, "Wrong marker, expected 1", depth);
  Value("Display Vertical Size:", bits.Bits(14), depth, kHeaderLevel);
}

void CMPGParser::CMPGESVideoParser::ParseSequenceScalableExtension(BitReader& bits, int depth) {
  const uint64_t mode = bits.Bits(2);
  dataPartitioned_ = mode == kDataPartitioning && !bits.Overrun();
  Value("scalable_mode:", mode, depth, kHeaderLevel);
  Value("layer:", bits.Bits(4), depth, kHeaderLevel);
  if (mode == kSpatialScalability) {
    Value("lower_layer_prediction_h_size:", bits.Bits(14), depth, kHeaderLevel);
    Marker(bits, 1, 1, "Wrong marker, expected 1", depth);
    Value("lower_layer_prediction_v_size:", bits.Bits(14), depth, kHeaderLevel);
    Value("h_subsampling_facter_m:", bits.Bits(5), depth, kHeaderLevel);
    Value("h_subsampling_facter_n:", bits.Bits(5), depth, kHeaderLevel);
    Value("v_subsampling_facter_m:", bits.Bits(5), depth, kHeaderLevel);
    Value("v_subsampling_facter_n:", bits.Bits(5), depth, kHeaderLevel);
  } else if (mode == kTemporalScalability) {
    const bool mux = bits.Bit();
    Value("picture_mux_enable:", mux, depth, kHeaderLevel);
    if (mux) Value("mux_to_progressive_sequence:", bits.Bits(1), depth, kHeaderLevel);
    Value("pixture_mux_order:", bits.Bits(3), depth, kHeaderLevel);
    Value("pixture_mux_facter:", bits.Bits(3), depth, kHeaderLevel);
  }
}

void CMPGParser::CMPGESVideoParser::ParsePictureCodingExtension(BitReader& bits, int depth) {
  static constexpr const char* kFlags[] = {
      "Top_Field_First:",    "frame_pred_frame_dct:", "concealment_motion_vectors:",
      "q_scale_type:",       "intra_vlc_format:",     "alternate_scan:",
      "Repeat_First_Field:", "chroma_420_type:",      "progressive_frame:"};
  Value("f_code[0][0] (forward horizontal):", bits.Bits(4), depth, kHeaderLevel);
  Value("f_code[0][1] (forward vertical):", bits.Bits(4), depth, kHeaderLevel);
  Value("f_code[1][0] (backward horizontal):", bits.Bits(4), depth, kHeaderLevel);
  Value("f_code[1][1] (backward vertical):", bits.Bits(4), depth, kHeaderLevel);
  Value("intra_DC_precision:", bits.Bits(2), depth, kHeaderLevel);
  Value("picture_structure:", bits.Bits(2), depth, kHeaderLevel);
  for (const char* flag : kFlags) Value(flag, bits.Bits(1), depth, kHeaderLevel);
  const bool composite = bits.Bit();
  Value("composite_display:", composite, depth, kHeaderLevel);
  if (composite) {
    Value("v_axis:", bits.Bits(1), depth, kHeaderLevel);
    Value("field_sequence:", bits.Bits(3), depth, kHeaderLevel);
    Value("sub_carrier:", bits.Bits(1), depth, kHeaderLevel);
    Value("burst_amplitude:", bits.Bits(7), depth, kHeaderLevel);
    Value("sub_carrier_phase:", bits.Bits(8), depth, kHeaderLevel);
    // 54 bits with the extension type: two stuffing bits to the byte.
    Marker(bits, 2, 0, "Wrong marker, expected 00", depth);
  } else {
    // 34 bits with the extension type: six stuffing bits to the byte.
    Marker(bits, 6, 0, "Wrong marker, expected 000000", depth);
  }
}

void CMPGParser::CMPGESVideoParser::ParseGroupOfPictures(BitReader& bits, int depth) {
  Value("Drop Frame Flag:", bits.Bits(1), depth, kGopLevel);
  const uint64_t hours = bits.Bits(5);
  const uint64_t minutes = bits.Bits(6);
  Marker(bits, 1, 1, "Wrong marker, expected 1", depth);
  const uint64_t seconds = bits.Bits(6);
  const uint64_t pictures = bits.Bits(6);
  owner_.Field("Timecode:",
               TwoDigits(hours) + ':' + TwoDigits(minutes) + ':' + TwoDigits(seconds) + ':' +
                   TwoDigits(pictures),
               depth, kGopLevel);
  Value("Closed GOP Flag:", bits.Bits(1), depth, kGopLevel);
  Value("Broken GOP Flag:", bits.Bits(1), depth, kGopLevel);
}

void CMPGParser::CMPGESVideoParser::ParseSlice(BitReader& bits, uint8_t code, int depth) {
  uint64_t row = code;
  // Pictures over 2800 lines put three more bits of the row first.
  if (verticalSize_ > kTallPictureLines) row += bits.Bits(3) << 7;
  Value("Slice Vertical Position:", row, depth, kSliceLevel);
  if (dataPartitioned_) Value("Priority Breakpoint:", bits.Bits(7), depth, kSliceLevel);
  Value("quantiser_scale_code:", bits.Bits(5), depth, kSliceLevel);
  // A 0 here is the bit that ends the slice header.
  const bool intraFlag = bits.Bit();
  Value("Intra Slice Flag:", intraFlag, depth, kSliceLevel);
  if (!intraFlag) return;
  Value("Intra Slice:", bits.Bits(1), depth, kSliceLevel);
  Value("Reserved Bits:", bits.Bits(7), depth, kSliceLevel);
  while (bits.Bit()) {
    Value("Extra Bit Slice:", 1, depth, kSliceLevel);
    Value("Extra Information Slice:", bits.Bits(8), depth, kSliceLevel);
  }
}
