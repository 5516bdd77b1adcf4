#include "cli/cli_run.h"

#include <fcntl.h>
#include <unistd.h>

#include "cli_runner.h"
#include "support/temp_tree.h"

namespace qor::testing {

CliResult RunCli(const std::vector<std::string>& arguments, const std::string& cwd) {
  TempFolder outputs;
  const std::string out_path = outputs.path() + "/out", err_path = outputs.path() + "/err";
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  CliResult result;
  result.status = ExitStatus(StartCli(arguments, cwd, out, err));
  ::close(out);
  ::close(err);
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

}  // namespace qor::testing
