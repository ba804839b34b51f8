// SPDX-License-Identifier: Apache-2.0
// ScratchFile: where the checker's index entries go as sorted runs
// (EntryRuns, index/entry_runs.h) once they pass the memory allowed; the
// entries of every index of a table share it.
//
// It lies beside the database (NAME.mdb-check; -check2 and on when another
// check has that name open) and loses its name as soon as it is open (on
// Windows, once closed), so a check that stops leaves nothing behind.
// Where it cannot be made (a read-only folder, say) or must not be (an
// encoded database, whose keys are never written out in plain form),
// entries stay in memory.

#ifndef JET_CHECK_SCRATCH_FILE_H_
#define JET_CHECK_SCRATCH_FILE_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "base/status.h"
#include "jet/index/entry_runs.h"
#include "jet/os/file.h"

namespace jet {

class ScratchFile {
 public:
  // `database` is the database's path; `allowed` false keeps everything in
  // memory.
  ScratchFile(std::string database, bool allowed)
      : database_(std::move(database)), allowed_(allowed) {}
  ~ScratchFile() { Drop(); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Opens the file on first use; false if there is none to write to.
  bool Ready() {
    if (file_ || !allowed_) return file_ != nullptr;
    for (int n = 1; n <= 9 && !file_; ++n) {
      const std::string path = database_ + "-check" + (n == 1 ? "" : std::to_string(n));
      auto created = File::CreateNew(path);
      if (!created.ok()) continue;
      file_ = std::move(*created);
      path_ = path;
      (void)RemoveFile(path_);
    }
    allowed_ = file_ != nullptr;
    return allowed_;
  }

  // Writes the entries `entries` holds in memory out as a sorted run, if
  // there is a file to write to; otherwise they stay.
  Status Spill(EntryRuns& entries) {
    if (entries.in_memory() == 0 || !Ready()) return Status::Ok();
    return entries.WriteRun(*file_, &end_);
  }
  // The file the runs are in; null while there is none.
  const File* file() const { return file_.get(); }
  // Lets the next run be written from the start again: the runs written so
  // far are no longer read.
  void Reuse() { end_ = 0; }

 private:
  void Drop() {
    if (!file_) return;
    file_.reset();
    (void)RemoveFile(path_);
  }

  std::string database_;
  bool allowed_;
  std::unique_ptr<File> file_;
  std::string path_;
  uint64_t end_ = 0;
};

}  // namespace jet

#endif  // JET_CHECK_SCRATCH_FILE_H_
