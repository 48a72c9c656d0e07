#include "riff/AviParseContext.h"

#include <algorithm>
#include <iterator>

const AviMoviExtent* AviFindings::MoviListAt(uint64_t position) const {
  // The lists were scanned in file order.
  const auto after = std::upper_bound(
      moviExtents.begin(), moviExtents.end(), position,
      [](uint64_t at, const AviMoviExtent& extent) { return at <= extent.typePos; });
  if (after == moviExtents.begin()) return nullptr;
  const AviMoviExtent& extent = *std::prev(after);
  return position <= extent.end ? &extent : nullptr;
}
