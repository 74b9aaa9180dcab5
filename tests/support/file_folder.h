// A folder of the files a suite writes, in its working directory, beside the manifest.txt in
// which the suite lists what a check script judges after it (with readers the suite cannot
// run, under Wine among them).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

class FileFolder {
 public:
  explicit FileFolder(std::string name) : name_(std::move(name)) {}
  // Emptied, made where it is missing: a suite starts without a run before's files.
  void Empty() const;
  // `leaf` in the folder, as the suite itself opens it.
  std::string Local(const std::string& leaf) const;
  // `leaf` in the folder as the host names a file (kvtest::HostName), relative to the working
  // directory in the build's form.
  std::vector<uint8_t> HostPath(const std::string& leaf) const;
  // One line more in the folder's manifest.txt.
  void Manifest(const std::string& line) const;

 private:
  std::string name_;
};

}  // namespace kvtest
