#pragma once
// Room reserved ahead for a list whose length a file announces. The figure
// comes from the file and is only a hint: the caller bounds it by what the
// file can really hold, and a reservation the memory cannot give is simply
// skipped, since the list still grows as needed.

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

template <typename T>
void TryReserve(std::vector<T>& list, uint64_t count) {
  if (count <= list.capacity()) return;
  try {
    list.reserve(static_cast<size_t>(std::min<uint64_t>(count, list.max_size())));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
}
