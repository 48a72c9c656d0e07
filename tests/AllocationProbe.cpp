#include "AllocationProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The largest request since the last probe started (relaxed: a high-water mark).
std::atomic<size_t>& Largest() {
  static std::atomic<size_t> largest{0};
  return largest;
}

void Note(size_t size) {
  std::atomic<size_t>& largest = Largest();
  size_t seen = largest.load(std::memory_order_relaxed);
  while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
}

void* AllocateOrNull(size_t size) noexcept {
  Note(size);
  return std::malloc(size == 0 ? 1 : size);
}

void* Allocate(size_t size) {
  if (void* block = AllocateOrNull(size)) return block;
  throw std::bad_alloc();
}

}  // namespace

// Every plain form of new and delete is replaced, so that none of them mixes
// this allocator with another (the sanitizers check that they match).
void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace testsupport {

AllocationProbe::AllocationProbe() { Largest().store(0, std::memory_order_relaxed); }

size_t AllocationProbe::LargestRequest() const { return Largest().load(std::memory_order_relaxed); }

}  // namespace testsupport
