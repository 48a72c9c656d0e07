#pragma once
// Descriptions of fixed-layout structures, printed field by field by the
// structure dumper. A description is a constant table: adding a structure
// means adding a table, not code. The constructors take the records as arrays
// so that a count can never disagree with the records it counts.

#include <cstddef>
#include <cstdint>

enum class FieldType : uint32_t {
  Byte = 0,
  Short = 1,
  Word = 2,
  Word24 = 3,
  Long = 4,
  DWord = 5,
  QWord = 6,
  WStringBytes = 7,
  WStringChars = 8,
  AString = 9,
  Bytes = 10,
  BytesRest = 11,
  FileTime = 12,
  Duration = 13,
  MacDate32 = 14,
  MacDate64 = 15,
  Fixed8 = 16,
  Fixed16 = 17,
  Extended80 = 18,
  ItemArray = 19,
  PlainArray = 20,
  ArrayEnd = 21,
  Guid = 22,
  SubObject = 23,
  FourCC = 24,
  Stop = 25,
};

// Format word of numeric and FourCC fields that selects hexadecimal display.
constexpr int16_t kHexFormat = 0x4000;
// The bits of a numeric field's format word below kHexFormat: 2 or more make
// the field a run of that many numbers of its type, shown on one line and
// separated by blanks (the four edges of a rectangle, say).
constexpr int16_t kRunLength = 0x3FFF;

// In an enumeration every entry names one value. In a flags table a kFlag
// entry names a bit (or bits), a kBitField entry a mask whose value is shown,
// and a kEnumValue entry a whole value that stands for itself: when the field
// holds it, its name is the one line under the field.
enum ValueNameKind : uint32_t { kFlag = 0, kBitField = 1, kEnumValue = 2 };
enum ValueNameMode : uint32_t { kEnumeration = 0, kBitFlags = 1 };

struct ValueName {
  uint32_t value;        // value, or mask in flag mode
  const char* name;
  uint32_t kind;         // ValueNameKind
  uint32_t level = 0;    // flag lines: shown only when level <= verbosity
  const char* guid = nullptr;  // for Guid fields: the GUID text to match
};

struct ValueNameTable {
  // `otherwise` is what an enumeration shows for a value it does not name;
  // null shows nothing for it.
  template <size_t N>
  constexpr ValueNameTable(uint32_t tableMode, const ValueName (&table)[N],
                           const char* otherwise = "undefined")
      : count(static_cast<uint32_t>(N)), mode(tableMode), entries(table), fallback(otherwise) {}
  // The name of `value` (compared with every entry's value), null when none.
  const char* NameOf(uint32_t value) const {
    for (uint32_t i = 0; i < count; ++i) {
      if (entries[i].value == value) return entries[i].name;
    }
    return nullptr;
  }
  uint32_t count;
  uint32_t mode;  // ValueNameMode
  const ValueName* entries;
  const char* fallback;
};

struct FieldDesc {
  FieldType type;
  int16_t count;   // <0: reference to an earlier field; 0: open; >0 fixed; kHexFormat
  int16_t level;   // printed only when level <= verbosity
  const char* name;
  const ValueNameTable* valueNames = nullptr;
  uint32_t* capture = nullptr;  // receives the field's value whenever it is read
};

// How a structure is laid out beyond its fields.
struct StructLayout {
  // Offset of the first field in the enclosing structure: an extension
  // described on its own (the bytes after a common header) keeps the offsets
  // of the whole structure in its labels.
  uint16_t firstOffset = 0;
  // Labels start with the last two digits of the field's offset ("12 Flags");
  // false prints the bare name.
  bool offsetLabels = true;
  // Missing or additional data after the last field is reported; false when
  // the caller checks the size itself and the bytes beyond the description
  // belong to someone else.
  bool checkedEnd = true;
};

struct StructDesc {
  template <size_t N>
  constexpr StructDesc(const char* structName, const char* structTag, uint16_t minimum,
                       uint16_t maximum, const FieldDesc (&records)[N],
                       StructLayout structLayout = StructLayout())
      : fieldCount(static_cast<uint16_t>(N)),
        name(structName),
        tag(structTag),
        minimumSize(minimum),
        maximumSize(maximum),
        fields(records),
        layout(structLayout) {}
  uint16_t fieldCount;
  const char* name;
  const char* tag;
  uint16_t minimumSize;
  uint16_t maximumSize;
  const FieldDesc* fields;
  StructLayout layout;
};
