// Times the folder walk and a preview taking every file against find(1) over
// the same tree, and a run that moves about a tenth of the files.
//
//   qor_bench [--files N] [--parent DIR] [--flat N] [--cross DIR]
//
// Builds N files (default 100,000) in 1,000 folders three levels deep below a
// temporary folder in DIR (default $TMPDIR or /tmp), dated over ten years.
// Each timing runs in a child process, so each peak memory figure is that
// run's own. --flat N also walks one folder holding N files, to show that
// memory does not grow with the size of a folder.
//
// Then it moves every file of the tree on one file system, against the
// rename floor: a bare loop of renameat2 into the same folders, made first.
// --cross DIR (a folder on another file system, say /dev/shm) adds moves
// across file systems both ways, for 5,000 files of 16 KiB and for 20 files
// of 64 MiB: qor against the durable floor (copy every file, one syncfs of
// the target, remove the sources) and against plain cp -r + rm -r, qor with
// its copies verified (read back from the target's disk) against qor, and
// qor making one copy at a time (--jobs 1) against its default.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "run/find_file.h"
#include "run/run_log.h"

namespace {

class QuietWindow : public qor::WalkObserver {
 public:
  void SetCounterLabel(int, const std::string&) override {}
  bool Yield() override { return true; }
};

std::int64_t UtcSeconds(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  return static_cast<std::int64_t>(::timegm(&tm));
}

void MakeFile(const std::string& path, std::int64_t seconds, off_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, size) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                    {static_cast<time_t>(seconds), 0}};
  ::futimens(fd, times);
  ::close(fd);
}

// Builds the three-level tree; returns the number of files.
long MakeTree(const std::string& root, long files) {
  std::mt19937_64 random(7);
  const std::int64_t first = UtcSeconds(2014, 1, 1);
  const std::int64_t last = UtcSeconds(2023, 12, 31);
  std::uniform_int_distribution<std::int64_t> date(first, last);
  std::uniform_int_distribution<off_t> size(0, 64 * 1024);
  const long per_folder = files / 1000;
  long made = 0;
  for (int a = 0; a < 10; ++a) {
    for (int b = 0; b < 10; ++b) {
      for (int c = 0; c < 10; ++c) {
        const std::string folder = root + "/d" + std::to_string(a) + "/d" + std::to_string(b) +
                                   "/d" + std::to_string(c) + "/";
        std::filesystem::create_directories(folder);
        for (long i = 0; i < per_folder; ++i, ++made) {
          MakeFile(folder + "file" + std::to_string(i) + ".dat", date(random), size(random));
        }
      }
    }
  }
  return made;
}

struct Timing {
  double seconds = 0;
  long peak_kib = 0;
  long moved = 0;
  long searched = 0;
};

// Runs `work` in a child process and reports its time and peak memory. The
// child passes two counters back through a pipe.
Timing InChild(const std::function<std::pair<long, long>()>& work) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) std::exit(1);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    const std::pair<long, long> counts = work();
    if (::write(pipe_fds[1], &counts, sizeof counts) != sizeof counts) ::_exit(2);
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::pair<long, long> counts{0, 0};
  if (::read(pipe_fds[0], &counts, sizeof counts) != sizeof counts) counts = {-1, -1};
  ::close(pipe_fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  Timing t;
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.peak_kib = usage.ru_maxrss;
  t.searched = counts.first;
  t.moved = counts.second;
  return t;
}

// How a walk that moves goes about it.
struct HowMoved {
  bool verify = false;
  std::size_t jobs = 0;  // copies side by side; 0: chosen by the file systems
  bool dry = false;      // a preview: nothing moves
};

Timing Walk(const std::string& source, const std::string& target, std::int16_t mode, int year,
            int month, int day, const std::string& log_path, HowMoved how = {}) {
  return InChild([=] {
    qor::SearchParams params;
    params.VerifyCopies = how.verify;
    params.Jobs = how.jobs;
    params.DryRun = how.dry;
    params.SourcePath = source;
    params.TargetPath = target;
    params.Recurse = true;
    params.CompareMode = mode;
    params.Year = year;
    params.Month = month;
    params.Day = day;
    qor::RunLog log;
    if (!log.Create(log_path).ok()) std::exit(1);
    QuietWindow window;
    qor::FindFile(params.SourcePath, params, log, window);
    log.Close();
    return std::pair<long, long>(params.SearchedCount, params.MovedCount);
  });
}

double TimeFind(const std::string& source) {
  const std::string command = "find '" + source + "' -printf '%T@ %s\\n' > /dev/null";
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) std::exit(1);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every file below `root`, as paths relative to it.
std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.push_back(entry.path().string().substr(root.size()));
  }
  return files;
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A walk that takes every file ("<" a date no file reaches in any part).
double MoveAll(const std::string& source, const std::string& target, const std::string& log,
               HowMoved how = {}) {
  return Walk(source, target, qor::kCompareBefore, 9999, 13, 32, log, how).seconds;
}

// Makes the folder of `file` below `target`, unless it is `made`, the one
// made last (the files come folder by folder).
void MakeFolderOf(const std::string& target, const std::string& file, std::string& made) {
  const std::string folder = file.substr(0, file.rfind('/') + 1);
  if (folder == made) return;
  std::filesystem::create_directories(target + folder);
  made = folder;
}

// The rename floor: the target folders made, then one renameat2 per file.
double RenameFloor(const std::string& source, const std::string& target) {
  const std::vector<std::string> files = FilesBelow(source);
  return Seconds([&] {
    std::string made;
    for (const std::string& file : files) {
      MakeFolderOf(target, file, made);
      ::syscall(SYS_renameat2, AT_FDCWD, (source + file).c_str(), AT_FDCWD, (target + file).c_str(),
                1 /* RENAME_NOREPLACE */);
    }
  });
}

// The durable floor across file systems: every file copied, one syncfs of
// the target, then the sources removed.
double DurableFloor(const std::string& source, const std::string& target) {
  const std::vector<std::string> files = FilesBelow(source);
  std::vector<char> buffer(1 << 17);
  return Seconds([&] {
    std::string made;
    for (const std::string& file : files) {
      MakeFolderOf(target, file, made);
      const int in = ::open((source + file).c_str(), O_RDONLY | O_CLOEXEC);
      const int out =
          ::open((target + file).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      for (ssize_t n; (n = ::read(in, buffer.data(), buffer.size())) > 0;) {
        if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) std::exit(1);
      }
      ::close(in);
      ::close(out);
    }
    const int fd = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::syncfs(fd);
    ::close(fd);
    for (const std::string& file : files) ::unlink((source + file).c_str());
  });
}

double CopyAndRemove(const std::string& source, const std::string& target) {
  const std::string command = "cp -r '" + source + ".' '" + target + "' && rm -r '" + source + "'";
  return Seconds([&] {
    if (std::system(command.c_str()) != 0) std::exit(1);
  });
}

// Builds `count` files of `size` bytes (of real data) in 10 folders.
void MakeFlatTree(const std::string& root, int count, std::size_t size) {
  const std::string data(size, 'q');
  for (int i = 0; i < count; ++i) {
    const std::string folder = root + "d" + std::to_string(i % 10) + "/";
    std::filesystem::create_directories(folder);
    const int fd = ::open((folder + "f" + std::to_string(i)).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
      std::exit(1);
    }
    const struct timespec times[2] = {{UtcSeconds(2020, 1, 1), 0}, {UtcSeconds(2020, 1, 1), 0}};
    ::futimens(fd, times);
    ::close(fd);
  }
}

// qor, the durable floor and cp + rm moving the same tree from `from` to
// `to`, one after the other on a fresh copy each.
void CompareAcross(const std::string& label, const std::string& from_parent,
                   const std::string& to_parent, int count, std::size_t size,
                   const std::string& log) {
  double seconds[5];
  for (int contender = 0; contender < 5; ++contender) {
    const std::string source = from_parent + "/across-in/", target = to_parent + "/across-out/";
    std::filesystem::remove_all(source);
    std::filesystem::remove_all(target);
    MakeFlatTree(source, count, size);
    std::filesystem::create_directories(target);
    ::sync();
    seconds[contender] = contender == 0   ? MoveAll(source, target, log)
                         : contender == 1 ? DurableFloor(source, target)
                         : contender == 2 ? CopyAndRemove(source, target)
                         : contender == 3 ? MoveAll(source, target, log, {.verify = true})
                                          : MoveAll(source, target, log, {.jobs = 1});
    std::filesystem::remove_all(source);
    std::filesystem::remove_all(target);
  }
  const double mib = static_cast<double>(count) * static_cast<double>(size) / (1 << 20);
  std::printf(
      "%s: qor %.3f s, durable floor %.3f s, cp + rm %.3f s; qor/floor %.2f, "
      "throughput qor/cp %.2f (%.0f MiB/s against %.0f MiB/s); with --verify %.3f s "
      "(%.2f times without); one copy at a time (--jobs 1) %.3f s (%.2f times the default)\n",
      label.c_str(), seconds[0], seconds[1], seconds[2], seconds[0] / seconds[1],
      seconds[2] / seconds[0], mib / seconds[0], mib / seconds[2], seconds[3],
      seconds[3] / seconds[0], seconds[4], seconds[4] / seconds[0]);
}

}  // namespace

int main(int argc, char** argv) {
  long files = 100000;
  long flat = 0;
  std::string cross;
  const char* tmp = std::getenv("TMPDIR");
  std::string parent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--files") == 0) files = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--parent") == 0) parent = argv[i + 1];
    if (std::strcmp(argv[i], "--flat") == 0) flat = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--cross") == 0) cross = argv[i + 1];
  }
  std::string root = parent + "/qor-bench-XXXXXX";
  if (::mkdtemp(root.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string source = root + "/in";
  const std::string target = root + "/out/";
  const std::string log_path = root + "/FileFind.txt";

  std::printf("building %ld files in 1000 folders below %s ...\n", files, root.c_str());
  const long made = MakeTree(source, files);
  std::filesystem::create_directories(target);
  TimeFind(source);  // warm the caches for both contenders

  constexpr int kRounds = 5;
  double find_best = 1e9, walk_best = 1e9;
  Timing walk;
  for (int round = 0; round < kRounds; ++round) {
    find_best = std::min(find_best, TimeFind(source));
    const Timing t = Walk(source + "/", target, qor::kCompareEqual, 1990, 1, 1, log_path);
    if (t.seconds < walk_best) walk_best = t.seconds;
    walk = t;
  }
  std::printf("walk taking nothing: %ld entries in %.3f s = %.0f entries/s, peak memory %ld KiB\n",
              walk.searched, walk_best, walk.searched / walk_best, walk.peak_kib);
  std::printf("find -printf '%%T@ %%s\\n':  %.3f s\n", find_best);
  std::printf("ratio walk/find: %.3f (best of %d each)\n", walk_best / find_best, kRounds);

  // A preview that would take every file, each name looked up in the target.
  double preview_best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    preview_best = std::min(preview_best, Walk(source + "/", target, qor::kCompareBefore, 9999, 13,
                                               32, log_path, {.dry = true})
                                              .seconds);
  }
  std::printf("preview taking every file: %.3f s, ratio preview/find %.3f (best of %d each)\n",
              preview_best, preview_best / find_best, kRounds);

  // Reference 10 May 2024 in "<": every year, months 1-4 and days 1-9 are
  // taken, about a tenth of the files.
  const Timing move = Walk(source + "/", target, qor::kCompareBefore, 2024, 5, 10, log_path);
  std::printf(
      "move run: %ld of %ld files moved in %.3f s = %.0f files moved/s, peak memory %ld KiB\n",
      move.moved, made, move.seconds, move.moved / move.seconds, move.peak_kib);

  if (flat > 0) {
    const std::string flat_folder = root + "/flat/";
    std::filesystem::create_directories(flat_folder);
    for (long i = 0; i < flat; ++i) MakeFile(flat_folder + "f" + std::to_string(i), 0, 0);
    const Timing t = Walk(flat_folder, target, qor::kCompareEqual, 1990, 1, 1, log_path);
    std::printf("one folder of %ld files: %.3f s, peak memory %ld KiB\n", flat, t.seconds,
                t.peak_kib);
  }

  // Every file on one file system: qor against the rename floor, each on a
  // fresh tree of its own, by turns, best of three.
  {
    const std::string all_in = root + "/all-in/", all_out = root + "/all-out/";
    double qor_seconds = 1e9, floor_seconds = 1e9;
    for (int round = 0; round < 3; ++round) {
      for (int contender = 0; contender < 2; ++contender) {
        MakeTree(all_in, files);
        std::filesystem::create_directories(all_out);
        ::sync();
        if (contender == 0) {
          qor_seconds = std::min(qor_seconds, MoveAll(all_in, all_out, log_path));
        } else {
          floor_seconds = std::min(floor_seconds, RenameFloor(all_in, all_out));
        }
        std::filesystem::remove_all(all_in);
        std::filesystem::remove_all(all_out);
      }
    }
    std::printf(
        "move all, one file system: qor %.3f s, rename floor %.3f s, ratio %.2f (best of 3)\n",
        qor_seconds, floor_seconds, qor_seconds / floor_seconds);
  }

  if (!cross.empty()) {
    std::string other = cross + "/qor-bench-XXXXXX";
    if (::mkdtemp(other.data()) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    CompareAcross("5000 x 16 KiB, " + cross + " -> " + parent, other, root, 5000, 16 << 10,
                  log_path);
    CompareAcross("5000 x 16 KiB, " + parent + " -> " + cross, root, other, 5000, 16 << 10,
                  log_path);
    CompareAcross("20 x 64 MiB, " + cross + " -> " + parent, other, root, 20, 64 << 20, log_path);
    CompareAcross("20 x 64 MiB, " + parent + " -> " + cross, root, other, 20, 64 << 20, log_path);
    std::error_code ignored;
    std::filesystem::remove_all(other, ignored);
  }

  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return 0;
}
