#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "run/name_filter.h"

namespace qor::cli {

enum class Command { Move, Undo, Help, Version };

// How a move picks its files: a whole date, or a number of days before today.
enum class When { On, Before, After, OlderThan, NewerThan };

enum class Verbosity { Quiet, Normal, Verbose };

struct Options {
  Command command = Command::Help;
  std::vector<std::string> operands;
  std::optional<When> when;
  std::string when_value;  // the DATE or DAYS as given (90, 90d, 13w)
  bool recursive = false;
  bool date_folder = false;
  bool remove_empty = false;
  bool dry_run = false;
  bool json = false;
  bool verify = false;
  std::size_t jobs = 0;  // --jobs; 0: chosen by the file systems
  std::optional<std::string> log;
  NameFilter filter;                                // --include, --exclude, --exclude-dir
  std::optional<std::uint64_t> min_size, max_size;  // --min-size, --max-size, in bytes
  int max_depth = -1;                               // --max-depth; -1: none
  Verbosity verbosity = Verbosity::Normal;
};

// The arguments after the program's name. On a usage error `error` tells
// what is wrong, in one line.
struct ParsedArguments {
  Options options;
  std::string error;
};
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

// The option that stands for `when`: "--on", "--older-than", ...
const char* WhenName(When when);

// What --help prints.
const char* HelpText();

}  // namespace qor::cli
