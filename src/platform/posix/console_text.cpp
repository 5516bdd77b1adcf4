#include <cstdio>

#include "platform/console.h"

namespace qor::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void WriteText(StandardStream stream, std::string_view text) {
  std::FILE* file = stream == StandardStream::Output ? stdout : stderr;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

}  // namespace qor::platform
