// The ASF object descriptions: all of them well formed for the structure
// dumper, and a script command whose two lists have different counts.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TestSupport.h"
#include "asf/AsfDescriptions.h"
#include "core/StructureDumper.h"

namespace {

using testsupport::BodyBuilder;

TEST(AsfDescriptionsTest, EveryDescriptionPassesTheDumpersCheck) {
  const StructDesc* const kAll[] = {&asf::kHeader,
                                    &asf::kFileProperties,
                                    &asf::kContentDescription,
                                    &asf::kStreamProperties,
                                    &asf::kCodecList,
                                    &asf::kExtendedContentDescription,
                                    &asf::kStreamBitrateProperties,
                                    &asf::kContentEncryption,
                                    &asf::kExtendedContentEncryption,
                                    &asf::kDigitalSignature,
                                    &asf::kScriptCommand,
                                    &asf::kMarker,
                                    &asf::kBitrateMutualExclusion,
                                    &asf::kErrorCorrection,
                                    &asf::kContentBranding,
                                    &asf::kHeaderExtension,
                                    &asf::kVideoMedia,
                                    &asf::kAudioMedia,
                                    &asf::kSpreadErrorCorrection,
                                    &asf::kExtendedStreamProperties,
                                    &asf::kLanguageList,
                                    &asf::kMetadata,
                                    &asf::kMetadataLibrary,
                                    &asf::kStreamPrioritization,
                                    &asf::kIndexParameters,
                                    &asf::kAdvancedMutualExclusion,
                                    &asf::kGroupMutualExclusion,
                                    &asf::kBandwidthSharing,
                                    &asf::kMediaObjectIndexParameters,
                                    &asf::kTimecodeIndexParameters,
                                    &asf::kCompatibility,
                                    &asf::kAdvancedContentEncryption,
                                    &asf::kIndexParameterPlaceholder,
                                    &asf::kSimpleIndex,
                                    &asf::kIndex,
                                    &asf::kMediaObjectIndex,
                                    &asf::kTimecodeIndex};
  for (const StructDesc* desc : kAll) {
    std::string why;
    EXPECT_TRUE(StructureDumper::CheckDescription(*desc, why)) << why;
  }
}

// One command type and two commands: the commands go by CommandsCount, so
// both are read and nothing is left over.
TEST(AsfDescriptionsTest, ScriptCommandsFollowTheirOwnCount) {
  BodyBuilder body;
  body.Zeros(16).U16(2).U16(1);                    // id, 2 commands, 1 type
  body.U16(3).U16('U').U16('R').U16('L');          // type "URL"
  body.U32(1000).U16(0).U16(1).U16('a');           // command "a"
  body.U32(2000).U16(0).U16(2).U16('b').U16('c');  // command "bc"
  std::ostringstream out;
  std::ostringstream err;
  ReportOutput output(out, err, ConsoleState());
  RunOptions options;
  options.report.verbosity = 3;
  testsupport::MemoryParser parser(options, output);
  const auto size = static_cast<uint32_t>(body.data.size());
  EXPECT_EQ(size, StructureDumper::InterpretStructure(parser, 0, size, body.data.data(), size, size,
                                                      asf::kScriptCommand,
                                                      StructureDumper::kNoItemLimit));
  output.Flush();
  testsupport::ExpectTexts(testsupport::SplitLines(out.str()), {"Commands Item #2", "\"bc\""},
                           {"Missing Data", "Additional Data"});
}

}  // namespace
