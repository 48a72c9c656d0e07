// The statistics and consistency report printed after the last segment.

#include "riff/CAVIParser.h"

void CAVIParser::RunStatistics(int /*depth*/) {}
