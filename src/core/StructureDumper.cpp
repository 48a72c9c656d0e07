#include "core/StructureDumper.h"

#include <algorithm>
#include <vector>

#include "core/ByteReader.h"
#include "core/CParser.h"
#include "core/FieldFormat.h"
#include "core/FieldValues.h"
#include "core/StructureHooks.h"
#include "core/Utf16Text.h"

namespace {

constexpr uint64_t kUnbounded = ~static_cast<uint64_t>(0);
constexpr uint32_t kNoTokenSize = 0xFFFFFFFF;

bool IsArrayStart(FieldType type) {
  return type == FieldType::ItemArray || type == FieldType::PlainArray;
}

bool IsInteger(FieldType type) {
  return static_cast<uint32_t>(type) <= static_cast<uint32_t>(FieldType::QWord);
}

// Fields whose recorded value can serve as a count for a later field.
bool RecordsNumber(FieldType type) { return IsInteger(type) || IsArrayStart(type); }

// Fields whose count word is a length or an item count (negative: a
// reference to an earlier field).
bool TakesCount(FieldType type) {
  switch (type) {
    case FieldType::WStringBytes:
    case FieldType::WStringChars:
    case FieldType::AString:
    case FieldType::Bytes:
    case FieldType::BytesRest:
    case FieldType::ItemArray:
    case FieldType::PlainArray:
    case FieldType::SubObject:
      return true;
    default:
      return false;
  }
}

// Numbers that repeat when their count word refers to an earlier field.
bool Repeats(FieldType type) {
  return type == FieldType::Word || type == FieldType::DWord || type == FieldType::QWord;
}

// Fields whose value can be decoded through a value-name table.
bool Decodable(FieldType type) {
  return IsInteger(type) || type == FieldType::FourCC || type == FieldType::Guid;
}

// FourCC fields are hexadecimal only with exactly the format word; numbers
// test its bit.
bool ShowsHex(const FieldDesc& field) {
  if (field.type == FieldType::FourCC) return field.count == kHexFormat;
  // A negative count is a reference (the count of a repeat), never a format.
  return field.count > 0 && (field.count & kHexFormat) != 0;
}

// How many numbers a numeric field shows on its line.
uint64_t RunLength(const FieldDesc& field) {
  if (!IsInteger(field.type) || field.count <= 0) return 1;
  return std::max(1, field.count & kRunLength);
}

uint32_t Saturated(uint64_t value) {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

bool SameGuidText(const char* a, const std::string& b) {
  if (!a) return false;
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return a[i] == '\0' && i == b.size();
}

// UTF-16LE units from `count` units at `bytes`, stopping at a zero unit.
// `used` receives the units taken, the zero unit included when it was found.
std::string Utf16Until(const uint8_t* bytes, uint64_t count, uint64_t& used) {
  std::vector<uint16_t> units;
  used = count;
  for (uint64_t i = 0; i < count; ++i) {
    uint16_t unit = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (unit == 0) {
      used = i + 1;
      break;
    }
    units.push_back(unit);
  }
  return Utf16Text::ToUtf8(units.data(), units.size());
}

std::string AnsiUntil(const uint8_t* bytes, uint64_t count, uint64_t& used) {
  const uint8_t* end = std::find(bytes, bytes + count, 0);
  used = end < bytes + count ? static_cast<uint64_t>(end - bytes) + 1 : count;
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
}

// An open array: where its item lines go, which field starts it, how many
// items it holds and where the current item began.
struct ArrayFrame {
  int indent = 0;
  uint32_t start = 0;
  uint64_t itemCount = 0;  // kUnbounded: runs to the end of the data
  uint64_t itemNumber = 0;
  uint64_t itemStart = 0;  // payload position of the current item
  bool sizeLines = false;  // ItemArray items end with a size line
  bool shown = true;       // the array's level and the enclosing item allow lines
  bool itemShown = true;   // ... and the current item lies within the item limit
};

// A field's value as read: what value names are compared with, what is
// recorded for later fields and what the line shows.
struct Reading {
  uint64_t width = 0;
  uint64_t value = 0;
  uint32_t number = 0;
  std::string text;
  std::string shown;
};

// One run over one payload. Every count that comes from the data is cut to
// the bytes that remain, and every read goes through a ByteReader, so a cut
// field shows the bytes present padded with zeros while still counting its
// full width; the trailer then reports the shortfall.
class Interpreter {
 public:
  Interpreter(CParser& parser, const StructDesc& desc, const uint8_t* payload, uint32_t size,
              uint32_t itemLimit, const StructureHooks* hooks)
      : parser_(parser),
        report_(parser.Reporter()),
        desc_(desc),
        payload_(payload),
        size_(payload ? size : 0),
        itemLimit_(itemLimit),
        verbosity_(parser.Verbosity()),
        hooks_(hooks),
        values_(desc.fieldCount) {}

  uint32_t Run(int indent, uint32_t span, uint32_t shownSize);
  // The size the description's limits are held against when the payload
  // holds more than the structure itself (the pad byte of an odd chunk).
  void SetDeclaredSize(uint64_t size) { declaredSize_ = std::min(size, size_); }

 private:
  enum class Next { Advance, Stay, Moved, Stop };

  int PrintHeader(int indent, uint32_t span, uint32_t shownSize);
  void CheckSize() const;
  Next Visit(const FieldDesc& field);
  Next VisitRepeat(const FieldDesc& field);
  Next VisitArrayStart(const FieldDesc& field);
  void OpenItem();
  void SkipArray();
  void Settle();
  bool EndItem();
  uint64_t VisitField(const FieldDesc& field, uint64_t offset);
  Reading ReadValue(const FieldDesc& field, uint64_t at) const;
  uint64_t ReadField(const FieldDesc& field, const std::string& label);
  std::string FieldLabel(const FieldDesc& field, uint64_t offset) const;
  uint64_t ValueField(const FieldDesc& field, const std::string& prefix);
  uint64_t TextField(const FieldDesc& field, const std::string& prefix);
  uint64_t ByteField(const FieldDesc& field, const std::string& prefix);
  uint64_t SubObjectField(const FieldDesc& field, const std::string& prefix);
  std::string ValueNote(const FieldDesc& field, const Reading& r) const;
  void PrintFlags(const ValueNameTable& table, uint64_t value, int depth) const;
  uint32_t Trailer();

  void Record(const FieldDesc& field, uint32_t number, const std::string& text);
  uint64_t Referenced(const FieldDesc& field) const;
  uint64_t CountOf(const FieldDesc& field) const;
  uint64_t Remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
  bool Shown(const FieldDesc& field) const;
  bool ItemShown() const { return frames_.empty() || frames_.back().itemShown; }
  int FieldIndent() const { return frames_.empty() ? baseIndent_ : frames_.back().indent + 1; }
  uint64_t ItemBytes() const { return pos_ - (frames_.empty() ? 0 : frames_.back().itemStart); }
  FieldType TypeAt(uint32_t index) const { return desc_.fields[index].type; }

  CParser& parser_;
  const Report& report_;
  const StructDesc& desc_;
  const uint8_t* payload_;
  uint64_t size_;
  uint64_t declaredSize_ = size_;
  uint32_t itemLimit_;
  uint32_t verbosity_;
  const StructureHooks* hooks_;
  FieldValues values_;

  int baseIndent_ = 0;
  uint64_t payloadPosition_ = 0;
  uint64_t pos_ = 0;
  uint32_t index_ = 0;
  bool finished_ = false;
  bool repeating_ = false;
  uint64_t repeatLeft_ = 0;
  std::vector<ArrayFrame> frames_;
};

uint32_t Interpreter::Run(int indent, uint32_t span, uint32_t shownSize) {
  baseIndent_ = PrintHeader(indent, span, shownSize);
  CheckSize();
  Settle();
  while (!finished_ && pos_ < size_) {
    switch (Visit(desc_.fields[index_])) {
      case Next::Stop:
        return Saturated(pos_);
      case Next::Advance:
        ++index_;
        Settle();
        break;
      case Next::Moved:
        Settle();
        break;
      case Next::Stay:
        break;
    }
  }
  return desc_.layout.checkedEnd ? Trailer() : Saturated(pos_);
}

int Interpreter::PrintHeader(int indent, uint32_t span, uint32_t shownSize) {
  const uint64_t here = parser_.CurrentPosition();
  const uint64_t position = here >= span ? here - span : 0;
  payloadPosition_ = position + (span > size_ ? span - size_ : 0);
  if (!desc_.name || !*desc_.name || !desc_.tag || !*desc_.tag) return indent;
  report_.ItemLine(desc_.name, desc_.tag, "", shownSize, position, indent, verbosity_);
  return indent + 1;
}

void Interpreter::CheckSize() const {
  if (desc_.minimumSize != 0 && declaredSize_ < desc_.minimumSize) {
    report_.Message("Unknown Token Size<!", baseIndent_, kError);
  }
  if (desc_.maximumSize != 0 && declaredSize_ > desc_.maximumSize) {
    report_.Message("Unknown Token Size>!", baseIndent_, kError);
  }
}

Interpreter::Next Interpreter::Visit(const FieldDesc& field) {
  if (field.type == FieldType::Stop) return Next::Stop;
  if (IsArrayStart(field.type)) return VisitArrayStart(field);
  if (Repeats(field.type) && field.count < 0) return VisitRepeat(field);
  pos_ += VisitField(field, ItemBytes());
  return Next::Advance;
}

// A number whose count word refers to an earlier field is read that many
// times; each element is one line. It always consumes bytes, so the main
// loop's bound on the payload ends a count that the data cannot hold.
Interpreter::Next Interpreter::VisitRepeat(const FieldDesc& field) {
  if (!repeating_) {
    repeatLeft_ = Referenced(field);
    if (repeatLeft_ == 0) {
      Record(field, 0, std::string());
      return Next::Advance;
    }
    repeating_ = true;
  }
  pos_ += VisitField(field, ItemBytes());
  if (--repeatLeft_ > 0) return Next::Stay;
  repeating_ = false;
  return Next::Advance;
}

Interpreter::Next Interpreter::VisitArrayStart(const FieldDesc& field) {
  if (!frames_.empty() && frames_.back().start == index_) {
    OpenItem();
    return Next::Moved;
  }
  uint64_t count = kUnbounded;
  if (field.count < 0) {
    count = std::min(Referenced(field), Remaining());
  } else if (field.count > 0) {
    count = static_cast<uint64_t>(field.count);
  }
  Record(field, count == kUnbounded ? 0 : Saturated(count), std::string());
  if (count == 0) {
    SkipArray();
    return Next::Moved;
  }
  ArrayFrame frame;
  frame.indent = FieldIndent();
  frame.start = index_;
  frame.itemCount = count;
  frame.sizeLines = field.type == FieldType::ItemArray;
  frame.shown = ItemShown() && field.level <= static_cast<int64_t>(verbosity_);
  frames_.push_back(frame);
  OpenItem();
  return Next::Moved;
}

void Interpreter::OpenItem() {
  ArrayFrame& array = frames_.back();
  ++array.itemNumber;
  array.itemStart = pos_;
  array.itemShown = array.shown && array.itemNumber <= itemLimit_;
  if (array.itemShown) {
    const char* name = desc_.fields[array.start].name;
    std::string text = std::string(name ? name : "") + " Item #" +
                       Report::NumberText(array.itemNumber);
    if (array.sizeLines) {
      parser_.ChunkHeaderLine(0, 0, kNoTokenSize, payloadPosition_ + pos_, text, array.indent);
    } else {
      report_.PlainLine(text, array.indent);
    }
  }
  index_ = array.start + 1;
}

// An array with no items: its fields up to the matching end are passed over
// with empty values.
void Interpreter::SkipArray() {
  int depth = 0;
  for (uint32_t i = index_ + 1; i < desc_.fieldCount; ++i) {
    FieldType type = TypeAt(i);
    if (type == FieldType::ArrayEnd) {
      if (depth == 0) {
        index_ = i + 1;
        return;
      }
      --depth;
      continue;
    }
    values_[i] = FieldValue{};
    if (IsArrayStart(type)) ++depth;
  }
  index_ = desc_.fieldCount;
}

// Handles the zero-width places between fields: array ends (explicit, or the
// end of the field list while an array is open) and the end of the list.
void Interpreter::Settle() {
  while (index_ >= desc_.fieldCount || TypeAt(index_) == FieldType::ArrayEnd) {
    if (frames_.empty()) {
      if (index_ >= desc_.fieldCount) {
        finished_ = true;
        return;
      }
      ++index_;  // an array end with no open array ends nothing
      continue;
    }
    if (!EndItem()) return;
  }
}

// Ends the current item of the innermost array. Returns false when another
// item is due (the next visit of the start field opens it), true when the
// array is finished and the fields after its end follow. An item that
// consumed nothing ends its array: the next one would read the same nothing.
bool Interpreter::EndItem() {
  ArrayFrame& array = frames_.back();
  const uint64_t itemBytes = pos_ - array.itemStart;
  if (array.sizeLines && array.itemShown) {
    report_.ChunkSizeLine(itemBytes, array.indent, verbosity_);
  }
  const bool last = itemBytes == 0 ||
                    (array.itemCount != kUnbounded && array.itemNumber >= array.itemCount);
  if (!last) {
    index_ = array.start;
    return false;
  }
  frames_.pop_back();
  if (index_ < desc_.fieldCount) ++index_;
  return true;
}

// A field's line and the checks the caller hangs on it.
uint64_t Interpreter::VisitField(const FieldDesc& field, uint64_t offset) {
  const uint64_t width = ReadField(field, FieldLabel(field, offset));
  if (hooks_) hooks_->Check(index_, values_, Shown(field), FieldIndent());
  return width;
}

// The last two digits of the offset (within the item of an array, else
// within the whole structure) and the name.
std::string Interpreter::FieldLabel(const FieldDesc& field, uint64_t offset) const {
  const std::string name = field.name ? field.name : "";
  if (!desc_.layout.offsetLabels) return name;
  if (frames_.empty()) offset += desc_.layout.firstOffset;
  const std::string digits = Report::NumberText(offset % 100);
  return (digits.size() < 2 ? "0" + digits : digits) + " " + name;
}

uint64_t Interpreter::ReadField(const FieldDesc& field, const std::string& prefix) {
  switch (field.type) {
    case FieldType::WStringBytes:
    case FieldType::WStringChars:
    case FieldType::AString:
      return TextField(field, prefix);
    case FieldType::Bytes:
    case FieldType::BytesRest:
      return ByteField(field, prefix);
    case FieldType::SubObject:
      return SubObjectField(field, prefix);
    case FieldType::ItemArray:
    case FieldType::PlainArray:
    case FieldType::ArrayEnd:
    case FieldType::Stop:
      return 0;
    default:
      if (static_cast<uint32_t>(field.type) > static_cast<uint32_t>(FieldType::Stop)) return 0;
      return ValueField(field, prefix);
  }
}

Reading Interpreter::ReadValue(const FieldDesc& field, uint64_t at) const {
  ByteReader reader(payload_, static_cast<size_t>(size_), parser_.BigEndian());
  reader.Seek(static_cast<size_t>(std::min(at, size_)));
  const bool hex = ShowsHex(field);
  Reading r;
  auto integer = [&](uint64_t width, uint64_t raw, int64_t signedValue, bool isSigned,
                     int digits) {
    r.width = width;
    r.value = isSigned ? static_cast<uint32_t>(signedValue) : raw;
    r.number = isSigned ? static_cast<uint32_t>(signedValue) : Saturated(raw);
    r.shown = hex ? "0x" + FieldFormat::Hex(raw, digits)
                  : (isSigned ? std::to_string(signedValue) : std::to_string(raw));
  };
  auto dated = [&](uint64_t width, uint64_t raw, const std::string& when) {
    r.width = width;
    r.shown = std::to_string(raw) + (when.empty() ? std::string() : "  (" + when + ")");
  };
  switch (field.type) {
    case FieldType::Byte:
      integer(1, reader.U8(), 0, false, 2);
      break;
    case FieldType::Short: {
      uint16_t raw = reader.U16();
      integer(2, raw, static_cast<int16_t>(raw), true, 4);
      break;
    }
    case FieldType::Word:
      integer(2, reader.U16(), 0, false, 4);
      break;
    case FieldType::Word24:
      integer(3, reader.U24(), 0, false, 8);
      break;
    case FieldType::Long: {
      uint32_t raw = reader.U32();
      integer(4, raw, static_cast<int32_t>(raw), true, 8);
      break;
    }
    case FieldType::DWord:
      integer(4, reader.U32(), 0, false, 8);
      break;
    case FieldType::QWord:
      integer(8, reader.U64(), 0, false, 16);
      break;
    case FieldType::FourCC: {
      uint32_t token = reader.FourCC();
      r.width = 4;
      r.value = r.number = token;
      r.shown = (hex ? "0x" + FieldFormat::Hex(token, 8) + " " : std::string()) +
                CParser::FourCCText(token);
      break;
    }
    case FieldType::Guid: {
      uint8_t bytes[16];
      reader.CopyTo(bytes, sizeof bytes);
      r.width = 16;
      r.text = r.shown = FieldFormat::GuidText(bytes);
      break;
    }
    case FieldType::FileTime: {
      uint64_t raw = reader.U64LE();
      dated(8, raw, FieldFormat::FileTimeText(raw));
      break;
    }
    case FieldType::Duration: {
      uint64_t raw = reader.U64LE();
      dated(8, raw, FieldFormat::DurationText(raw));
      break;
    }
    case FieldType::MacDate32: {
      uint64_t raw = reader.U32BE();
      dated(4, raw, FieldFormat::MacDateText(raw));
      break;
    }
    case FieldType::MacDate64: {
      uint64_t raw = reader.U64BE();
      dated(8, raw, FieldFormat::MacDateText(raw));
      break;
    }
    case FieldType::Fixed8:
      r.width = 2;
      r.shown = FieldFormat::DecimalText(static_cast<int16_t>(reader.U16BE()) / 256.0);
      break;
    case FieldType::Fixed16:
      r.width = 4;
      r.shown = FieldFormat::DecimalText(reader.U32BE() / 65536.0);
      break;
    case FieldType::Extended80: {
      uint8_t bytes[10];
      reader.CopyTo(bytes, sizeof bytes);
      r.width = 10;
      r.value = r.number = FieldFormat::Extended80Value(bytes);
      r.shown = std::to_string(r.number);
      break;
    }
    default:
      break;
  }
  return r;
}

// A run records and decodes its first number.
uint64_t Interpreter::ValueField(const FieldDesc& field, const std::string& prefix) {
  Reading r = ReadValue(field, pos_);
  const uint64_t width = r.width;
  for (uint64_t i = 1; i < RunLength(field); ++i) {
    r.shown += " " + ReadValue(field, pos_ + i * width).shown;
    r.width += width;
  }
  Record(field, r.number, r.text);
  if (!Shown(field)) return r.width;
  const int depth = FieldIndent();
  report_.FieldLine(prefix, r.shown, ValueNote(field, r), depth);
  const ValueNameTable* names = Decodable(field.type) ? field.valueNames : nullptr;
  if (names && names->mode == kBitFlags) PrintFlags(*names, r.value, depth + 1);
  return r.width;
}

// The name of an enumerated value in parentheses (the table's fallback for a
// value it does not name), then the caller's note.
std::string Interpreter::ValueNote(const FieldDesc& field, const Reading& r) const {
  const ValueNameTable* names = Decodable(field.type) ? field.valueNames : nullptr;
  std::string note;
  if (names && names->mode == kEnumeration) {
    const char* match = nullptr;
    for (uint32_t i = 0; i < names->count && !match; ++i) {
      const ValueName& entry = names->entries[i];
      bool same = field.type == FieldType::Guid ? SameGuidText(entry.guid, r.text)
                                                : entry.value == r.value;
      if (same) match = entry.name ? entry.name : "";
    }
    if (!match) match = names->fallback;
    if (match) note = std::string(" (") + match + ")";
  }
  if (hooks_) note += hooks_->Note(index_, values_);
  return note;
}

// A value that the table names as a whole stands alone; otherwise one line
// per flag up to the verbosity: set flags always, clear ones from level 3.
void Interpreter::PrintFlags(const ValueNameTable& table, uint64_t value, int depth) const {
  for (uint32_t i = 0; i < table.count; ++i) {
    const ValueName& entry = table.entries[i];
    if (entry.kind == kEnumValue && entry.value == value) {
      report_.PlainLine(entry.name ? entry.name : "", depth);
      return;
    }
  }
  for (uint32_t i = 0; i < table.count; ++i) {
    const ValueName& entry = table.entries[i];
    const std::string name = entry.name ? entry.name : "";
    if (entry.level > verbosity_) continue;
    if (entry.kind == kFlag) {
      report_.MarkLine((value & entry.value) != 0, name, depth, verbosity_);
    } else if (entry.kind == kBitField) {
      report_.PlainLine(name + ": " + std::to_string(value & entry.value), depth);
    }
  }
}

// Counted texts are cut to the bytes that remain; a count of 0 runs to the
// first terminator and takes it along.
uint64_t Interpreter::TextField(const FieldDesc& field, const std::string& prefix) {
  const uint8_t* bytes = payload_ + pos_;
  const uint64_t remaining = Remaining();
  uint64_t consumed = 0;
  std::string text;
  if (field.type == FieldType::AString) {
    uint64_t used = 0;
    if (field.count == 0) {
      text = AnsiUntil(bytes, remaining, used);
      consumed = used;
    } else {
      consumed = std::min(CountOf(field), remaining);
      text = AnsiUntil(bytes, consumed, used);
    }
  } else {
    uint64_t units = remaining / 2;
    if (field.count != 0) {
      uint64_t count = CountOf(field);
      units = field.type == FieldType::WStringBytes ? std::min(count, remaining) / 2
                                                     : std::min(count, remaining / 2);
    }
    uint64_t used = 0;
    text = Utf16Until(bytes, units, used);
    consumed = 2 * (field.count == 0 ? used : units);
  }
  Record(field, 0, text);
  if (Shown(field)) report_.FieldLine(prefix, "\"" + text + "\"", std::string(), FieldIndent());
  return consumed;
}

// The name line is printed whatever the field's level (report level 0 shows
// messages only); only the bytes obey it. A fixed count that the data cannot
// hold still counts in full.
uint64_t Interpreter::ByteField(const FieldDesc& field, const std::string& prefix) {
  const uint64_t remaining = Remaining();
  uint64_t count = remaining;
  if (field.type == FieldType::Bytes) {
    if (field.count < 0) count = std::min(Referenced(field), remaining);
    if (field.count > 0) count = static_cast<uint64_t>(field.count);
  } else if (field.count != 0) {
    const uint64_t total = CountOf(field);
    const uint64_t before = ItemBytes();
    count = total > before ? std::min(total - before, remaining) : 0;
  }
  Record(field, 0, std::string());
  const int depth = FieldIndent();
  if (verbosity_ > 0) report_.PlainLine(prefix, depth);
  if (Shown(field)) {
    report_.HexDump(payload_ + pos_, static_cast<size_t>(std::min(count, remaining)), depth + 1,
                    verbosity_);
  }
  return count;
}

// A sub-object of known size always consumes that size; one of size 0 is as
// long as the parser's handler says, so a hidden one is still measured by
// running the handler with the report suppressed.
uint64_t Interpreter::SubObjectField(const FieldDesc& field, const std::string& prefix) {
  const uint64_t remaining = Remaining();
  uint64_t count = 0;
  if (field.count < 0) count = std::min(Referenced(field), remaining);
  if (field.count > 0) count = static_cast<uint64_t>(field.count);
  Record(field, 0, std::string());
  const bool shown = Shown(field);
  if (!shown && field.count != 0) return count;
  const uint32_t handlerSize = Saturated(field.count == 0 ? remaining : std::min(count, remaining));
  const std::string tag = desc_.tag ? desc_.tag : "";
  const int depth = FieldIndent();
  ReportOutput& output = report_.Output();
  const bool wasSuppressed = output.Suppressed();
  if (shown) {
    report_.FieldLine(prefix, std::string(), std::string(), depth);
  } else {
    output.SetSuppressed(true);
  }
  const uint32_t handled =
      parser_.DumpSubObject(tag, handlerSize, payload_, Saturated(size_), Saturated(pos_),
                            depth + 1, values_, index_);
  output.SetSuppressed(wasSuppressed);
  return field.count == 0 ? std::min<uint64_t>(handled, handlerSize) : count;
}

uint32_t Interpreter::Trailer() {
  if (pos_ > size_) {
    report_.Message(Report::NumberText(pos_ % 100) + "Missing Data " +
                        Report::NumberText(pos_ - size_),
                    baseIndent_, kError);
    return Saturated(pos_);
  }
  const uint64_t aligned = parser_.WordAligned() ? pos_ + (pos_ & 1) : pos_;
  if (aligned < size_) {
    report_.Message("Additional Data " + Report::NumberText(size_ - pos_), baseIndent_, kError);
    report_.HexDump(payload_ + pos_, static_cast<size_t>(size_ - pos_), baseIndent_ + 1,
                    verbosity_);
    return Saturated(size_);
  }
  // Equal, or one beyond an odd payload whose pad byte was not passed in:
  // either way the pad counts as consumed.
  return Saturated(aligned);
}

void Interpreter::Record(const FieldDesc& field, uint32_t number, const std::string& text) {
  FieldValue& value = values_[index_];
  value.number = number;
  value.text = text;
  // Captured whenever the field is read, shown or not: callers decide on the
  // value (e.g. a brand) at every verbosity.
  if (field.capture) *field.capture = number;
}

uint64_t Interpreter::Referenced(const FieldDesc& field) const {
  const int64_t target = static_cast<int64_t>(index_) + field.count;
  if (field.count >= 0 || target < 0) return 0;
  return values_[static_cast<size_t>(target)].number;
}

uint64_t Interpreter::CountOf(const FieldDesc& field) const {
  return field.count < 0 ? Referenced(field) : static_cast<uint64_t>(field.count);
}

bool Interpreter::Shown(const FieldDesc& field) const {
  return field.level <= static_cast<int64_t>(verbosity_) && ItemShown() &&
         !(hooks_ && hooks_->Hides(index_, values_));
}

}  // namespace

uint32_t StructureDumper::DumpStructure(CParser& parser, int indent, uint32_t headerSize,
                                        uint32_t span, uint32_t shownSize,
                                        const StructDesc& desc, uint32_t itemLimit) {
  uint64_t span64 = span;
  uint64_t shown64 = shownSize;
  if (parser.WordAligned()) {
    span64 += span64 & 1;
    shown64 += shown64 & 1;
  }
  const uint64_t wanted = span64 > headerSize ? span64 - headerSize : 0;
  std::vector<uint8_t> payload;
  if (!parser.ReadPayload(payload, std::min<uint64_t>(wanted, 0xFFFFFFFFu), indent)) return 0;
  if (desc.fieldCount > 0 && !desc.fields) return 0;
  Interpreter interpreter(parser, desc, payload.data(), static_cast<uint32_t>(payload.size()),
                          itemLimit, nullptr);
  // The payload takes the pad byte of an odd-sized chunk along; the size
  // limits are those of the chunk itself.
  interpreter.SetDeclaredSize(span > headerSize ? span - headerSize : 0);
  return interpreter.Run(indent, Saturated(span64), Saturated(shown64));
}

uint32_t StructureDumper::InterpretStructure(CParser& parser, int indent, uint32_t span,
                                             const uint8_t* payload, uint32_t payloadSize,
                                             uint32_t shownSize, const StructDesc& desc,
                                             uint32_t itemLimit, const StructureHooks* hooks) {
  if (desc.fieldCount > 0 && !desc.fields) return 0;
  Interpreter interpreter(parser, desc, payload, payloadSize, itemLimit, hooks);
  return interpreter.Run(indent, span, shownSize);
}

bool StructureDumper::CheckDescription(const StructDesc& desc, std::string& why) {
  const std::string structName = desc.name ? desc.name : "(unnamed)";
  auto fail = [&](uint32_t index, const char* fault) {
    why = structName + " field " + std::to_string(index) + ": " + fault;
    return false;
  };
  why.clear();
  if (desc.fieldCount > 0 && !desc.fields) return fail(0, "no field records");
  if (desc.minimumSize != 0 && desc.maximumSize != 0 && desc.minimumSize > desc.maximumSize) {
    return fail(0, "minimum size above maximum size");
  }
  int openArrays = 0;
  for (uint32_t i = 0; i < desc.fieldCount; ++i) {
    const FieldDesc& field = desc.fields[i];
    const FieldType type = field.type;
    if (static_cast<uint32_t>(type) > static_cast<uint32_t>(FieldType::Stop)) {
      return fail(i, "unknown field type");
    }
    if (!field.name && type != FieldType::ArrayEnd && type != FieldType::Stop) {
      return fail(i, "field without a name");
    }
    if (field.count < 0) {
      if (!TakesCount(type) && !Repeats(type)) {
        return fail(i, "negative count on a field that takes no count");
      }
      const int64_t target = static_cast<int64_t>(i) + field.count;
      if (target < 0) return fail(i, "reference before the first field");
      if (!RecordsNumber(desc.fields[target].type)) {
        return fail(i, "reference to a field that records no number");
      }
    } else if (type == FieldType::FourCC && field.count != 0 && field.count != kHexFormat) {
      return fail(i, "numeric format other than 0 or hexadecimal");
    }
    if (field.valueNames) {
      const ValueNameTable& names = *field.valueNames;
      if (!Decodable(type)) return fail(i, "value names on a field that cannot be decoded");
      if (names.count > 0 && !names.entries) return fail(i, "value-name table without entries");
      if (names.mode != kEnumeration && names.mode != kBitFlags) {
        return fail(i, "unknown value-name mode");
      }
      for (uint32_t n = 0; n < names.count; ++n) {
        if (!names.entries[n].name) return fail(i, "value name without a name");
        if (type == FieldType::Guid && !names.entries[n].guid) {
          return fail(i, "GUID value name without a GUID");
        }
      }
    }
    if (IsArrayStart(type)) ++openArrays;
    if (type == FieldType::ArrayEnd && openArrays-- == 0) {
      return fail(i, "array end without an open array");
    }
  }
  return true;
}
