// The hand-over of a parsed AVI file to the writer of a repaired copy.

#include "aviwriter/AviWriter.h"
#include "riff/CAVIParser.h"

bool CAVIParser::WriteOutput(int depth) {
  AviWriter::SourceFacts facts;
  facts.indexOutOfOrder = indexOutOfOrder_;
  facts.dvAnalysis = dvAnalysisDone_ ? &dvAnalysis_ : nullptr;
  AviWriter writer(*this, model_, progressCounter_, facts);
  return writer.Write(outputPath_, depth);
}
