#include "cli/options.h"

#include <string_view>

#include "run/log_escapes.h"

namespace qor::cli {

namespace {

struct WhenOption {
  const char* name;
  When when;
};
constexpr WhenOption kWhenOptions[] = {
    {"--on", When::On},
    {"--before", When::Before},
    {"--after", When::After},
    {"--older-than", When::OlderThan},
    {"--newer-than", When::NewerThan},
};

struct FilterOption {
  const char* name;
  NameFilter::Rule rule;
};
constexpr FilterOption kFilterOptions[] = {
    {"--include", NameFilter::Rule::Include},
    {"--exclude", NameFilter::Rule::Exclude},
    {"--exclude-dir", NameFilter::Rule::ExcludeFolder},
};

// Asks for the help the way Windows programs are asked.
bool IsWindowsHelp(std::string_view argument) {
#ifdef _WIN32
  return argument == "/?" || argument == "-?";
#else
  (void)argument;
  return false;
#endif
}

// The options that only a move knows.
bool MoveOnly(std::string_view name) {
  for (const WhenOption& option : kWhenOptions) {
    if (name == option.name) return true;
  }
  for (const FilterOption& option : kFilterOptions) {
    if (name == option.name) return true;
  }
  return name == "--recursive" || name == "--date-folder" || name == "--remove-empty" ||
         name == "--verify" || name == "--jobs" || name == "--min-size" || name == "--max-size" ||
         name == "--max-depth";
}

// A size as given: a whole number of bytes, or of KiB, MiB, GiB or TiB with
// k, M, G or T after it (1k = 1024 bytes); nothing when it is none.
std::optional<std::uint64_t> ReadSize(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 15 || text.size() > digits + 1) return std::nullopt;
  int shift = 0;
  if (text.size() > digits) {
    const std::string_view units = "kMGT";
    const std::size_t unit = units.find(text[digits] == 'K' ? 'k' : text[digits]);
    if (unit == std::string_view::npos) return std::nullopt;
    shift = 10 * static_cast<int>(unit + 1);
  }
  const std::uint64_t number = std::stoull(text.substr(0, digits));
  if (number > (UINT64_MAX >> shift)) return std::nullopt;
  return number << shift;
}

// The copies under way at once that --jobs may ask for.
constexpr std::size_t kMostJobs = 64;

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  ParsedArguments Parse() {
    if (arguments_.empty()) return Fail("no command given (move or undo)");
    const std::string& first = arguments_[0];
    if (first == "--help" || first == "-h" || IsWindowsHelp(first)) return Done(Command::Help);
    if (first == "--version") return Done(Command::Version);
    if (first == "move") {
      result_.options.command = Command::Move;
    } else if (first == "undo") {
      result_.options.command = Command::Undo;
    } else {
      return Fail("unknown command '" + first + "' (move or undo)");
    }

    bool options_ended = false;
    for (next_ = 1; next_ < arguments_.size() && result_.error.empty();) {
      const std::string& argument = arguments_[next_++];
      if (!options_ended && IsWindowsHelp(argument)) {
        result_.options.command = Command::Help;
      } else if (options_ended || argument == "-" || argument.empty() || argument[0] != '-') {
        result_.options.operands.push_back(argument);
      } else if (argument == "--") {
        options_ended = true;
      } else if (argument.starts_with("--")) {
        LongOption(argument);
      } else {
        for (std::size_t i = 1; i < argument.size() && result_.error.empty(); ++i) {
          ShortOption(argument[i]);
        }
      }
    }
    if (!result_.error.empty()) return result_;
    return Finish();
  }

 private:
  ParsedArguments Done(Command command) {
    result_.options.command = command;
    return result_;
  }
  ParsedArguments Fail(const std::string& error) {
    result_.error = error;
    return result_;
  }

  void LongOption(const std::string& argument) {
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    std::optional<std::string> value;
    if (equals != std::string::npos) value = argument.substr(equals + 1);
    Options& options = result_.options;

    if (options.command == Command::Undo && MoveOnly(name)) {
      result_.error = name + " belongs to move, not to undo";
      return;
    }
    const auto take_value = [&]() -> std::optional<std::string> {
      if (value) return value;
      if (next_ < arguments_.size()) return arguments_[next_++];
      result_.error = name + " needs a value";
      return std::nullopt;
    };
    for (const WhenOption& option : kWhenOptions) {
      if (name != option.name) continue;
      if (options.when) {
        result_.error = "give only one of --on, --before, --after, --older-than, --newer-than";
        return;
      }
      if (const auto text = take_value()) {
        options.when = option.when;
        options.when_value = *text;
      }
      return;
    }
    for (const FilterOption& option : kFilterOptions) {
      if (name != option.name) continue;
      if (const auto text = take_value()) {
        const std::string why = options.filter.Add(option.rule, *text);
        if (!why.empty()) result_.error = name + ": the pattern '" + LogText(*text) + "' " + why;
      }
      return;
    }
    if (name == "--log") {
      if (const auto text = take_value()) options.log = *text;
      return;
    }
    if (name == "--min-size" || name == "--max-size") {
      if (const auto text = take_value()) {
        const std::optional<std::uint64_t> size = ReadSize(*text);
        if (!size) {
          result_.error = name + ": '" + LogText(*text) +
                          "' is not a size (bytes, or a whole number with k, M, G or T: 500k)";
        } else {
          (name == "--min-size" ? options.min_size : options.max_size) = size;
        }
      }
      return;
    }
    if (name == "--max-depth") {
      if (const auto text = take_value()) {
        const bool digits = !text->empty() && text->size() <= 4 &&
                            text->find_first_not_of("0123456789") == std::string::npos;
        if (!digits) {
          result_.error = name + ": '" + LogText(*text) + "' is not a whole number of folders";
        } else {
          options.max_depth = std::stoi(*text);
          options.recursive = true;
        }
      }
      return;
    }
    if (name == "--jobs") {
      if (const auto text = take_value()) {
        std::size_t jobs = 0;
        const bool digits = !text->empty() && text->size() <= 3 &&
                            text->find_first_not_of("0123456789") == std::string::npos;
        if (digits) jobs = std::stoul(*text);
        if (jobs < 1 || jobs > kMostJobs) {
          result_.error = "--jobs takes a whole number from 1 to " + std::to_string(kMostJobs);
        } else {
          options.jobs = jobs;
        }
      }
      return;
    }
    if (value) {
      result_.error = name + " takes no value";
      return;
    }
    if (name == "--recursive") {
      options.recursive = true;
    } else if (name == "--date-folder") {
      options.date_folder = true;
    } else if (name == "--remove-empty") {
      options.remove_empty = true;
    } else if (name == "--verify") {
      options.verify = true;
    } else if (name == "--dry-run") {
      options.dry_run = true;
    } else if (name == "--quiet") {
      SetVerbosity(Verbosity::Quiet);
    } else if (name == "--verbose") {
      SetVerbosity(Verbosity::Verbose);
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "--help") {
      options.command = Command::Help;
    } else {
      result_.error = "unknown option '" + name + "'";
    }
  }

  void ShortOption(char letter) {
    switch (letter) {
      case 'r':
        if (result_.options.command == Command::Undo) {
          result_.error = "-r belongs to move, not to undo";
        } else {
          result_.options.recursive = true;
        }
        break;
      case 'n':
        result_.options.dry_run = true;
        break;
      case 'q':
        SetVerbosity(Verbosity::Quiet);
        break;
      case 'v':
        SetVerbosity(Verbosity::Verbose);
        break;
      case 'h':
        result_.options.command = Command::Help;
        break;
      default:
        result_.error = std::string("unknown option '-") + letter + "'";
    }
  }

  void SetVerbosity(Verbosity verbosity) {
    if (result_.options.verbosity != Verbosity::Normal && result_.options.verbosity != verbosity) {
      result_.error = "--quiet and --verbose exclude each other";
    }
    result_.options.verbosity = verbosity;
  }

  ParsedArguments Finish() {
    const Options& options = result_.options;
    if (options.command == Command::Help) return result_;
    const bool move = options.command == Command::Move;
    if (options.operands.size() > 2) {
      return Fail("unexpected argument '" + LogText(options.operands[2]) + "'");
    }
    if (options.operands.empty())
      return Fail(move ? "missing SOURCE and TARGET" : "missing LOG and SOURCE");
    if (options.operands.size() == 1) return Fail(move ? "missing TARGET" : "missing SOURCE");
    if (options.command == Command::Move && !options.when) {
      return Fail("say which files: --on, --before, --after, --older-than or --newer-than");
    }
    if (options.min_size && options.max_size && *options.min_size > *options.max_size) {
      return Fail("--min-size is larger than --max-size: no file could be taken");
    }
    return result_;
  }

  const std::vector<std::string>& arguments_;
  std::size_t next_ = 0;
  ParsedArguments result_;
};

}  // namespace

const char* WhenName(When when) {
  for (const WhenOption& option : kWhenOptions) {
    if (option.when == when) return option.name;
  }
  return "";
}

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) {
  return Parser(arguments).Parse();
}

const char* HelpText() {
  return R"(Usage: qor-cli move SOURCE TARGET WHEN [OPTIONS]
       qor-cli undo LOG SOURCE [-n|--dry-run] [--log FILE] [-q|-v] [--json]
       qor-cli --help | --version

Moves the files of SOURCE into TARGET at the same relative place, chosen by
the date (in UTC) on which each was last written. Never replaces a file.

WHEN, exactly one of:
      --on DATE           last written on that day (DATE is YYYY-MM-DD)
      --before DATE       last written on an earlier day
      --after DATE        last written on a later day
      --older-than DAYS   last written more than DAYS days before today
      --newer-than DAYS   last written fewer than DAYS days before today
                          (DAYS: 90, 90d or 13w for weeks)
  --before and --after compare whole calendar dates: --before 2021-06-15
  takes a file of 2020-12-20 (the window's "<" does not, as it compares
  year, month and day each on its own).

Options of move:
  -r, --recursive      also the subfolders
      --date-folder    put the moved files below TARGET/<yyyymmdd of the date>/
      --remove-empty   remove the folders the run emptied (never SOURCE)
      --include PATTERN      take only files that match one (repeatable)
      --exclude PATTERN      take no file that matches one (repeatable)
      --exclude-dir PATTERN  enter no folder that matches one (repeatable)
                       A PATTERN without / matches the name, one with / the
                       path below SOURCE; * and ? within a name, [a-z] [!a-z]
                       sets, ** any number of folders (**/cache/*.tmp);
                       letter case counts except on Windows
      --min-size SIZE  take only files of at least SIZE bytes; SIZE may end
      --max-size SIZE  take only files of at most SIZE bytes;  with k, M, G or
                       T (1k = 1024 bytes): --max-size 500M
      --max-depth N    go at most N folders deep below SOURCE (0: SOURCE's own
                       files); implies -r
  -n, --dry-run        change nothing: list what would move and where to, and
                       what would fail
      --verify         read each copy made across file systems back and compare
                       it with its source before the source goes
      --jobs N         copies across file systems under way at once (1 to 64;
                       default: 8 where either side is a network or FUSE file
                       system, else 1, one after the other)

Options of both:
      --log FILE       the log (default: FileFind<yyyymmdd>.txt here; undo:
                       <LOG's name>-undo.txt). A log that holds entries is
                       never replaced: the next free name beside it is taken
                       (-2, -3, ...). FILE must be new, empty or a run log,
                       and outside SOURCE.
  -q, --quiet          no progress and no summary; files that could not be
                       moved are still named on stderr
  -v, --verbose        print each file
      --json           print the summary as one JSON object on stdout
                       (file lines then go to stderr)

undo LOG SOURCE moves every file that LOG records as moved back to SOURCE,
making folders as needed and replacing nothing. Its own log has the same
format, so an undo can be undone.

Exit status: 0 all taken files moved; 1 some could not be moved, or some
folders could not be read; 2 usage error or refused start, nothing moved;
130 interrupted (the walk stops before the next file; a second interrupt
ends the program at once).
)";
}

}  // namespace qor::cli
