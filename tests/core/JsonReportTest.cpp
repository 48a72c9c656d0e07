// The JSON report of a file: text from files made valid JSON, and the tree
// built from the depths of the report's lines.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "core/JsonReport.h"
#include "core/Report.h"

namespace {

TEST(JsonReportTest, TextFromFilesBecomesValidJson) {
  const struct {
    std::string text;
    std::string json;
  } rows[] = {
      {"plain", "\"plain\""},
      {"a \"quote\" and a \\", "\"a \\\"quote\\\" and a \\\\\""},
      {std::string("nul\0tab\tline\n", 13), "\"nul\\u0000tab\\u0009line\\n\""},
      {"caf\xC3\xA9 \xE2\x82\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC\""},  // UTF-8 passes
      {"caf\xE9", "\"caf\xC3\xA9\""},                                // Latin-1 byte
      {"\xC3", "\"\xC3\x83\""},                                      // cut sequence
      {"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""},              // a surrogate
      {"\xC0\xAF", "\"\xC3\x80\xC2\xAF\""},                          // overlong
  };
  for (const auto& row : rows) EXPECT_EQ(JsonReport::Text(row.text), row.json) << row.text;
}

// Lines become nodes under the last line indented less; a message names the
// nodes it stands under; the AVI chunk table and the verdict go behind the
// tree; suppressed lines leave nothing.
TEST(JsonReportTest, LinesNestByTheirDepth) {
  std::ostringstream out, err;
  ReportOutput output(out, err, ConsoleState());
  output.SetJsonMode(true);
  const Report report(output);
  output.Json()->BeginFile("clip.avi");
  const int list = report.ItemLine("'LIST'", "'hdrl'", "", 12, 4, 1, 2);
  report.Message("Unknown flag!", report.FieldLine("04 Flags", "0x10", " (Has Index)", list),
                 kWarning);
  report.Message("Wrong size!", report.ItemLine("'avih'", "", "", 56, 24, list, 2), kError);
  output.SetSuppressed(true);
  report.PlainLine("hidden", 1);
  output.SetSuppressed(false);
  report.ChunkCounts({0, "'00dc'", 5, 1, 5, 5, 0}, 1);
  report.Verdict("Fine.", 1);
  output.Json()->EndFile({"AVI", 100, false});
  output.Flush();
  EXPECT_EQ(out.str(),
            "{\"path\":\"clip.avi\",\"report\":["
            "{\"kind\":\"chunk\",\"id\":\"'LIST'\",\"type\":\"'hdrl'\",\"size\":12,\"position\":4,"
            "\"children\":["
            "{\"kind\":\"field\",\"offset\":4,\"label\":\"Flags\",\"value\":\"0x10\","
            "\"note\":\" (Has Index)\",\"children\":["
            "{\"kind\":\"message\",\"level\":\"Warning\",\"text\":\"Unknown flag!\","
            "\"path\":[\"'LIST'\",\"Flags\"]}]},"
            "{\"kind\":\"chunk\",\"id\":\"'avih'\",\"size\":56,\"position\":24,\"children\":["
            "{\"kind\":\"message\",\"level\":\"Error\",\"text\":\"Wrong size!\","
            "\"path\":[\"'LIST'\",\"'avih'\"]}]}]},"
            "{\"kind\":\"counts\",\"id\":\"'00dc'\",\"movi\":5,\"dropped\":1,\"idx1\":5,\"key\":5,"
            "\"odml\":0}],"
            "\"parser\":\"AVI\",\"verdict\":\"Fine.\",\"size\":100,\"failed\":false,"
            "\"messages\":{\"Info\":0,\"Warning\":1,\"Error\":1,\"Fatal\":0},"
            "\"statistics\":[{\"stream\":0,\"id\":\"'00dc'\",\"movi\":5,\"dropped\":1,\"idx1\":5,"
            "\"key\":5,\"odml\":0}]}");
}

}  // namespace
