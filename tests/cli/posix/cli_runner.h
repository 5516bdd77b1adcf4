#pragma once

// Starts the real qor-cli binary as a script or a scheduler would, and
// waits for it; for the tests that need POSIX (signals, descriptors).

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "robustness/tree_facts.h"
#include "support/temp_tree.h"

extern char** environ;

namespace qor::testing {

// Starts qor-cli with `arguments` in the folder `cwd`, stdout and stderr
// going to the descriptors given. Returns the child's id.
inline pid_t StartCli(const std::vector<std::string>& arguments, const std::string& cwd, int out_fd,
                      int err_fd) {
  std::vector<std::string> all = {QOR_CLI};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  if (posix_spawn(&pid, QOR_CLI, &actions, nullptr, argv.data(), environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline int ExitStatus(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) std::abort();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Both trees hold the same names with the same bytes and last-write times.
inline bool SameTree(const TreeFacts& a, const TreeFacts& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.first == y.first && x.second.SameContentAndTime(y.second);
  });
}

}  // namespace qor::testing
