#include "tests/support/file_folder.h"

#include <filesystem>
#include <fstream>

#include "tests/support/test_pages.h"
#include "traits/build_traits.h"

namespace kvtest {

void FileFolder::Empty() const {
  std::filesystem::remove_all(name_);
  std::filesystem::create_directories(name_);
}

std::string FileFolder::Local(const std::string& leaf) const { return name_ + "/" + leaf; }

std::vector<uint8_t> FileFolder::HostPath(const std::string& leaf) const {
  return HostName(kWindowsBuild ? name_ + "\\" + leaf : ":" + name_ + ":" + leaf);
}

void FileFolder::Manifest(const std::string& line) const {
  std::ofstream(Local("manifest.txt"), std::ios::app) << line << "\n";
}

}  // namespace kvtest
