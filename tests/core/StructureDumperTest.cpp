#include <gtest/gtest.h>

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

// Flags set by the test; sub-objects print one line and take a chosen size.
class DumpParser : public CParser {
 public:
  DumpParser(const RunOptions& options, ReportOutput& output, bool wordAligned, bool bigEndian)
      : CParser(options, output) {
    wordAligned_ = wordAligned;
    bigEndian_ = bigEndian;
  }
  bool Parse(const std::string&, const std::string&) override { return true; }
  uint32_t DumpSubObject(const std::string& tag, uint32_t size, const uint8_t*, uint32_t,
                         uint32_t offset, int indent, const FieldValues&,
                         uint32_t fieldIndex) override {
    ++calls;
    Reporter().PlainLine("sub " + tag + " size " + std::to_string(size) + " at " +
                             std::to_string(offset) + " field " + std::to_string(fieldIndex),
                         indent);
    return subResult;
  }
  uint32_t subResult = 0;
  int calls = 0;
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
    DumpParser parser(Options(), output, wordAligned, bigEndian);
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

const FieldDesc kNumberFields[] = {
    {FieldType::Byte, 0, 0, "B"},        {FieldType::Byte, kHexFormat, 0, "BH"},
    {FieldType::Short, 0, 0, "S"},       {FieldType::Short, kHexFormat, 0, "SH"},
    {FieldType::Word, kHexFormat, 0, "WH"}, {FieldType::Word24, 0, 0, "T"},
    {FieldType::Long, 0, 0, "L"},        {FieldType::DWord, kHexFormat, 0, "DH"},
    {FieldType::QWord, kHexFormat, 0, "QH"}, {FieldType::FourCC, 0, 0, "F"},
    {FieldType::FourCC, kHexFormat, 0, "FH"}, {FieldType::Guid, 0, 0, "G"},
};
const StructDesc kNumbers("Numbers", "'numb'", 51, 51, kNumberFields);

const FieldDesc kSwappedFields[] = {
    {FieldType::Short, 0, 0, "S"},       {FieldType::Word, 0, 0, "W"},
    {FieldType::Word24, 0, 0, "T"},      {FieldType::DWord, 0, 0, "D"},
    {FieldType::QWord, 0, 0, "Q"},       {FieldType::FourCC, 0, 0, "F"},
    {FieldType::FileTime, 0, 0, "Time"},
};
const StructDesc kSwapped("Swapped", nullptr, 0, 0, kSwappedFields);

TEST_F(StructureDumperTest, NumbersInDecimalAndHexWithOffsets) {
  Bytes bytes = {0x07, 0xab, 0xfe, 0xff, 0xfe, 0xff, 0x06, 0x00, 0x01, 0x02, 0x03, 0xff, 0xff,
                 0xff, 0xff, 0x78, 0x56, 0x34, 0x12, 1,    0,    0,    0,    0,    0,    0,
                 1,    'R',  'I',  'F',  'F',  'a',  'b',  0x01, 'd',  0xa1, 0xdc, 0xab, 0x8c,
                 0x47, 0xa9, 0xcf, 0x11, 0x8e, 0xe4, 0x00, 0xc0, 0x0c, 0x20, 0x53, 0x65};
  EXPECT_EQ(
      Interpret(kNumbers, bytes),
      Lines({"Numbers (51) 'numb'", "  00 B: 7", "  01 BH: 0xab", "  02 S: -2", "  04 SH: 0xfffe",
             "  06 WH: 0x0006", "  08 T: 197121", "  11 L: -1", "  15 DH: 0x12345678",
             "  19 QH: 0x0100000000000001", "  27 F: 'RIFF'", "  31 FH: 0x64016261 'ab d'",
             "  35 G: {8cabdca1-a947-11cf-8ee4-00c00c205365}"}));
  EXPECT_EQ(consumed, 51u);
  // The big-endian flag swaps numbers, not tokens or file times.
  bigEndian = true;
  bytes = {0xff, 0xfe, 0x00, 0x06, 0x01, 0x02, 0x03, 0x00, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0,
           0,    0x01, 0x00, 'R',  'I',  'F',  'F',  0,    0,    0,    0,    0, 0, 0, 0};
  EXPECT_EQ(Interpret(kSwapped, bytes),
            Lines({"00 S: -2", "02 W: 6", "04 T: 66051", "07 D: 65536", "11 Q: 256",
                   "19 F: 'RIFF'", "23 Time: 0  (00:00:00)"}));
  EXPECT_EQ(consumed, 31u);
}

const FieldDesc kTimeFields[] = {
    {FieldType::FileTime, 0, 0, "Created"},   {FieldType::FileTime, 0, 0, "Early"},
    {FieldType::FileTime, 0, 0, "Later"},     {FieldType::Duration, 0, 0, "Short"},
    {FieldType::Duration, 0, 0, "Long"},      {FieldType::MacDate32, 0, 0, "Y2K"},
    {FieldType::MacDate64, 0, 0, "Leap"},     {FieldType::Fixed8, 0, 0, "Balance"},
    {FieldType::Fixed16, 0, 0, "Rate"},       {FieldType::Extended80, 0, 0, "SampleRate"},
    {FieldType::Extended80, 0, 0, "Rounded"}, {FieldType::Extended80, 0, 0, "Huge"},
};
const StructDesc kTimes("Times", nullptr, 0, 0, kTimeFields);

TEST_F(StructureDumperTest, DatesDurationsAndFractions) {
  Bytes bytes;
  for (uint64_t value : {125911621230000000ull, 314679670000000ull, 157521023990000000ull,
                         120400000ull, 900000010000ull}) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  // Big-endian QuickTime dates, then the fixed-point and 80-bit numbers.
  bytes.insert(bytes.end(), {0xb4, 0x92, 0xf4, 0x00, 0, 0, 0, 0, 0xe2, 0x06, 0x22, 0x40});
  bytes.insert(bytes.end(), {0xff, 0x80, 0, 1, 0, 0});
  bytes.insert(bytes.end(), {0x40, 0x0e, 0xac, 0x44, 0, 0, 0, 0, 0, 0});
  bytes.insert(bytes.end(), {0x40, 0x0e, 0xac, 0x44, 0x80, 0, 0, 0, 0, 0});
  bytes.insert(bytes.end(), {0x40, 0x40, 0x80, 0x00, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(Interpret(kTimes, bytes),
            Lines({"00 Created: 125911621230000000  (2000-01-01 01:02:03)",
                   "08 Early: 314679670000000  (05:06:07)",
                   "16 Later: 157521023990000000  (2100-03-01 23:59:59)",
                   "24 Short: 120400000  (00:00:12.040)", "32 Long: 900000010000  (01:00:00.001)",
                   "40 Y2K: 3029529600  (2000-01-01 00:00:00)",
                   "44 Leap: 3792052800  (2024-02-29 12:00:00)", "52 Balance: -0.5", "54 Rate: 1",
                   "58 SampleRate: 44100", "68 Rounded: 44101", "78 Huge: 4294967295"}));
  EXPECT_EQ(consumed, 88u);
}

TEST(FieldFormatTest, CalendarAndExtendedEdges) {
  // 1900 is no leap year, 2000 is; the largest 64-bit QuickTime date fits no calendar.
  EXPECT_EQ(FieldFormat::MacDateText(4294967295u), "2040-02-06 06:28:15");
  EXPECT_EQ(FieldFormat::FileTimeText(94405824000000000u), "1900-03-01 00:00:00");
  EXPECT_EQ(FieldFormat::FileTimeText(126227808000000000u), "2001-01-01 00:00:00");
  EXPECT_TRUE(FieldFormat::MacDateText(~static_cast<uint64_t>(0)).empty());
  const uint8_t shiftOnly[10] = {0x40, 0x1e, 0x00, 0x00, 0x00, 0x05};
  EXPECT_EQ(FieldFormat::Extended80Value(shiftOnly), 5u);
  const uint8_t justFits[10] = {0x40, 0x1f, 0x7f, 0xff, 0xff, 0xff};
  EXPECT_EQ(FieldFormat::Extended80Value(justFits), 0xfffffffeu);
  const uint8_t zero[10] = {0x40, 0x60};
  EXPECT_EQ(FieldFormat::Extended80Value(zero), 0u);
}

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

const FieldDesc kNamedFields[] = {{FieldType::Word, 0, 0, "Mode", &kModes},
                                  {FieldType::Word, 0, 0, "Other", &kModes},
                                  {FieldType::Word, kHexFormat, 0, "Flags", &kFlags},
                                  {FieldType::FourCC, 0, 0, "Type", &kTypes},
                                  {FieldType::Guid, 0, 0, "Id", &kGuids},
                                  {FieldType::Byte, 0, 0, "Kind", &kModes},
                                  {FieldType::Short, 0, 0, "Delta", &kModes}};
const StructDesc kNamed("Named", "'name'", 0, 0, kNamedFields);

// Mode, Other, Flags, Type, the GUID of the named header, Kind, Delta.
const Bytes kNamedBytes = {2,    0,    5,    0,    0x31, 0x00, 'v',  'i',  'd',  's',
                           0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11, 0xa6, 0xd9,
                           0x00, 0xaa, 0x00, 0x62, 0xce, 0x6c, 1,    0xff, 0xff};

const ValueName kChannelNames[] = {
    {0x1, "Left", kFlag}, {0x2, "Right", kFlag, 3}, {0xffffffff, "All", kEnumValue}};
const ValueNameTable kChannels(kBitFlags, kChannelNames);
const ValueName kNoneNames[] = {{0, "None", kEnumValue}};
const ValueNameTable kZeroIsNone(kEnumeration, kNoneNames, nullptr);
const FieldDesc kExtensionFields[] = {{FieldType::Word, 0, 1, "Count", &kZeroIsNone},
                                      {FieldType::DWord, kHexFormat, 1, "Mask", &kChannels},
                                      {FieldType::Word, 0, 1, "Hidden"},
                                      {FieldType::Short, 2, 1, "Edges"}};
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
  const struct {
    uint32_t verbosity;
    Bytes bytes;
    std::string lines;
    const char* checks;
  } cases[] = {
      {2, Bytes{0, 0, 3, 0, 0, 0, 7, 0, 0xfe, 0xff, 5},
       "  18 Count: 0 (None) of 0\n  20 Mask: 0x00000003\n    + Left\n  26 Edges: -2 5\n",
       "0s1 1s1 2h1 3s1 "},
      {3, Bytes{2, 0, 1, 0, 0, 0},
       "  18 Count: 2 of 2\n  20 Mask: 0x00000001\n    + Left\n    - Right\n", "0s1 1s1 "},
      {3, Bytes{2, 0, 0xff, 0xff, 0xff, 0xff},
       "  18 Count: 2 of 2\n  20 Mask: 0xffffffff\n    All\n", "0s1 1s1 "},
      {0, Bytes{2, 0, 1}, "", "0h1 1h1 "},
  };
  for (const auto& c : cases) {
    LoggingHooks logging;
    hooks = &logging;
    verbosity = c.verbosity;
    EXPECT_EQ(Interpret(kExtension, c.bytes, 1), c.lines) << c.checks;
    EXPECT_EQ(logging.log, c.checks);
  }
}

const FieldDesc kTextFields[] = {
    {FieldType::Word, 0, 0, "NameLength"},   {FieldType::WStringBytes, -1, 0, "Name"},
    {FieldType::WStringChars, 3, 0, "Code"}, {FieldType::WStringChars, 0, 0, "Term"},
    {FieldType::Byte, 0, 0, "Sep"},          {FieldType::Byte, 0, 0, "AnsiLength"},
    {FieldType::AString, -1, 0, "Ansi"},     {FieldType::AString, 0, 0, "Zero"},
    {FieldType::WStringChars, 1, 0, "Accent"}, {FieldType::Byte, 0, 0, "Last"},
};
const StructDesc kTexts("Texts", nullptr, 0, 0, kTextFields);

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

const FieldDesc kStreamFields[] = {{FieldType::Word, 0, 0, "Count"},
                                   {FieldType::Word, -1, 0, "StreamNumbers"},
                                   {FieldType::Byte, 0, 0, "End"}};
const StructDesc kStreams("Streams", nullptr, 0, 0, kStreamFields);

const FieldDesc kHolderFields[] = {
    {FieldType::Byte, 0, 0, "Before"}, {FieldType::SubObject, 4, 0, "Fixed"},
    {FieldType::SubObject, 0, 0, "Open"}, {FieldType::Byte, 0, 0, "After"}};
const StructDesc kHolder("Holder", "'hold'", 0, 0, kHolderFields);
const FieldDesc kHiddenHolderFields[] = {
    {FieldType::Byte, 0, 0, "Before"}, {FieldType::SubObject, 4, 3, "Fixed"},
    {FieldType::SubObject, 0, 3, "Open"}, {FieldType::Byte, 0, 0, "After"}};
const StructDesc kHiddenHolder("Hidden Holder", nullptr, 0, 0, kHiddenHolderFields);
const Bytes kHolderBytes = {1, 0xaa, 0xbb, 0xcc, 0xdd, 0x11, 0x22, 0x33, 2};

const FieldDesc kSmallFields[] = {{FieldType::DWord, 0, 0, "Value"}};
const StructDesc kSmall("Small", "'smal'", 4, 4, kSmallFields);

const FieldDesc kOddFields[] = {{FieldType::Byte, 0, 0, "Value"}};
const StructDesc kOdd("Odd", nullptr, 0, 0, kOddFields);

const FieldDesc kStopFields[] = {{FieldType::Byte, 0, 0, "A"},
                                 {FieldType::Stop, 0, 0, nullptr},
                                 {FieldType::Byte, 0, 0, "B"}};
const StructDesc kStopped("Stopped", nullptr, 0, 0, kStopFields);

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

using Parts = std::vector<std::string>;

// A description over a payload: lines present, a text absent, bytes consumed.
struct Case {
  const char* name;
  const StructDesc* desc;
  Bytes bytes;
  uint32_t consumed;
  Parts parts;
  const char* absent = nullptr;
  uint32_t verbosity = 2;
  uint32_t subResult = 0;
  uint32_t itemLimit = StructureDumper::kNoItemLimit;
  bool wordAligned = false;
};

TEST_F(StructureDumperTest, DescriptionsInterpretTheirData) {
  const std::vector<Case> cases = {
      {"enumerations and flags", &kNamed, kNamedBytes, 29,
       Parts{Lines({"Named (29) 'name'", "  00 Mode: 2 (Two)", "  02 Other: 5 (undefined)",
                    "  04 Flags: 0x0031", "    + Keyframe", "    Level: 48",
                    "  06 Type: 'vids' (Video)",
                    "  10 Id: {75b22630-668e-11cf-a6d9-00aa0062ce6c} (Header)",
                    "  26 Kind: 1 (One)", "  27 Delta: -1 (Minus one)"})}},
      {"counted and terminated texts", &kTexts,
       Bytes{10, 0,   'H', 0, 'i', 0, 0, 0,   'x', 0, 'y', 0,   'a', 0,   'b', 0, 'c',  0,    'o',
             0,  'k', 0,   0, 0,   9, 5, 'a', 'b', 0, 'c', 'd', 'x', 'y', 'z', 0, 0xe9, 0x00, 1},
       38,
       Parts{"02 Name: \"Hi\"\n12 Code: \"abc\"\n18 Term: \"ok\"\n",
             "26 Ansi: \"ab\"\n31 Zero: \"xyz\"\n35 Accent: \"\xc3\xa9\"\n37 Last: 1\n"}},
      {"text length cut to the payload", &kTexts, Bytes{0xff, 0xff, 'A', 0, 'B', 0, 'C'}, 7,
       Parts{"02 Name: \"AB\"\n"}},
      {"byte runs", &kByteRuns, Bytes{'A', 'B', 'C', 'D', 1, 2, 3, 4, 2, 0x00, 0xff, 'x', 'y', 'z'},
       14,
       Parts{
           "00 Magic\n  \"ABCD\"\n  \"41 42 43 44 \"\n04 Hidden\n08 Len: 2\n09 Payload\n  \"..\"\n",
           "  \"0 ff \"\n11 Rest\n  \"xyz\"\n"}},
      {"rest of an item", &kRecords, Bytes{5, 0, 1, 'h', 'i', 4, 0, 2, 'z'}, 9,
       Parts{"Record Item #1\n  00 Size: 5\n  02 Type: 1\n  03 Body\n    \"hi\"\n",
             "Record Item #2\n  00 Size: 4\n  02 Type: 2\n  03 Body\n    \"z\"\n"}},
      // A size the data cannot hold is clamped to what remains.
      {"item size beyond the data", &kRecords, Bytes{0xff, 0xff, 1, 'a', 'b'}, 5, Parts{}},
      {"item array", &kTable, kThreeEntries, 16,
       Parts{"Table (16) 'tabl'\n  00 Count: 3\n  Entry Item #1\n    00 Value: 1\n  -> Chunk Size: "
             "4\n",
             "  Entry Item #3\n    00 Value: 3\n  -> Chunk Size: 4\n  14 Tail: 7\n"}},
      {"item limit", &kTable, kThreeEntries, 16,
       Parts{"    00 Value: 1\n  -> Chunk Size: 4\n  14 Tail: 7\n"}, nullptr, 2, 0, 1},
      {"item array at verbosity 1", &kTable, kThreeEntries, 16,
       Parts{"  Entry Item #3\n    00 Value: 3\n  14 Tail: 7\n"}, nullptr, 1},
      {"no items", &kTable, Bytes{0, 0, 7, 0}, 4, Parts{"  00 Count: 0\n  02 Tail: 7\n"}},
      {"nested arrays", &kNest, Bytes{2, 10, 11, 5, 1, 12, 6}, 7,
       Parts{"  Inner Item #2\n    00 V: 11\n  03 After: 5\n-> Chunk Size: 4\nOuter Item #2\n",
             "  Inner Item #1\n    00 V: 12\n  02 After: 6\n-> Chunk Size: 3\n"}},
      {"unbounded array", &kOpen, Bytes{1, 0, 2, 0}, 4,
       Parts{"Item Item #2\n  00 V: 2\n-> Chunk Size: 2\n"}},
      {"repeated numbers", &kStreams, Bytes{3, 0, 1, 0, 2, 0, 3, 0, 9}, 9,
       Parts{"02 StreamNumbers: 1\n04 StreamNumbers: 2\n06 StreamNumbers: 3\n08 End: 9\n"}},
      {"no repeats", &kStreams, Bytes{0, 0, 9}, 3, Parts{"00 Count: 0\n02 End: 9\n"}},
      // The cut element is shown padded with zeros and reported as missing.
      {"repeats beyond the data", &kStreams, Bytes{0xff, 0xff, 1, 0, 2, 0, 3}, 8,
       Parts{"06 StreamNumbers: 3\n*** Error: 8Missing Data 1\n"}},
      // The fixed sub-object consumes its 4 bytes whatever the handler says.
      {"sub-objects", &kHolder, kHolderBytes, 9,
       Parts{"  01 Fixed: \n    sub 'hold' size 4 at 1 field 1\n  05 Open: \n",
             "    sub 'hold' size 4 at 5 field 2\n  08 After: 2\n"},
       nullptr, 2, 3},
      {"short payload", &kSmall, Bytes{1, 2, 3}, 4,
       Parts{Lines({"Small (3) 'smal'", "  *** Error: Unknown Token Size<!", "  00 Value: 197121",
                    "  *** Error: 4Missing Data 1"})}},
      {"long payload", &kSmall, Bytes{1, 0, 0, 0, 5, 6}, 6,
       Parts{"  *** Error: Unknown Token Size>!\n  00 Value: 1\n  *** Error: Additional Data 2\n",
             "    \"..\"\n    \"5 6 \"\n"}},
      {"missing data", &kSwapped, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, 19,
       Parts{"11 Q: 1\n*** Error: 19Missing Data 4\n"}},
      {"word-aligned pad", &kOdd, Bytes{42, 0}, 2, Parts{"00 Value: 42\n"}, "Error", 2, 0,
       StructureDumper::kNoItemLimit, true},
      {"unaligned pad", &kOdd, Bytes{42, 0}, 2,
       Parts{"*** Error: Additional Data 1\n  \".\"\n  \"0 \"\n"}},
      {"stop", &kStopped, Bytes{1, 2, 3}, 1, Parts{"00 A: 1\n"}, "B:"},
      {"huge referenced count", &kHuge, Bytes{0xff, 0xff, 0xff, 0xff, 1, 0, 0, 0, 2, 0, 0, 0}, 12,
       Parts{"00 Count: 4294967295\nItem Item #1\n  00 V: 1\nItem Item #2\n  00 V: 2\n"}},
      {"zero-size items", &kEmptyNest, Bytes{1, 2, 3, 4}, 4,
       Parts{"A Item #1\n  B Item #1\n*** Error: Additional Data 4\n"}},
      // A sub-object of unknown size that takes nothing.
      {"zero-size sub-object", &kWidthless, Bytes{1, 2}, 2,
       Parts{"  00 S: \n    sub  size 2 at 0 field 1\n-> Chunk Size: 0\n",
             "*** Error: Additional Data 2\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    verbosity = c.verbosity;
    itemLimit = c.itemLimit;
    wordAligned = c.wordAligned;
    subResult = c.subResult;
    const std::string text = Interpret(*c.desc, c.bytes);
    for (const std::string& part : c.parts) EXPECT_NE(text.find(part), std::string::npos) << text;
    EXPECT_TRUE(c.absent == nullptr || text.find(c.absent) == std::string::npos) << text;
    EXPECT_EQ(consumed, c.consumed);
  }
}

TEST_F(StructureDumperTest, HiddenSubObjectsHandlerOverrunsAndCaptures) {
  subResult = 3;
  EXPECT_EQ(Interpret(kHiddenHolder, kHolderBytes), Lines({"00 Before: 1", "08 After: 2"}));
  EXPECT_EQ(subCalls, 1);  // only the open one; the fixed one is skipped by its count
  EXPECT_EQ(consumed, 9u);
  subResult = 100;  // more than remains: cut, not reported as missing
  EXPECT_EQ(Interpret(kHolder, kHolderBytes).find("Missing"), std::string::npos);
  EXPECT_EQ(consumed, 9u);
  uint32_t brand = 0;  // a hidden field still delivers its value
  const FieldDesc fields[] = {{FieldType::FourCC, 0, 5, "Brand", nullptr, &brand}};
  EXPECT_EQ(Interpret(StructDesc("Brand", nullptr, 0, 0, fields), {'q', 't', ' ', ' '}), "");
  EXPECT_EQ(brand, FourCC("qt  "));
}

TEST_F(StructureDumperTest, RandomPayloadsNeverOverrunOrHang) {
  std::mt19937 random(12345);
  for (const StructDesc* desc :
       {&kNumbers, &kSwapped, &kTimes, &kNamed, &kTexts, &kByteRuns, &kRecords, &kTable, &kNest,
        &kOpen, &kStreams, &kHolder, &kHiddenHolder, &kSmall, &kOdd, &kStopped, &kHuge, &kEmptyNest,
        &kWidthless}) {
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

struct StructureDumperFileTest : StructureDumperTest {
  testsupport::ScratchDir dir;  // one per test: the tests run in parallel processes
  uint64_t position = 0;
  std::string Dump(const Bytes& bytes, uint32_t span) {
    static const StructDesc kOddChunk("Odd Chunk", "'odd '", 1, 0, kOddFields);
    DumpParser parser(Options(), output, wordAligned, bigEndian);
    out.str("");
    EXPECT_TRUE(parser.OpenForReading(dir.Write("chunk.bin", bytes)));
    EXPECT_TRUE(parser.Seek(8));
    consumed = StructureDumper::DumpStructure(parser, 1, 8, span, span, kOddChunk,
                                              StructureDumper::kNoItemLimit);
    position = parser.CurrentPosition();
    output.Flush();
    return out.str();
  }
};

// Word-aligned odd chunk, a span below the header, a span beyond the file.
TEST_F(StructureDumperFileTest, SpansOfAChunkInAFile) {
  wordAligned = true;
  verbosity = 3;
  EXPECT_EQ(Dump({'o', 'd', 'd', ' ', 9, 0, 0, 0, 42, 0, 'n', 'e', 'x', 't'}, 9),
            Lines({"  Odd Chunk (S:10, P:0) 'odd '", "    00 Value: 42"}));
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(position, 10u);
  wordAligned = false;
  verbosity = 2;
  EXPECT_EQ(Dump({'o', 'd', 'd', ' ', 4, 0, 0, 0, 42, 0}, 4),
            Lines({"  Odd Chunk (4) 'odd '", "    *** Error: Unknown Token Size<!"}));
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(position, 8u);
  const std::string text = Dump({'o', 'd', 'd', ' ', 0xff, 0xff, 0xff, 0xff, 42, 0}, 0xffffffff);
  EXPECT_EQ(consumed, 0u);
  EXPECT_NE(text.find("*** Fatal: File ends prematurely!"), std::string::npos);
  EXPECT_EQ(text.find("Odd Chunk"), std::string::npos);
}

TEST(StructureDescriptionTest, FaultyTablesAreNamed) {
  const ValueName plain[] = {{1, "One", kEnumValue}};
  const ValueNameTable names(kEnumeration, plain);
  const FieldDesc early[] = {{FieldType::AString, -1, 0, "Text"}};
  const FieldDesc toText[] = {{FieldType::FourCC, 0, 0, "Id"}, {FieldType::Bytes, -1, 0, "B"}};
  const FieldDesc strayEnd[] = {{FieldType::Byte, 0, 0, "B"}, {FieldType::ArrayEnd, 0, 0, nullptr}};
  const FieldDesc badFormat[] = {{FieldType::FourCC, 5, 0, "B"}};
  const FieldDesc countedDate[] = {{FieldType::Word, 0, 0, "N"}, {FieldType::FileTime, -1, 0, "T"}};
  const FieldDesc guidNames[] = {{FieldType::Guid, 0, 0, "G", &names}};
  const FieldDesc textNames[] = {{FieldType::AString, 4, 0, "T", &names}};
  const auto desc = [](const auto& fields) { return StructDesc("T", nullptr, 0, 0, fields); };
  const struct {
    StructDesc desc;
    const char* why;
  } rows[] = {
      {desc(early), "T field 0: reference before the first field"},
      {desc(toText), "T field 1: reference to a field that records no number"},
      {desc(strayEnd), "T field 1: array end without an open array"},
      {desc(badFormat), "T field 0: numeric format other than 0 or hexadecimal"},
      {desc(countedDate), "T field 1: negative count on a field that takes no count"},
      {desc(guidNames), "T field 0: GUID value name without a GUID"},
      {desc(textNames), "T field 0: value names on a field that cannot be decoded"},
  };
  for (const auto& row : rows) {
    std::string why;
    EXPECT_FALSE(StructureDumper::CheckDescription(row.desc, why));
    EXPECT_EQ(why, row.why);
  }
}

}  // namespace
