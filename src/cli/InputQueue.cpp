#include "cli/InputQueue.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "General/PathJoin.h"

namespace zel::cli {

std::set<std::string> OutputOwners::Files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

std::string OutputOwners::OwnerOf(const std::string& file) const {
  std::lock_guard lock(mutex_);
  const auto found = owner_.find(file);
  return found == owner_.end() ? std::string() : found->second;
}

void OutputOwners::Add(const std::vector<std::string>& files, const std::string& input) {
  std::lock_guard lock(mutex_);
  for (const std::string& file : files) {
    files_.insert(file);
    owner_.emplace(file, input);
  }
}

bool MayShareOutputs(const std::string& input, const std::string& other, bool splitting) {
  const std::string a = PathWithoutExtension(PathFileName(input));
  const std::string b = PathWithoutExtension(PathFileName(other));
  if (!splitting || a.size() == b.size()) return a == b;
  const std::string& shorter = a.size() < b.size() ? a : b;
  const std::string& longer = a.size() < b.size() ? b : a;
  return longer.compare(0, shorter.size(), shorter) == 0 &&
         std::all_of(longer.begin() + static_cast<std::ptrdiff_t>(shorter.size()), longer.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

void ConvertInputs(const std::vector<std::string>& inputs, int jobs, bool splitting,
                   const std::atomic<bool>& stop,
                   const std::function<void(std::size_t index)>& convert) {
  if (inputs.empty()) return;
  enum class Stage { Waiting, Running, Ended };
  std::vector<Stage> stages(inputs.size(), Stage::Waiting);
  std::mutex mutex;
  std::condition_variable ended;
  // The first waiting input that no earlier unfinished one holds back; the
  // size of inputs when there is none (yet).
  const auto next = [&] {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (stages[i] != Stage::Waiting) continue;
      bool free = true;
      for (std::size_t j = 0; j < i && free; ++j)
        free = stages[j] == Stage::Ended || !MayShareOutputs(inputs[i], inputs[j], splitting);
      if (free) return i;
    }
    return inputs.size();
  };
  const auto work = [&] {
    std::unique_lock lock(mutex);
    while (!stop && std::find(stages.begin(), stages.end(), Stage::Waiting) != stages.end()) {
      const std::size_t index = next();
      if (index == inputs.size()) {
        ended.wait(lock);
        continue;
      }
      stages[index] = Stage::Running;
      lock.unlock();
      convert(index);
      lock.lock();
      stages[index] = Stage::Ended;
      ended.notify_all();
    }
  };
  std::vector<std::thread> threads;
  const std::size_t extra = std::min<std::size_t>(std::max(jobs, 1), inputs.size()) - 1;
  try {
    for (std::size_t i = 0; i < extra; ++i) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // no more threads to be had: the ones there are convert every input
  }
  work();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace zel::cli
