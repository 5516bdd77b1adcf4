#pragma once

#include <map>
#include <random>
#include <string>

#include "run/search_params.h"
#include "tree_facts.h"

namespace qor::testing {

// The date selection of the runs over a random tree: "<" 20 September 2030,
// which takes somewhat under half of the files the tree holds.
inline constexpr std::int16_t kTreeCompareMode = kCompareBefore;
inline constexpr int kTreeYear = 2030;
inline constexpr int kTreeMonth = 9;
inline constexpr int kTreeDay = 20;

struct OriginalFile {
  FileFacts facts;
  bool taken = false;  // by the selection above
};
using OriginalTree = std::map<std::string, OriginalFile>;

// Fills the empty folder `root` with `files` files in nested folders: mostly
// small, some of tens of kilobytes and a few of several hundred, with random
// bytes and random last-write times down to the nanosecond.
OriginalTree BuildRandomTree(const std::string& root, int files, std::mt19937_64& random);

}  // namespace qor::testing
