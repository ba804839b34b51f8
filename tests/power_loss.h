// SPDX-License-Identifier: Apache-2.0
// What a power cut may leave on disk, worked out from a recorded run of an
// operation (LogChanges). A disk with a write cache keeps only what was
// synced: a file's writes and truncations since its last sync may each be
// lost, cut short (at a 512-byte sector, or halfway) or put down, in any
// order; the creation or removal of a file may be undone until its folder
// is synced. A file's own sync makes its bytes durable, not its name.

#ifndef TESTS_POWER_LOSS_H_
#define TESTS_POWER_LOSS_H_

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <random>

#include "safe_write_util.h"

namespace testutil {

// The files by path: their bytes, or nullopt for one that is not there.
using Disk = std::map<std::string, std::optional<std::string>>;

// Whether a sync (of a file or a folder) makes anything durable. A model
// that ignores a sync the engine relies on must find outcomes that break.
using SyncCounts = std::function<bool(const Change&)>;

// The disk a power cut leaves after the first `k` changes of `log`, which
// started from `before`. `way` 0 loses everything not durable, 1 keeps it
// all; otherwise each file's name and bytes lose all, keep all or choose
// change by change, as `rng` says. `*how` tells what was kept, by the
// changes' numbers in `log` (1-based): "+n" kept, "-n" lost, "n/b" its first
// b bytes only.
inline Disk AfterPowerCut(const Disk& before, const std::vector<Change>& log, size_t k,
                          const SyncCounts& counts, int way, std::mt19937& rng, std::string* how) {
  struct Inode {
    std::string bytes;                 // as it was before the run
    std::vector<size_t> changes = {};  // what was done to it since, in order
    size_t durable = 0;                // how many of those are durable
  };
  std::vector<Inode> inodes;
  // Per name, the inode it durably names (-1: none), then the one it names
  // after each creation or removal since its folder was last synced.
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
    } else if (now < 0) {
      continue;
    } else if (c.op == jet::IoOp::kRemove) {
      name.push_back(-1);
    } else if (c.op == jet::IoOp::kSync) {
      if (counts(c)) inodes[now].durable = inodes[now].changes.size();
    } else {
      inodes[now].changes.push_back(i);  // a write, a truncation, or a creation that empties it
    }
  }

  // What becomes of each file's name, and of its bytes: 0 all lost, 1 all kept,
  // 2 chosen change by change (as often as the other two together).
  auto mode = [&] { return way < 2 ? way : std::min(int(rng() % 4), 2); };
  Disk disk;
  for (const auto& [path, states] : names) {
    const int m = mode();
    const size_t steps = states.size() - 1;
    const size_t named = m == 2 ? rng() % (steps + 1) : m * steps;
    *how += path.substr(path.find_last_of("/\\") + 1) + ": name " + std::to_string(named) + "/" +
            std::to_string(steps);
    if (states[named] < 0) {
      disk[path] = std::nullopt;
      *how += " (none); ";
      continue;
    }
    const Inode& f = inodes[size_t(states[named])];
    std::string bytes = f.bytes;
    auto apply = [&](const Change& c, size_t n) {
      if (c.op != jet::IoOp::kWrite)
        return bytes.resize(c.op == jet::IoOp::kTruncate ? c.offset : 0);
      if (bytes.size() < c.offset + n) bytes.resize(c.offset + n);
      std::copy_n(c.data.begin(), n, bytes.begin() + long(c.offset));
    };
    for (size_t i = 0; i < f.durable; ++i) apply(log[f.changes[i]], log[f.changes[i]].data.size());
    std::vector<size_t> pending(f.changes.begin() + long(f.durable), f.changes.end());
    const int each = mode();
    if (each == 2) std::shuffle(pending.begin(), pending.end(), rng);
    for (size_t i : pending) {
      const Change& c = log[i];
      const int fate = each == 2 ? int(rng() % 4) : each * 3;  // 0 lost, 1 torn, else kept
      size_t n = c.data.size();
      if (fate == 1 && n > 1) n = n > 512 ? 512 * (1 + rng() % ((n - 1) / 512)) : n / 2;
      if (fate != 0) apply(c, n);
      *how += " " + (fate == 0           ? "-" + std::to_string(i + 1)
                     : n < c.data.size() ? std::to_string(i + 1) + "/" + std::to_string(n)
                                         : "+" + std::to_string(i + 1));
    }
    disk[path] = std::move(bytes);
    *how += "; ";
  }
  return disk;
}

}  // namespace testutil

#endif  // TESTS_POWER_LOSS_H_
