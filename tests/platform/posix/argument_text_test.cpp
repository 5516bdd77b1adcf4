#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace qor::platform {
namespace {

TEST(ArgumentTextTest, JoinsArgumentsAfterTheProgramNameWithOneBlank) {
  const struct {
    std::vector<std::string> argv;
    const char* text;
  } cases[] = {
      {{"qor"}, ""},
      {{"qor", "/D1"}, "/D1"},
      {{"qor", "/D1", "/M2", "auto"}, "/D1 /M2 auto"},
      {{"qor", "a", "", "b"}, "a  b"},
      {{"qor", "two words"}, "two words"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char*> argv;
    std::vector<std::string> storage = c.argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(ArgumentText(static_cast<int>(storage.size()), argv.data()), c.text);
  }
}

}  // namespace
}  // namespace qor::platform
