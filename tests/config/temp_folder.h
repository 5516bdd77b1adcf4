#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_tree.h"

namespace qor::testing {

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(FsPath(path), std::ios::binary) << content;
}

}  // namespace qor::testing
