#pragma once
// Writes blocks to a file on a worker thread with at most one write in flight:
// Start() hands a block over and returns at once; the next Start() or Wait()
// collects the completion first. A failed or short write leaves a sticky error
// that every later Start() and Wait() reports.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class PlatformFile;

class AsyncWriter {
 public:
  explicit AsyncWriter(const PlatformFile& file);
  ~AsyncWriter();  // waits for the write in flight
  AsyncWriter(const AsyncWriter&) = delete;
  AsyncWriter& operator=(const AsyncWriter&) = delete;

  // Collects the previous write, then starts writing `block` at `offset`.
  // Returns false (error code in `error`) if the previous write failed.
  bool Start(std::vector<uint8_t>&& block, uint64_t offset, int& error);
  // Collects the write in flight; false with the error code when it, or any
  // earlier write, failed.
  bool Wait(int& error);
  // The sticky error, 0 when every write so far succeeded.
  int StickyError() const { return stickyError_; }
  // Returns a finished block's storage for reuse (empty if none), so that a
  // long run of writes cycles between two buffers instead of allocating.
  std::vector<uint8_t> TakeSpareBuffer();

 private:
  void Run();
  // With the lock held and no write busy: turns the finished write into the
  // sticky error (if it failed) and its storage into the spare buffer.
  void CollectLocked();

  const PlatformFile& file_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> spare_;
  uint64_t pendingOffset_ = 0;
  bool busy_ = false;       // a block is queued or being written
  bool collected_ = true;   // the last finished block has been collected
  bool quit_ = false;
  int completionError_ = 0;
  int stickyError_ = 0;
  std::thread worker_;
};
