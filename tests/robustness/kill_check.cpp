#include "kill_check.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/posix/cross_device_move.h"
#include "run/log_format.h"

namespace qor::testing {

namespace {

bool IsTemporaryName(const std::string& relative) {
  const std::size_t slash = relative.rfind('/');
  const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  return name.rfind(platform::kTemporaryPrefix, 0) == 0 ||
         name.rfind(platform::kTakenPrefix, 0) == 0 || name.rfind(".qor-journal-", 0) == 0;
}

}  // namespace

void KillCheck::Check(const std::string& from_root, const std::string& to_root,
                      const std::string& log) {
  const TreeFacts a = RecordTree(root_a_);
  const TreeFacts b = RecordTree(root_b_);
  where_a_.clear();
  where_b_.clear();

  for (const auto& [relative, original] : originals_) {
    ++files_checked_;
    const auto in_a = a.find(relative);
    const auto in_b = b.find(relative);
    if (in_a == a.end() && in_b == b.end()) {
      ADD_FAILURE() << "lost: " << relative;
      continue;
    }
    if (in_a != a.end()) {
      where_a_.insert(relative);
      EXPECT_TRUE(in_a->second.SameContentAndTime(original.facts))
          << "changed: " << root_a_ << relative;
    }
    if (in_b != b.end()) {
      where_b_.insert(relative);
      EXPECT_TRUE(in_b->second.SameContentAndTime(original.facts))
          << "changed: " << root_b_ << relative;
      EXPECT_TRUE(original.taken) << "moved though not taken: " << relative;
    }
    if (in_a != a.end() && in_b != b.end()) duplicates_.insert(relative);
  }

  std::set<std::string> temporaries_now;
  for (const auto* tree : {&a, &b}) {
    const std::string& root = tree == &a ? root_a_ : root_b_;
    for (const auto& [relative, facts] : *tree) {
      if (originals_.count(relative) != 0) continue;
      EXPECT_TRUE(IsTemporaryName(relative)) << "unexpected extra: " << root << relative;
      temporaries_now.insert(root + relative);
    }
  }
  // A later run writing into its folder may clear a temporary away, but no
  // run ever moves one.
  for (const std::string& known : temporaries_) {
    if (temporaries_now.count(known) != 0) continue;
    const bool in_a = known.compare(0, root_a_.size(), root_a_) == 0;
    const std::string relative = known.substr((in_a ? root_a_ : root_b_).size());
    EXPECT_EQ(temporaries_now.count((in_a ? root_b_ : root_a_) + relative), 0u)
        << "a run took a temporary: " << known;
  }
  temporaries_.insert(temporaries_now.begin(), temporaries_now.end());

  CheckLog(from_root, to_root, log, from_root == root_a_ ? a : b, to_root == root_a_ ? a : b);
}

void KillCheck::CheckLog(const std::string& from_root, const std::string& to_root,
                         const std::string& log, const TreeFacts& from, const TreeFacts& to) {
  const std::string moved = std::string(kMovedTo) + to_root;
  for (const std::string& line : SplitLog(log).lines) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "line break inside: " << line;
    if (line.size() > moved.size() &&
        line.compare(line.size() - moved.size(), moved.size(), moved) == 0) {
      const std::string relative = line.substr(0, line.size() - moved.size());
      EXPECT_EQ(to.count(relative), 1u) << "logged as moved but not at " << to_root << relative;
      continue;
    }
    // A move the other way that a killed run began and this one finished;
    // the run may then have taken the file on (and been killed meanwhile).
    const std::string moved_back = std::string(kMovedTo) + from_root;
    if (line.size() > moved_back.size() &&
        line.compare(line.size() - moved_back.size(), moved_back.size(), moved_back) == 0) {
      const std::string relative = line.substr(0, line.size() - moved_back.size());
      EXPECT_GE(from.count(relative) + to.count(relative), 1u)
          << "logged as finished but at neither place: " << from_root << relative;
      continue;
    }
    const std::size_t failed = line.find(kNotMoved);
    ASSERT_NE(failed, std::string::npos) << "entry with neither outcome: " << line;
    const std::string relative = line.substr(0, failed);
    EXPECT_EQ(from.count(relative), 1u)
        << "logged as not moved but gone from " << from_root << relative;
  }
}

KillCheck::LogFigures KillCheck::ReplayLogs(const std::vector<std::string>& logs) const {
  LogFigures figures;
  std::map<std::string, const std::string*> place;  // every file starts below root_a
  for (const auto& [relative, original] : originals_) place[relative] = &root_a_;
  for (const std::string& log : logs) {
    for (const std::string& line : SplitLog(log).lines) {
      for (const std::string* root : {&root_a_, &root_b_}) {
        const std::string moved = std::string(kMovedTo) + *root;
        if (!line.ends_with(moved) || line.size() == moved.size()) continue;
        const auto it = place.find(line.substr(0, line.size() - moved.size()));
        if (it == place.end()) continue;
        if (it->second == root) {
          ++figures.logged_twice;
          ADD_FAILURE() << "logged again: " << line;
        } else {
          ++figures.logged_once;
          it->second = root;
        }
      }
    }
  }
  const TreeFacts a = RecordTree(root_a_);
  for (const auto& [relative, root] : place) {
    if ((a.count(relative) != 0) != (root == &root_a_)) {
      ++figures.missing;
      ADD_FAILURE() << "no log tells where it went: " << relative;
    }
  }
  return figures;
}

int KillCheck::TakenBelow(const std::string& root) const {
  const std::set<std::string>& where = root == root_a_ ? where_a_ : where_b_;
  int taken = 0;
  for (const std::string& relative : where) taken += originals_.at(relative).taken ? 1 : 0;
  return taken;
}

}  // namespace qor::testing
