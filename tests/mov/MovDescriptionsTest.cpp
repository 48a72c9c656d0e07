// The QuickTime atom descriptions: well formed, and read big-endian to the end.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TestSupport.h"
#include "core/StructureDumper.h"
#include "mov/MovDescriptions.h"

namespace {

class BigEndianParser : public testsupport::MemoryParser {
 public:
  BigEndianParser(RunOptions options, ReportOutput& output)
      : MemoryParser(std::move(options), output) {
    bigEndian_ = true;
  }
};

TEST(MovDescriptionsTest, EveryDescriptionPassesTheDumpersCheck) {
  const StructDesc* const kAll[] = {&mov::kMovieHeader0,
                                    &mov::kMovieHeader1,
                                    &mov::kTrackHeader0,
                                    &mov::kTrackHeader1,
                                    &mov::kMediaHeader0,
                                    &mov::kMediaHeader1,
                                    &mov::kEdit,
                                    &mov::kVideoMediaHeader,
                                    &mov::kSoundMediaHeader,
                                    &mov::kDataInformation,
                                    &mov::kHandlerQuickTime,
                                    &mov::kHandlerMp4,
                                    &mov::kSampleDescription,
                                    &mov::kWindowLocation,
                                    &mov::kLoop,
                                    &mov::kSelectionOnly,
                                    &mov::kAllFrames};
  for (const StructDesc* desc : kAll) {
    std::string why;
    EXPECT_TRUE(StructureDumper::CheckDescription(*desc, why)) << why;
  }
}

// A creation time beyond 32 bits and a rate of 1.5 show that the 64-bit and
// 16.16 fields are read big-endian at their offsets; 112 bytes are consumed.
TEST(MovDescriptionsTest, VersionOneMovieHeaderReadsBigEndian) {
  testsupport::BodyBuilder body;
  body.U8(1).Zeros(3);                                   // version 1, flags
  body.U8(0).U8(0).U8(0).U8(1).Zeros(4);                 // created 2^32 s after 1904
  body.Zeros(8).U8(0).U8(0).U8(0x02).U8(0x58).Zeros(8);  // modified, timescale 600, duration
  body.U8(0).U8(1).U8(0x80).U8(0).U8(1).U8(0);           // rate 1.5, volume 1.0
  body.Zeros(10 + 36 + 7 * 4);                           // reserved, matrix, times, next id
  std::ostringstream out, err;
  ReportOutput output(out, err, ConsoleState());
  RunOptions options;
  options.report.verbosity = 3;
  BigEndianParser parser(options, output);
  const auto size = static_cast<uint32_t>(body.data.size());
  ASSERT_EQ(112u, size);
  EXPECT_EQ(size,
            StructureDumper::InterpretStructure(parser, 0, size, body.data.data(), size, size,
                                                mov::kMovieHeader1, StructureDumper::kNoItemLimit));
  output.Flush();
  const auto lines = testsupport::SplitLines(out.str());
  testsupport::ExpectInOrder(lines, {"CreationTime: 4294967296", "Timescale: 600",
                                     "PreferredRate: 1.5", "PreferredVolume: 1"});
  testsupport::ExpectTexts(lines, {}, {"Missing Data", "Additional Data"});
}

}  // namespace
