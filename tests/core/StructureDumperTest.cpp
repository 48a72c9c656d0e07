#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/CParser.h"
#include "core/FieldFormat.h"
#include "core/FourCC.h"
#include "core/StructureDumper.h"
#include "core/StructureHooks.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A parser that only serves the dumper: flags set by the test, and a
// sub-object handler that prints one line and returns a chosen size.
class DumpParser : public CParser {
 public:
  DumpParser(const RunOptions& options, ReportOutput& output) : CParser(options, output) {}
  bool Parse(const std::string&, const std::string&) override { return true; }
  void SetFlags(bool wordAligned, bool bigEndian) {
    wordAligned_ = wordAligned;
    bigEndian_ = bigEndian;
  }
  uint32_t DumpSubObject(const std::string& tag, uint32_t size, const uint8_t*, uint32_t,
                         uint32_t offset, int indent, const FieldValues& values,
                         uint32_t fieldIndex) override {
    ++calls;
    lastValues = values.size();
    Reporter().PlainLine("sub " + tag + " size " + std::to_string(size) + " at " +
                             std::to_string(offset) + " field " + std::to_string(fieldIndex),
                         indent);
    return subResult;
  }
  uint32_t subResult = 0;
  int calls = 0;
  size_t lastValues = 0;
};

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\n";
  return text;
}

struct StructureDumperTest : ::testing::Test {
  std::ostringstream out;
  std::ostringstream err;
  ReportOutput output{out, err, ConsoleState{}};
  uint32_t verbosity = 2;
  uint32_t itemLimit = StructureDumper::kNoItemLimit;
  bool wordAligned = false;
  bool bigEndian = false;
  uint32_t subResult = 0;
  int subCalls = 0;
  uint32_t consumed = 0;
  const StructureHooks* hooks = nullptr;

  RunOptions Options() const {
    RunOptions options;
    options.report.verbosity = verbosity;
    return options;
  }

  std::string Interpret(const StructDesc& desc, const Bytes& bytes, int indent = 0) {
    DumpParser parser(Options(), output);
    parser.SetFlags(wordAligned, bigEndian);
    parser.subResult = subResult;
    out.str("");
    const auto size = static_cast<uint32_t>(bytes.size());
    consumed = StructureDumper::InterpretStructure(parser, indent, size, bytes.data(), size, size,
                                                   desc, itemLimit, hooks);
    subCalls = parser.calls;
    EXPECT_FALSE(output.Suppressed());
    output.Flush();
    return out.str();
  }
};

// ---------------------------------------------------------------- numbers

const FieldDesc kNumberFields[] = {
    {FieldType::Byte, 0, 0, "B"},          {FieldType::Byte, kHexFormat, 0, "BH"},
    {FieldType::Short, 0, 0, "S"},         {FieldType::Short, kHexFormat, 0, "SH"},
    {FieldType::Word, 0, 0, "W"},          {FieldType::Word, kHexFormat, 0, "WH"},
    {FieldType::Word24, 0, 0, "T"},        {FieldType::Long, 0, 0, "L"},
    {FieldType::DWord, kHexFormat, 0, "DH"}, {FieldType::QWord, 0, 0, "Q"},
    {FieldType::QWord, kHexFormat, 0, "QH"}, {FieldType::FourCC, 0, 0, "F"},
    {FieldType::FourCC, kHexFormat, 0, "FH"}, {FieldType::Guid, 0, 0, "G"},
};
const StructDesc kNumbers("Numbers", "'numb'", 61, 61, kNumberFields);

const Bytes kHeaderGuid = {0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11,
                           0xa6, 0xd9, 0x00, 0xaa, 0x00, 0x62, 0xce, 0x6c};

TEST_F(StructureDumperTest, NumbersInDecimalAndHexWithOffsets) {
  Bytes bytes = {0x07, 0xab, 0xfe, 0xff, 0xfe, 0xff, 0x06, 0x00, 0x06, 0x00, 0x01, 0x02, 0x03,
                 0xff, 0xff, 0xff, 0xff, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0, 1, 0, 0, 0,
                 1, 0, 0, 0, 0, 0, 0, 0, 'R', 'I', 'F', 'F', 'a', 'b', 0x01, 'd',
                 0xa1, 0xdc, 0xab, 0x8c, 0x47, 0xa9, 0xcf, 0x11,
                 0x8e, 0xe4, 0x00, 0xc0, 0x0c, 0x20, 0x53, 0x65};
  EXPECT_EQ(Interpret(kNumbers, bytes),
            Lines({"Numbers (61) 'numb'", "  00 B: 7", "  01 BH: 0xab", "  02 S: -2",
                   "  04 SH: 0xfffe", "  06 W: 6", "  08 WH: 0x0006", "  10 T: 197121",
                   "  13 L: -1", "  17 DH: 0x12345678", "  21 Q: 4294967296",
                   "  29 QH: 0x0000000000000001", "  37 F: 'RIFF'", "  41 FH: 0x64016261 'ab d'",
                   "  45 G: {8cabdca1-a947-11cf-8ee4-00c00c205365}"}));
  EXPECT_EQ(consumed, 61u);
}

const FieldDesc kSwappedFields[] = {
    {FieldType::Short, 0, 0, "S"},  {FieldType::Word, 0, 0, "W"},
    {FieldType::Word24, 0, 0, "T"}, {FieldType::DWord, 0, 0, "D"},
    {FieldType::QWord, 0, 0, "Q"},  {FieldType::FourCC, 0, 0, "F"},
    {FieldType::FileTime, 0, 0, "Time"},
};
const StructDesc kSwapped("Swapped", nullptr, 0, 0, kSwappedFields);

TEST_F(StructureDumperTest, BigEndianFlagSwapsNumbersButNotTokensOrFileTimes) {
  bigEndian = true;
  Bytes bytes = {0xff, 0xfe, 0x00, 0x06, 0x01, 0x02, 0x03, 0x00, 0x01, 0x00, 0x00,
                 0, 0, 0, 0, 0, 0, 0x01, 0x00, 'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Interpret(kSwapped, bytes),
            Lines({"00 S: -2", "02 W: 6", "04 T: 66051", "07 D: 65536", "11 Q: 256",
                   "19 F: 'RIFF'", "23 Time: 0  (00:00:00)"}));
  EXPECT_EQ(consumed, 31u);
}

// ---------------------------------------------------- dates and fractions

const FieldDesc kTimeFields[] = {
    {FieldType::FileTime, 0, 0, "Zero"},      {FieldType::FileTime, 0, 0, "Created"},
    {FieldType::FileTime, 0, 0, "Early"},     {FieldType::FileTime, 0, 0, "Later"},
    {FieldType::Duration, 0, 0, "Play"},      {FieldType::Duration, 0, 0, "Short"},
    {FieldType::Duration, 0, 0, "Long"},      {FieldType::MacDate32, 0, 0, "Epoch"},
    {FieldType::MacDate32, 0, 0, "Y2K"},      {FieldType::MacDate64, 0, 0, "Leap"},
    {FieldType::Fixed8, 0, 0, "Volume"},      {FieldType::Fixed8, 0, 0, "Balance"},
    {FieldType::Fixed16, 0, 0, "Rate"},       {FieldType::Fixed16, 0, 0, "Half"},
    {FieldType::Extended80, 0, 0, "SampleRate"}, {FieldType::Extended80, 0, 0, "Rounded"},
    {FieldType::Extended80, 0, 0, "Huge"},
};
const StructDesc kTimes("Times", nullptr, 0, 0, kTimeFields);

void AppendLE(Bytes& bytes, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void AppendBE(Bytes& bytes, uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

TEST_F(StructureDumperTest, DatesDurationsAndFractions) {
  Bytes bytes;
  AppendLE(bytes, 0, 8);
  AppendLE(bytes, 125911621230000000u, 8);
  AppendLE(bytes, 314679670000000u, 8);
  AppendLE(bytes, 157521023990000000u, 8);
  AppendLE(bytes, 125000000u, 8);
  AppendLE(bytes, 120400000u, 8);
  AppendLE(bytes, 900000010000u, 8);
  AppendBE(bytes, 0, 4);
  AppendBE(bytes, 3029529600u, 4);
  AppendBE(bytes, 3792052800u, 8);
  bytes.insert(bytes.end(), {0x01, 0x80, 0xff, 0x80, 0, 1, 0, 0, 0, 0, 0x80, 0});
  bytes.insert(bytes.end(), {0x40, 0x0e, 0xac, 0x44, 0, 0, 0, 0, 0, 0});
  bytes.insert(bytes.end(), {0x40, 0x0e, 0xac, 0x44, 0x80, 0, 0, 0, 0, 0});
  bytes.insert(bytes.end(), {0x40, 0x40, 0x80, 0x00, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(Interpret(kTimes, bytes),
            Lines({"00 Zero: 0  (00:00:00)",
                   "08 Created: 125911621230000000  (2000-01-01 01:02:03)",
                   "16 Early: 314679670000000  (05:06:07)",
                   "24 Later: 157521023990000000  (2100-03-01 23:59:59)",
                   "32 Play: 125000000  (00:00:12.500)",
                   "40 Short: 120400000  (00:00:12.040)",
                   "48 Long: 900000010000  (01:00:00.001)",
                   "56 Epoch: 0  (1904-01-01 00:00:00)",
                   "60 Y2K: 3029529600  (2000-01-01 00:00:00)",
                   "64 Leap: 3792052800  (2024-02-29 12:00:00)", "72 Volume: 1.5",
                   "74 Balance: -0.5", "76 Rate: 1", "80 Half: 0.5", "84 SampleRate: 44100",
                   "94 Rounded: 44101", "04 Huge: 4294967295"}));
  EXPECT_EQ(consumed, 114u);
}

TEST(FieldFormatTest, CalendarAndExtendedEdges) {
  // 1900 is no leap year, 2000 is; the extreme 64-bit QuickTime date must
  // still produce a date, not wrap or crash.
  EXPECT_EQ(FieldFormat::MacDateText(4294967295u), "2040-02-06 06:28:15");
  EXPECT_EQ(FieldFormat::FileTimeText(94405824000000000u), "1900-03-01 00:00:00");
  EXPECT_EQ(FieldFormat::FileTimeText(126227808000000000u), "2001-01-01 00:00:00");
  EXPECT_FALSE(FieldFormat::MacDateText(~static_cast<uint64_t>(0)).empty());
  const uint8_t shiftOnly[10] = {0x40, 0x1e, 0x00, 0x00, 0x00, 0x05};
  EXPECT_EQ(FieldFormat::Extended80Value(shiftOnly), 5u);
  const uint8_t justFits[10] = {0x40, 0x1f, 0x7f, 0xff, 0xff, 0xff};
  EXPECT_EQ(FieldFormat::Extended80Value(justFits), 0xfffffffeu);
  const uint8_t zero[10] = {0x40, 0x60};
  EXPECT_EQ(FieldFormat::Extended80Value(zero), 0u);
}

// ----------------------------------------------------------- value names

const ValueName kModeNames[] = {{1, "One", kEnumValue}, {2, "Two", kEnumValue},
                                {0xffffffff, "Minus one", kEnumValue}};
const ValueNameTable kModes(kEnumeration, kModeNames);
const ValueName kFlagNames[] = {
    {0x0001, "Keyframe", kFlag}, {0x0002, "Hidden", kFlag}, {0x00f0, "Level", kBitField}};
const ValueNameTable kFlags(kBitFlags, kFlagNames);
const ValueName kTypeNames[] = {{FourCC("vids"), "Video", kEnumValue}};
const ValueNameTable kTypes(kEnumeration, kTypeNames);
const ValueName kGuidNames[] = {
    {0, "Header", kEnumValue, 0, "{75b22630-668e-11cf-a6d9-00aa0062ce6c}"}};
const ValueNameTable kGuids(kEnumeration, kGuidNames);

const FieldDesc kNamedFields[] = {
    {FieldType::Word, 0, 0, "Mode", &kModes},
    {FieldType::Word, 0, 0, "Other", &kModes},
    {FieldType::Word, kHexFormat, 0, "Flags", &kFlags},
    {FieldType::FourCC, 0, 0, "Type", &kTypes},
    {FieldType::Guid, 0, 0, "Id", &kGuids},
    {FieldType::Byte, 0, 0, "Kind", &kModes},
    {FieldType::Short, 0, 0, "Delta", &kModes},
};
const StructDesc kNamed("Named", "'name'", 0, 0, kNamedFields);

Bytes NamedBytes() {
  Bytes bytes = {2, 0, 5, 0, 0x31, 0x00, 'v', 'i', 'd', 's'};
  for (uint8_t byte : kHeaderGuid) bytes.push_back(byte);
  for (uint8_t byte : {1, 0xff, 0xff}) bytes.push_back(byte);
  return bytes;
}

// ------------------------------------------- extensions and caller hooks

const ValueName kChannelNames[] = {
    {0x1, "Left", kFlag}, {0x2, "Right", kFlag, 3}, {0xffffffff, "All", kEnumValue}};
const ValueNameTable kChannels(kBitFlags, kChannelNames);
const ValueName kNoneNames[] = {{0, "None", kEnumValue}};
const ValueNameTable kZeroIsNone(kEnumeration, kNoneNames, nullptr);
const FieldDesc kExtensionFields[] = {
    {FieldType::Word, 0, 1, "Count", &kZeroIsNone},
    {FieldType::DWord, kHexFormat, 1, "Mask", &kChannels},
    {FieldType::Word, 0, 1, "Hidden"},
    {FieldType::Short, 2, 1, "Edges"},
};
// Follows an 18-byte header; the bytes after it are the caller's.
const StructDesc kExtension("Extension", nullptr, 0, 0, kExtensionFields, {18, true, false});

// Hides the third field, notes the first with its value, logs every check.
struct LoggingHooks : StructureHooks {
  bool Hides(uint32_t field, const FieldValues&) const override { return field == 2; }
  std::string Note(uint32_t field, const FieldValues& values) const override {
    return field == 0 ? " of " + std::to_string(values[0].number) : std::string();
  }
  void Check(uint32_t field, const FieldValues&, bool shown, int depth) const override {
    log += std::to_string(field) + (shown ? "s" : "h") + std::to_string(depth) + " ";
  }
  mutable std::string log;
};

TEST_F(StructureDumperTest, ExtensionLabelsRunsFlagLevelsAndCallerHooks) {
  struct Case {
    uint32_t verbosity;
    Bytes bytes;
    std::string lines;
    const char* checks;
  };
  const Case cases[] = {
      {2,
       {0, 0, 3, 0, 0, 0, 7, 0, 0xfe, 0xff, 5},
       "  18 Count: 0 (None) of 0\n  20 Mask: 0x00000003\n    + Left\n  26 Edges: -2 5\n",
       "0s1 1s1 2h1 3s1 "},
      {3,
       {2, 0, 1, 0, 0, 0},
       "  18 Count: 2 of 2\n  20 Mask: 0x00000001\n    + Left\n    - Right\n",
       "0s1 1s1 "},
      {3,
       {2, 0, 0xff, 0xff, 0xff, 0xff},
       "  18 Count: 2 of 2\n  20 Mask: 0xffffffff\n    All\n",
       "0s1 1s1 "},
      {0, {2, 0, 1}, "", "0h1 1h1 "},
  };
  for (const Case& c : cases) {
    LoggingHooks logging;
    hooks = &logging;
    verbosity = c.verbosity;
    EXPECT_EQ(Interpret(kExtension, c.bytes, 1), c.lines) << c.checks;
    EXPECT_EQ(logging.log, c.checks);
  }
}

// ------------------------------------------------------------------ texts

const FieldDesc kTextFields[] = {
    {FieldType::Word, 0, 0, "NameLength"},   {FieldType::WStringBytes, -1, 0, "Name"},
    {FieldType::WStringChars, 3, 0, "Code"}, {FieldType::WStringChars, 0, 0, "Term"},
    {FieldType::Byte, 0, 0, "Sep"},          {FieldType::Byte, 0, 0, "AnsiLength"},
    {FieldType::AString, -1, 0, "Ansi"},     {FieldType::AString, 0, 0, "Zero"},
    {FieldType::WStringChars, 1, 0, "Accent"}, {FieldType::Byte, 0, 0, "Last"},
};
const StructDesc kTexts("Texts", nullptr, 0, 0, kTextFields);

const FieldDesc kLongTextFields[] = {{FieldType::Word, 0, 0, "Length"},
                                     {FieldType::WStringBytes, -1, 0, "Text"},
                                     {FieldType::Byte, 0, 0, "Tail"}};
const StructDesc kLongText("Long Text", nullptr, 0, 0, kLongTextFields);

// ------------------------------------------------------------- byte runs

const FieldDesc kByteFields[] = {
    {FieldType::Bytes, 4, 0, "Magic"}, {FieldType::Bytes, 4, 5, "Hidden"},
    {FieldType::Byte, 0, 0, "Len"},    {FieldType::Bytes, -1, 0, "Payload"},
    {FieldType::Bytes, 0, 0, "Rest"},
};
const StructDesc kByteRuns("Byte Runs", nullptr, 0, 0, kByteFields);

const FieldDesc kRecordFields[] = {
    {FieldType::PlainArray, 2, 0, "Record"}, {FieldType::Word, 0, 0, "Size"},
    {FieldType::Byte, 0, 0, "Type"},         {FieldType::BytesRest, -2, 0, "Body"},
    {FieldType::ArrayEnd, 0, 0, nullptr},
};
const StructDesc kRecords("Records", nullptr, 0, 0, kRecordFields);

// ----------------------------------------------------------------- arrays

const FieldDesc kTableFields[] = {
    {FieldType::Word, 0, 0, "Count"}, {FieldType::ItemArray, -1, 0, "Entry"},
    {FieldType::DWord, 0, 0, "Value"}, {FieldType::ArrayEnd, 0, 0, nullptr},
    {FieldType::Word, 0, 0, "Tail"},
};
const StructDesc kTable("Table", "'tabl'", 0, 0, kTableFields);
const Bytes kThreeEntries = {3, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 7, 0};

const FieldDesc kNestFields[] = {
    {FieldType::ItemArray, 2, 0, "Outer"}, {FieldType::Byte, 0, 0, "N"},
    {FieldType::PlainArray, -1, 0, "Inner"}, {FieldType::Byte, 0, 0, "V"},
    {FieldType::ArrayEnd, 0, 0, nullptr},   {FieldType::Byte, 0, 0, "After"},
    {FieldType::ArrayEnd, 0, 0, nullptr},
};
const StructDesc kNest("Nest", nullptr, 0, 0, kNestFields);

const FieldDesc kOpenFields[] = {{FieldType::ItemArray, 0, 0, "Item"},
                                 {FieldType::Word, 0, 0, "V"}};
const StructDesc kOpen("Open", nullptr, 0, 0, kOpenFields);

// ---------------------------------------------------------------- repeats

const FieldDesc kStreamFields[] = {{FieldType::Word, 0, 0, "Count"},
                                   {FieldType::Word, -1, 0, "StreamNumbers"},
                                   {FieldType::Byte, 0, 0, "End"}};
const StructDesc kStreams("Streams", nullptr, 0, 0, kStreamFields);

// ------------------------------------------------------------ sub-objects

const FieldDesc kHolderFields[] = {
    {FieldType::Byte, 0, 0, "Before"}, {FieldType::SubObject, 4, 0, "Fixed"},
    {FieldType::SubObject, 0, 0, "Open"}, {FieldType::Byte, 0, 0, "After"}};
const StructDesc kHolder("Holder", "'hold'", 0, 0, kHolderFields);
const FieldDesc kHiddenHolderFields[] = {
    {FieldType::Byte, 0, 0, "Before"}, {FieldType::SubObject, 4, 3, "Fixed"},
    {FieldType::SubObject, 0, 3, "Open"}, {FieldType::Byte, 0, 0, "After"}};
const StructDesc kHiddenHolder("Hidden Holder", nullptr, 0, 0, kHiddenHolderFields);
const Bytes kHolderBytes = {1, 0xaa, 0xbb, 0xcc, 0xdd, 0x11, 0x22, 0x33, 2};

// ------------------------------------------------- size checks and trailer

const FieldDesc kSmallFields[] = {{FieldType::DWord, 0, 0, "Value"}};
const StructDesc kSmall("Small", "'smal'", 4, 4, kSmallFields);

const FieldDesc kFiveFields[] = {
    {FieldType::DWord, 0, 0, "A"}, {FieldType::DWord, 0, 0, "B"}, {FieldType::DWord, 0, 0, "C"},
    {FieldType::DWord, 0, 0, "D"}, {FieldType::QWord, 0, 0, "E"}};
const StructDesc kFive("Five", nullptr, 0, 0, kFiveFields);

const FieldDesc kOddFields[] = {{FieldType::Byte, 0, 0, "Value"}};
const StructDesc kOdd("Odd", nullptr, 0, 0, kOddFields);

const FieldDesc kStopFields[] = {{FieldType::Byte, 0, 0, "A"},
                                 {FieldType::Stop, 0, 0, nullptr},
                                 {FieldType::Byte, 0, 0, "B"}};
const StructDesc kStopped("Stopped", nullptr, 0, 0, kStopFields);

// ---------------------------------------------------------- hostile data

const FieldDesc kHugeFields[] = {{FieldType::DWord, 0, 0, "Count"},
                                 {FieldType::PlainArray, -1, 0, "Item"},
                                 {FieldType::DWord, 0, 0, "V"},
                                 {FieldType::ArrayEnd, 0, 0, nullptr}};
const StructDesc kHuge("Huge", nullptr, 0, 0, kHugeFields);
const FieldDesc kEmptyNestFields[] = {{FieldType::PlainArray, 0, 0, "A"},
                                      {FieldType::PlainArray, 0, 0, "B"},
                                      {FieldType::ArrayEnd, 0, 0, nullptr},
                                      {FieldType::ArrayEnd, 0, 0, nullptr}};
const StructDesc kEmptyNest("Empty Nest", nullptr, 0, 0, kEmptyNestFields);
const FieldDesc kWidthlessFields[] = {{FieldType::ItemArray, 0, 0, "Z"},
                                      {FieldType::SubObject, 0, 0, "S"}};
const StructDesc kWidthless("Widthless", nullptr, 0, 0, kWidthlessFields);

struct Case {
  const char* name;
  const StructDesc* desc;
  Bytes bytes;
  uint32_t consumed;
  std::string whole;                    // the whole dump, when given
  std::vector<std::string> parts = {};  // runs of lines that must appear
  std::function<void()> setup = nullptr;
};

TEST_F(StructureDumperTest, DescriptionsInterpretTheirData) {
  const std::vector<Case> cases = {
      {"enumerations and flags", &kNamed, NamedBytes(), 29,
       Lines({"Named (29) 'name'", "  00 Mode: 2 (Two)", "  02 Other: 5 (undefined)",
              "  04 Flags: 0x0031", "    + Keyframe", "    Level: 48", "  06 Type: 'vids' (Video)",
              "  10 Id: {75b22630-668e-11cf-a6d9-00aa0062ce6c} (Header)", "  26 Kind: 1 (One)",
              "  27 Delta: -1 (Minus one)"})},
      {"clear flags from verbosity 3",
       &kNamed,
       NamedBytes(),
       29,
       "",
       {"Named (S:29, P:0) 'name'\n", "    + Keyframe\n    - Hidden\n    Level: 48\n"},
       [this] { verbosity = 3; }},
      {"counted and terminated texts",
       &kTexts,
       {10, 0,   'H', 0, 'i', 0, 0, 0,   'x', 0, 'y', 0,   'a', 0,   'b', 0, 'c',  0,    'o',
        0,  'k', 0,   0, 0,   9, 5, 'a', 'b', 0, 'c', 'd', 'x', 'y', 'z', 0, 0xe9, 0x00, 1},
       38,
       Lines({"00 NameLength: 10", "02 Name: \"Hi\"", "12 Code: \"abc\"", "18 Term: \"ok\"",
              "24 Sep: 9", "25 AnsiLength: 5", "26 Ansi: \"ab\"", "31 Zero: \"xyz\"",
              "35 Accent: \"\xc3\xa9\"", "37 Last: 1"})},
      {"text length cut to the payload",
       &kLongText,
       {0xff, 0xff, 'A', 0, 'B', 0, 'C'},
       7,
       Lines({"00 Length: 65535", "02 Text: \"AB\"", "06 Tail: 67"})},
      {"byte runs",
       &kByteRuns,
       {'A', 'B', 'C', 'D', 1, 2, 3, 4, 2, 0x00, 0xff, 'x', 'y', 'z'},
       14,
       Lines({"00 Magic", "  \"ABCD\"", "  \"41 42 43 44 \"", "04 Hidden", "08 Len: 2",
              "09 Payload", "  \"..\"", "  \"0 ff \"", "11 Rest", "  \"xyz\"", "  \"78 79 7a \""})},
      {"rest of an item",
       &kRecords,
       {5, 0, 1, 'h', 'i', 4, 0, 2, 'z'},
       9,
       Lines({"Record Item #1", "  00 Size: 5", "  02 Type: 1", "  03 Body", "    \"hi\"",
              "    \"68 69 \"", "Record Item #2", "  00 Size: 4", "  02 Type: 2", "  03 Body",
              "    \"z\"", "    \"7a \""})},
      // A size the data cannot hold is clamped to what remains.
      {"item size beyond the data", &kRecords, {0xff, 0xff, 1, 'a', 'b'}, 5, ""},
      {"item array", &kTable, kThreeEntries, 16,
       Lines({"Table (16) 'tabl'", "  00 Count: 3", "  Entry Item #1", "    00 Value: 1",
              "  -> Chunk Size: 4", "  Entry Item #2", "    00 Value: 2", "  -> Chunk Size: 4",
              "  Entry Item #3", "    00 Value: 3", "  -> Chunk Size: 4", "  14 Tail: 7"})},
      {"item limit",
       &kTable,
       kThreeEntries,
       16,
       Lines({"Table (16) 'tabl'", "  00 Count: 3", "  Entry Item #1", "    00 Value: 1",
              "  -> Chunk Size: 4", "  14 Tail: 7"}),
       {},
       [this] { itemLimit = 1; }},
      {"item array at verbosity 1",
       &kTable,
       kThreeEntries,
       16,
       "",
       {"  Entry Item #3\n    00 Value: 3\n  14 Tail: 7\n"},
       [this] { verbosity = 1; }},
      {"no items",
       &kTable,
       {0, 0, 7, 0},
       4,
       Lines({"Table (4) 'tabl'", "  00 Count: 0", "  02 Tail: 7"})},
      {"nested arrays",
       &kNest,
       {2, 10, 11, 5, 1, 12, 6},
       7,
       Lines({"Outer Item #1", "  00 N: 2", "  Inner Item #1", "    00 V: 10", "  Inner Item #2",
              "    00 V: 11", "  03 After: 5", "-> Chunk Size: 4", "Outer Item #2", "  00 N: 1",
              "  Inner Item #1", "    00 V: 12", "  02 After: 6", "-> Chunk Size: 3"})},
      {"unbounded array",
       &kOpen,
       {1, 0, 2, 0},
       4,
       Lines({"Item Item #1", "  00 V: 1", "-> Chunk Size: 2", "Item Item #2", "  00 V: 2",
              "-> Chunk Size: 2"})},
      {"repeated numbers",
       &kStreams,
       {3, 0, 1, 0, 2, 0, 3, 0, 9},
       9,
       Lines({"00 Count: 3", "02 StreamNumbers: 1", "04 StreamNumbers: 2", "06 StreamNumbers: 3",
              "08 End: 9"})},
      {"no repeats", &kStreams, {0, 0, 9}, 3, Lines({"00 Count: 0", "02 End: 9"})},
      // The cut element is shown padded with zeros and reported as missing.
      {"repeats beyond the data",
       &kStreams,
       {0xff, 0xff, 1, 0, 2, 0, 3},
       8,
       Lines({"00 Count: 65535", "02 StreamNumbers: 1", "04 StreamNumbers: 2",
              "06 StreamNumbers: 3", "*** Error: 8Missing Data 1"})},
      {"sub-objects",
       &kHolder,
       kHolderBytes,
       9,  // the fixed one consumes 4 all the same
       Lines({"Holder (9) 'hold'", "  00 Before: 1",
              "  01 Fixed: ", "    sub 'hold' size 4 at 1 field 1",
              "  05 Open: ", "    sub 'hold' size 4 at 5 field 2", "  08 After: 2"}),
       {},
       [this] { subResult = 3; }},
      {"short payload",
       &kSmall,
       {1, 2, 3},
       4,
       Lines({"Small (3) 'smal'", "  *** Error: Unknown Token Size<!", "  00 Value: 197121",
              "  *** Error: 4Missing Data 1"})},
      {"long payload",
       &kSmall,
       {1, 0, 0, 0, 5, 6},
       6,
       Lines({"Small (6) 'smal'", "  *** Error: Unknown Token Size>!", "  00 Value: 1",
              "  *** Error: Additional Data 2", "    \"..\"", "    \"5 6 \""})},
      {"missing data",
       &kFive,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
       24,
       "",
       {"16 E: 1\n*** Error: 24Missing Data 4\n"}},
      {"word-aligned pad",
       &kOdd,
       {42, 0},
       2,
       Lines({"00 Value: 42"}),
       {},
       [this] { wordAligned = true; }},
      {"unaligned pad",
       &kOdd,
       {42, 0},
       2,
       Lines({"00 Value: 42", "*** Error: Additional Data 1", "  \".\"", "  \"0 \""})},
      {"stop", &kStopped, {1, 2, 3}, 1, Lines({"00 A: 1"})},
      {"huge referenced count",
       &kHuge,
       {0xff, 0xff, 0xff, 0xff, 1, 0, 0, 0, 2, 0, 0, 0},
       12,
       Lines({"00 Count: 4294967295", "Item Item #1", "  00 V: 1", "Item Item #2", "  00 V: 2"})},
      {"zero-size items",
       &kEmptyNest,
       {1, 2, 3, 4},
       4,
       Lines({"A Item #1", "  B Item #1", "*** Error: Additional Data 4", "  \"....\"",
              "  \"1 2 3 4 \""})},
      // A sub-object of unknown size that takes nothing.
      {"zero-size sub-object",
       &kWidthless,
       {1, 2},
       2,
       Lines({"Z Item #1", "  00 S: ", "    sub  size 2 at 0 field 1", "-> Chunk Size: 0",
              "*** Error: Additional Data 2", "  \"..\"", "  \"1 2 \""})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    verbosity = 2;
    itemLimit = StructureDumper::kNoItemLimit;
    wordAligned = false;
    subResult = 0;
    if (c.setup) c.setup();
    const std::string text = Interpret(*c.desc, c.bytes);
    if (!c.whole.empty()) {
      EXPECT_EQ(text, c.whole);
    }
    for (const std::string& part : c.parts) EXPECT_NE(text.find(part), std::string::npos) << part;
    EXPECT_EQ(consumed, c.consumed);
  }
}

TEST_F(StructureDumperTest, HiddenOpenSubObjectIsMeasuredSilently) {
  subResult = 3;
  EXPECT_EQ(Interpret(kHiddenHolder, kHolderBytes), Lines({"00 Before: 1", "08 After: 2"}));
  EXPECT_EQ(subCalls, 1);  // only the open one; the fixed one is skipped by its count
  EXPECT_EQ(consumed, 9u);
}

TEST_F(StructureDumperTest, HandlerClaimingMoreThanRemainsIsCut) {
  subResult = 100;
  std::string text = Interpret(kHolder, kHolderBytes);
  EXPECT_EQ(consumed, 9u);
  EXPECT_EQ(text.find("Missing"), std::string::npos);
}

TEST_F(StructureDumperTest, CapturedValuesArriveEvenWhenTheFieldIsHidden) {
  uint32_t brand = 0;
  const FieldDesc fields[] = {{FieldType::FourCC, 0, 5, "Brand", nullptr, &brand}};
  const StructDesc desc("Brand", nullptr, 0, 0, fields);
  EXPECT_EQ(Interpret(desc, {'q', 't', ' ', ' '}), "");
  EXPECT_EQ(brand, FourCC("qt  "));
}

std::vector<const StructDesc*> TestTables() {
  return {&kNumbers, &kSwapped, &kTimes, &kNamed,   &kTexts,   &kLongText,  &kByteRuns,
          &kRecords, &kTable,   &kNest,  &kOpen,    &kStreams, &kHolder,    &kHiddenHolder,
          &kSmall,   &kFive,    &kOdd,   &kStopped, &kHuge,    &kEmptyNest, &kWidthless};
}

TEST_F(StructureDumperTest, RandomPayloadsNeverOverrunOrHang) {
  std::mt19937 random(12345);
  for (const StructDesc* desc : TestTables()) {
    for (int round = 0; round < 60; ++round) {
      Bytes bytes(random() % 72);
      for (auto& byte : bytes) byte = static_cast<uint8_t>(random() % 4 == 0 ? 0xff : random());
      verbosity = round % 5;
      wordAligned = round % 2 == 0;
      bigEndian = round % 3 == 0;
      subResult = static_cast<uint32_t>(random() % 8);
      itemLimit = round % 4 == 0 ? 1 : StructureDumper::kNoItemLimit;
      Interpret(*desc, bytes, round % 3);
      EXPECT_LE(consumed, bytes.size() + 32) << desc->name;
    }
  }
}

// --------------------------------------------------------- reading a file

struct StructureDumperFileTest : StructureDumperTest {
  // A directory of its own: the tests run in parallel processes.
  testsupport::ScratchDir dir;
  std::string path = dir.File("structure-dumper-test.bin");
  void Write(const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  std::string Dump(uint32_t span, const StructDesc& desc) {
    DumpParser parser(Options(), output);
    parser.SetFlags(wordAligned, bigEndian);
    out.str("");
    EXPECT_TRUE(parser.OpenForReading(path));
    EXPECT_TRUE(parser.Seek(8));
    consumed = StructureDumper::DumpStructure(parser, 1, 8, span, span, desc,
                                              StructureDumper::kNoItemLimit);
    position = parser.CurrentPosition();
    output.Flush();
    return out.str();
  }
  uint64_t position = 0;
};

const StructDesc kOddChunk("Odd Chunk", "'odd '", 1, 0, kOddFields);

TEST_F(StructureDumperFileTest, OddChunkReadsItsPadWhenWordAligned) {
  Write({'o', 'd', 'd', ' ', 9, 0, 0, 0, 42, 0, 'n', 'e', 'x', 't'});
  wordAligned = true;
  verbosity = 3;
  EXPECT_EQ(Dump(9, kOddChunk), Lines({"  Odd Chunk (S:10, P:0) 'odd '", "    00 Value: 42"}));
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(position, 10u);
}

TEST_F(StructureDumperFileTest, ClaimedSpanBeyondTheFileReportsThePrematureEnd) {
  Write({'o', 'd', 'd', ' ', 0xff, 0xff, 0xff, 0xff, 42, 0});
  std::string text = Dump(0xffffffff, kOddChunk);
  EXPECT_EQ(consumed, 0u);
  EXPECT_NE(text.find("*** Fatal: File ends prematurely!"), std::string::npos);
  EXPECT_EQ(text.find("Odd Chunk"), std::string::npos);
}

TEST_F(StructureDumperFileTest, SpanBelowTheHeaderGivesAnEmptyPayload) {
  Write({'o', 'd', 'd', ' ', 4, 0, 0, 0, 42, 0});
  EXPECT_EQ(Dump(4, kOddChunk),
            Lines({"  Odd Chunk (4) 'odd '", "    *** Error: Unknown Token Size<!"}));
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(position, 8u);
}

// ------------------------------------------------------ description check

TEST(StructureDescriptionTest, FaultyTablesAreNamed) {
  auto check = [](const StructDesc& desc) {
    std::string why;
    EXPECT_FALSE(StructureDumper::CheckDescription(desc, why));
    return why;
  };
  const FieldDesc early[] = {{FieldType::AString, -1, 0, "Text"}};
  EXPECT_EQ(check(StructDesc("Early", nullptr, 0, 0, early)),
            "Early field 0: reference before the first field");
  const FieldDesc toText[] = {{FieldType::FourCC, 0, 0, "Id"}, {FieldType::Bytes, -1, 0, "B"}};
  EXPECT_EQ(check(StructDesc("ToText", nullptr, 0, 0, toText)),
            "ToText field 1: reference to a field that records no number");
  const FieldDesc strayEnd[] = {{FieldType::Byte, 0, 0, "B"}, {FieldType::ArrayEnd, 0, 0, nullptr}};
  EXPECT_EQ(check(StructDesc("Stray", nullptr, 0, 0, strayEnd)),
            "Stray field 1: array end without an open array");
  const FieldDesc badFormat[] = {{FieldType::FourCC, 5, 0, "B"}};
  EXPECT_EQ(check(StructDesc("Format", nullptr, 0, 0, badFormat)),
            "Format field 0: numeric format other than 0 or hexadecimal");
  const FieldDesc countedDate[] = {{FieldType::Word, 0, 0, "N"}, {FieldType::FileTime, -1, 0, "T"}};
  EXPECT_EQ(check(StructDesc("Date", nullptr, 0, 0, countedDate)),
            "Date field 1: negative count on a field that takes no count");
  const ValueName plain[] = {{1, "One", kEnumValue}};
  const ValueNameTable plainTable(kEnumeration, plain);
  const FieldDesc guidNames[] = {{FieldType::Guid, 0, 0, "G", &plainTable}};
  EXPECT_EQ(check(StructDesc("Guid", nullptr, 0, 0, guidNames)),
            "Guid field 0: GUID value name without a GUID");
  const FieldDesc textNames[] = {{FieldType::AString, 4, 0, "T", &plainTable}};
  EXPECT_EQ(check(StructDesc("Named Text", nullptr, 0, 0, textNames)),
            "Named Text field 0: value names on a field that cannot be decoded");
}

}  // namespace
