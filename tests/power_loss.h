// SPDX-License-Identifier: Apache-2.0
// What a power cut may leave on disk, worked out from a recorded run
// (LogChanges). A disk keeps only what was synced: a file's writes and
// truncations since its last sync may each be lost, cut short (at a 512-byte
// sector, or halfway) or put down, in any order; a file's creation or
// removal may be undone until its folder is synced. A file's own sync makes
// its bytes durable, not its name.

#ifndef TESTS_POWER_LOSS_H_
#define TESTS_POWER_LOSS_H_

#include <map>
#include <optional>
#include <random>

#include "safe_write_util.h"

namespace testutil {

// Files by path: their bytes, or nullopt for one that is not there.
using Disk = std::map<std::string, std::optional<std::string>>;

// Whether a sync makes anything durable; a disk may ignore some.
using SyncCounts = std::function<bool(const Change&)>;

// The disk a power cut leaves after the first `k` changes of `log`, run on
// `before`. `way` 0 loses all that is not durable, 1 keeps it all; else
// `rng` chooses, for each file's name and for its bytes: lose all, keep all,
// or choose change by change. `*how` tells what was kept, by the changes'
// numbers in `log`: "+n" kept, "-n" lost, "n/b" its first b bytes only.
inline Disk AfterPowerCut(const Disk& before, const std::vector<Change>& log, size_t k,
                          const SyncCounts& counts, int way, std::mt19937& rng, std::string* how) {
  struct Inode {
    std::string bytes;                 // before the run
    std::vector<size_t> changes = {};  // since then, by number in `log`
    size_t durable = 0;                // how many of those are durable
  };
  std::vector<Inode> inodes;
  // Per name: the inode it names durably (-1: none), then the one it names
  // after each creation or removal since its folder's last sync.
  std::map<std::string, std::vector<int>> names;
  for (const auto& [path, bytes] : before) {
    names[path] = {bytes ? int(inodes.size()) : -1};
    if (bytes) inodes.push_back({*bytes});
  }
  for (size_t i = 0; i < k; ++i) {
    const Change& c = log[i];
    if (c.op == jet::IoOp::kSyncFolder) {
      for (auto& [path, states] : names) {
        if (counts(c) && jet::FolderOf(path) == c.path) states = {states.back()};
      }
      continue;
    }
    std::vector<int>& name = names.try_emplace(c.path, std::vector<int>{-1}).first->second;
    const int now = name.back();
    if (c.op == jet::IoOp::kCreate && now < 0) {
      name.push_back(int(inodes.size()));
      inodes.emplace_back();
    } else if (now >= 0 && c.op == jet::IoOp::kRemove) {
      name.push_back(-1);
    } else if (now >= 0 && c.op == jet::IoOp::kSync) {
      if (counts(c)) inodes[now].durable = inodes[now].changes.size();
    } else if (now >= 0) {
      inodes[now].changes.push_back(i);  // a write, a truncation, or a creation that empties it
    }
  }
  // 0 lose all, 1 keep all, 2 (as often as the others together) choose each.
  auto mode = [&] { return way < 2 ? way : std::min(int(rng() % 4), 2); };
  Disk disk;
  for (const auto& [path, states] : names) {
    const size_t steps = states.size() - 1, m = size_t(mode());
    const int at = states[m == 2 ? rng() % (steps + 1) : m * steps];
    *how += path.substr(path.find_last_of("/\\") + 1) + (at < 0 ? ": none; " : ":");
    if (at < 0) continue;
    const Inode& f = inodes[size_t(at)];
    std::string bytes = f.bytes;
    // The durable changes in turn, then the others, shuffled when chosen each.
    std::vector<size_t> order = f.changes;
    const int each = mode();
    if (each == 2) std::shuffle(order.begin() + long(f.durable), order.end(), rng);
    for (size_t j = 0; j < order.size(); ++j) {
      const Change& c = log[order[j]];
      const int fate = j < f.durable ? 3 : each == 2 ? int(rng() % 4) : each * 3;
      size_t n = c.data.size();  // 0 lost, 1 torn, 2 and 3 kept
      if (fate == 1 && n > 1) n = n > 512 ? 512 * (1 + rng() % ((n - 1) / 512)) : n / 2;
      if (fate != 0 && c.op == jet::IoOp::kWrite) {
        bytes.resize(std::max<size_t>(bytes.size(), c.offset + n));
        std::copy_n(c.data.begin(), n, bytes.begin() + long(c.offset));
      } else if (fate != 0) {
        bytes.resize(c.op == jet::IoOp::kTruncate ? c.offset : 0);
      }
      if (j < f.durable) continue;
      const std::string number = std::to_string(order[j] + 1);
      *how += fate == 0           ? " -" + number
              : n < c.data.size() ? " " + number + "/" + std::to_string(n)
                                  : " +" + number;
    }
    disk[path] = std::move(bytes);
    *how += "; ";
  }
  return disk;
}

}  // namespace testutil

#endif  // TESTS_POWER_LOSS_H_
