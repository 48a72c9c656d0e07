#include "core/AsyncWriter.h"

#include <cerrno>

#include "core/PlatformFile.h"

AsyncWriter::AsyncWriter(const PlatformFile& file) : file_(file) {
  worker_ = std::thread([this] { Run(); });
}

AsyncWriter::~AsyncWriter() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
    quit_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void AsyncWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return busy_ || quit_; });
    if (!busy_) return;  // quit with nothing queued
    // While busy_ is set the owner does not touch pending_ or pendingOffset_,
    // so they are read without the lock during the write.
    const uint8_t* data = pending_.data();
    const size_t size = pending_.size();
    const uint64_t offset = pendingOffset_;
    lock.unlock();
    int error = 0;
    bool ok = file_.WriteAt(offset, data, size, error);
    if (!ok && error == 0) error = EIO;
    lock.lock();
    completionError_ = ok ? 0 : error;
    busy_ = false;
    done_.notify_all();
  }
}

void AsyncWriter::CollectLocked() {
  if (collected_) return;
  collected_ = true;
  if (completionError_ != 0 && stickyError_ == 0) stickyError_ = completionError_;
  completionError_ = 0;
  pending_.clear();  // keeps the capacity
  if (pending_.capacity() > spare_.capacity()) spare_.swap(pending_);
  pending_ = std::vector<uint8_t>();
}

bool AsyncWriter::Start(std::vector<uint8_t>&& block, uint64_t offset, int& error) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
    CollectLocked();
    if (stickyError_ != 0) {
      error = stickyError_;
      return false;
    }
    pending_ = std::move(block);
    pendingOffset_ = offset;
    busy_ = true;
    collected_ = false;
  }
  wake_.notify_one();
  return true;
}

bool AsyncWriter::Wait(int& error) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return !busy_; });
  CollectLocked();
  if (stickyError_ != 0) {
    error = stickyError_;
    return false;
  }
  return true;
}

std::vector<uint8_t> AsyncWriter::TakeSpareBuffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!busy_) CollectLocked();
  std::vector<uint8_t> spare = std::move(spare_);
  spare_ = std::vector<uint8_t>();
  spare.clear();
  return spare;
}
