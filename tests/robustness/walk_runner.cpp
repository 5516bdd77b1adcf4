// A real move run without a window, for the tests that kill it midway:
//   qor_walk_runner SOURCE/ TARGET/ LOG MODE YEAR MONTH DAY [JOBS [named]]
// walks SOURCE recursively (JOBS copies across file systems at once, each under a temporary name
// with "named"), moves what the date selection
// takes to TARGET, removes emptied folders and writes the run log to LOG. Prints the counters and
// exits 0 when the walk finished.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/posix/cross_device_move.h"
#include "platform/process.h"
#include "run/find_file.h"
#include "run/path_text.h"
#include "run/run_log.h"
#include "run/search_params.h"

namespace {

class SilentObserver : public qor::WalkObserver {
 public:
  void SetCounterLabel(int, const std::string&) override {}
  bool Yield() override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8 || argc > 10) {
    std::fprintf(stderr, "usage: %s SOURCE/ TARGET/ LOG MODE YEAR MONTH DAY [JOBS [named]]\n",
                 argv[0]);
    return 2;
  }
  qor::platform::RaiseOpenFileLimit();
  qor::SearchParams params;
  params.SourcePath = qor::AddBackslash(argv[1]);
  params.TargetPath = qor::AddBackslash(argv[2]);
  params.CompareMode = static_cast<std::int16_t>(std::atoi(argv[4]));
  params.Year = std::atoi(argv[5]);
  params.Month = std::atoi(argv[6]);
  params.Day = std::atoi(argv[7]);
  params.Recurse = true;
  params.DeleteEmpty = true;
  if (argc >= 9) params.Jobs = static_cast<std::size_t>(std::atoi(argv[8]));
  if (argc == 10) qor::platform::AllowUnnamedCopies(std::string(argv[9]) != "named");

  qor::RunLog log;
  if (const qor::platform::Outcome created = log.Create(argv[3]); !created.ok()) {
    std::fprintf(stderr, "cannot create %s: %s\n", argv[3],
                 qor::platform::ErrorText(created.error).c_str());
    return 1;
  }
  SilentObserver observer;
  const qor::WalkEnd end = qor::FindFile(params.SourcePath, params, log, observer);
  const qor::platform::Outcome closed = log.Close();
  std::printf("searched %d taken %d failed %d\n", params.SearchedCount, params.MovedCount,
              params.FailedCount);
  return end == qor::WalkEnd::Finished && closed.ok() && !log.IsBroken() ? 0 : 1;
}
