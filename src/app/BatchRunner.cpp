#include "app/BatchRunner.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/MonotonicClock.h"
#include "core/SpoolFile.h"

namespace {

// Jobs that may finish ahead of the report being printed: each holds its
// spool open until its turn.
constexpr size_t kLookAhead = 64;

double Seconds(uint64_t start, uint64_t end) {
  const double frequency = static_cast<double>(MonotonicClock::Frequency());
  return frequency > 0 ? static_cast<double>(end - start) / frequency : 0.0;
}

// Standard error of a job run beside others: it has nothing to say there
// (its progress ticks are for a console alone).
class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

}  // namespace

BatchRunner::Totals BatchRunner::Run(const std::vector<Job>& jobs,
                                     const std::function<void()>& between) {
  const uint32_t workers =
      static_cast<uint32_t>(std::min<size_t>(options_.batch.jobs, jobs.size()));
  return workers > 1 ? RunAtOnce(jobs, workers) : RunInOrder(jobs, between);
}

BatchRunner::Totals BatchRunner::RunInOrder(const std::vector<Job>& jobs,
                                            const std::function<void()>& between) {
  Totals totals;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (i > 0 && between) between();
    Separate(i);
    const uint64_t start = MonotonicClock::Now();
    Add(totals, RunJob(jobs[i], options_, output_));
    totals.seconds += Seconds(start, MonotonicClock::Now());
  }
  return totals;
}

BatchRunner::Totals BatchRunner::RunAtOnce(const std::vector<Job>& jobs, uint32_t workers) {
  struct Slot {
    std::unique_ptr<SpoolFile> spool;
    JobOutcome outcome;
    bool done = false;
  };
  std::vector<Slot> slots(jobs.size());
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0;
  size_t printed = 0;
  auto work = [&] {
    DiscardBuffer discard;
    std::ostream quiet(&discard);
    for (;;) {
      size_t index = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return next >= jobs.size() || next < printed + kLookAhead; });
        if (next >= jobs.size()) return;
        index = next++;
      }
      auto spool = std::make_unique<SpoolFile>();
      JobOutcome outcome;
      {
        ReportOutput output(spool->Stream(), quiet, ConsoleState{});
        output.SetJsonMode(output_.JsonMode());
        outcome = RunJob(jobs[index], options_, output);
        output.Flush();
        // A report that could not be kept is a job that did not do its work.
        if (output.WriteError() != 0) outcome.failed = true;
      }
      std::lock_guard<std::mutex> lock(mutex);
      slots[index] = {std::move(spool), outcome, true};
      changed.notify_all();
    }
  };
  const uint64_t start = MonotonicClock::Now();
  std::vector<std::thread> threads;
  for (uint32_t i = 0; i < workers; ++i) {
    // A system out of threads runs the batch on those it gave, or in order.
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  if (threads.empty()) return RunInOrder(jobs, nullptr);
  Totals totals;
  for (size_t i = 0; i < jobs.size(); ++i) {
    std::unique_ptr<SpoolFile> spool;
    JobOutcome outcome;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return slots[i].done; });
      spool = std::move(slots[i].spool);
      outcome = slots[i].outcome;
    }
    Separate(i);
    if (!spool->CopyTo([&](std::string_view text) { output_.Document(text); })) {
      outcome.failed = true;
    }
    Add(totals, outcome);
    spool.reset();
    std::lock_guard<std::mutex> lock(mutex);
    printed = i + 1;
    changed.notify_all();
  }
  for (std::thread& thread : threads) thread.join();
  totals.seconds = Seconds(start, MonotonicClock::Now());
  return totals;
}

JobOutcome BatchRunner::RunJob(const Job& job, const RunOptions& options, ReportOutput& output) {
  JsonReport* json = output.Json();
  if (json) json->BeginFile(job.source);
  const JobOutcome outcome = FormatProbe::RunFile(job.source, job.output, options, output);
  if (json) json->EndFile({outcome.parser, outcome.size, outcome.failed});
  return outcome;
}

void BatchRunner::Separate(size_t index) {
  if (index > 0 && output_.JsonMode()) output_.Document(",");
}

void BatchRunner::Add(Totals& totals, const JobOutcome& outcome) {
  ++totals.files;
  totals.size += outcome.size;
  totals.anyFailed = totals.anyFailed || outcome.failed;
}
