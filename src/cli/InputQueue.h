// The inputs of one zel-convert run, converted up to N at a time (-j N),
// and the files they wrote.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zel::cli {

// The files that the inputs of a run whose conversion ended wrote, and
// whose each one is; inputs converted at once share it.
class OutputOwners {
 public:
  std::set<std::string> Files() const;
  // The input that wrote file; empty when none did.
  std::string OwnerOf(const std::string& file) const;
  void Add(const std::vector<std::string>& files, const std::string& input);

 private:
  mutable std::mutex mutex_;
  std::set<std::string> files_;
  std::map<std::string, std::string> owner_;
};

// Whether two inputs may write a file of the same name into the output
// folder (or a temporary WMV of the same name), so that the later one must
// wait for the earlier one to end: their names without the extension are
// equal, or, when splitting adds the segment's number, one is the other
// followed by digits ("a" writes a100.3gp as its 101st segment, "a1" as
// its first).
bool MayShareOutputs(const std::string& input, const std::string& other, bool splitting);

// Runs convert(index) for every input, up to jobs at a time (one: all on
// the calling thread), each started in the order of the inputs as soon as
// no earlier input it may share outputs with is still waiting or running.
// No input starts once stop is set; returns when every started one has
// ended.
void ConvertInputs(const std::vector<std::string>& inputs, int jobs, bool splitting,
                   const std::atomic<bool>& stop,
                   const std::function<void(std::size_t index)>& convert);

}  // namespace zel::cli
