#include "sync/files/background_sha256.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quorvane {

struct BackgroundSha256::Job {
  Sha256 hash;
  std::promise<std::optional<Sha256::Digest>> digest;
  std::atomic<bool> abandoned = false;
};

namespace {

struct Item {
  std::shared_ptr<BackgroundSha256::Job> job;
  std::byte* block = nullptr;  // none: the job's end
  std::size_t size = 0;
};

// One thread hashes every copy's blocks in the order they were added.
class HashingThread {
 public:
  // 16 MiB: far more than the hash falls behind a copy from a local disk.
  static constexpr std::size_t kMostWaiting = 64;

  static HashingThread& Instance() {
    static HashingThread instance;
    return instance;
  }

  ~HashingThread() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    work_.notify_one();
    thread_.join();
  }

  std::byte* Take() {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return waiting_ < kMostWaiting; });
    if (free_.empty()) {
      blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(BackgroundSha256::kBlockSize));
      free_.reserve(blocks_.size());  // so that giving a block back never allocates
      return blocks_.back().get();
    }
    std::byte* block = free_.back();
    free_.pop_back();
    return block;
  }

  void GiveBack(std::byte* block) {
    {
      const std::lock_guard lock(mutex_);
      free_.push_back(block);
    }
    room_.notify_all();
  }

  void Post(Item item) {
    {
      const std::lock_guard lock(mutex_);
      const bool block = item.block != nullptr;
      queue_.push_back(std::move(item));
      if (block) ++waiting_;
    }
    work_.notify_one();
  }

 private:
  HashingThread() : thread_([this] { Run(); }) {}

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      Item item = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      Job& job = *item.job;
      if (item.block == nullptr) {
        job.digest.set_value(job.abandoned ? std::nullopt : job.hash.Finish());
      } else if (!job.abandoned) {
        job.hash.Add(std::span(item.block, item.size));
      }
      item.job.reset();
      lock.lock();
      if (item.block != nullptr) {
        free_.push_back(item.block);
        --waiting_;
        room_.notify_all();
      }
    }
  }

  using Job = BackgroundSha256::Job;
  std::mutex mutex_;
  std::condition_variable work_, room_;
  std::deque<Item> queue_;
  std::vector<std::unique_ptr<std::byte[]>> blocks_;  // every block made, free or not
  std::vector<std::byte*> free_;
  std::size_t waiting_ = 0;  // blocks posted and not yet hashed
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once the rest is ready
};

}  // namespace

// The job's hash comes first: the crypto library's exit handlers must run
// after the thread's own, which end it.
BackgroundSha256::BackgroundSha256() : job_(std::make_shared<Job>()) { HashingThread::Instance(); }

BackgroundSha256::~BackgroundSha256() {
  if (block_ != nullptr) HashingThread::Instance().GiveBack(block_);
  if (job_) job_->abandoned = true;
}

std::span<std::byte> BackgroundSha256::Block() {
  if (block_ == nullptr) block_ = HashingThread::Instance().Take();
  return {block_, kBlockSize};
}

void BackgroundSha256::Add(std::size_t filled) {
  if (block_ == nullptr) return;
  HashingThread::Instance().Post({job_, std::exchange(block_, nullptr), std::min(filled, kBlockSize)});
}

PendingSha256 BackgroundSha256::Finish() {
  if (block_ != nullptr) HashingThread::Instance().GiveBack(std::exchange(block_, nullptr));
  PendingSha256 pending(job_->digest.get_future().share());
  HashingThread::Instance().Post({std::exchange(job_, nullptr)});
  return pending;
}

}  // namespace quorvane
