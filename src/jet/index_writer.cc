#include "index_writer.h"

namespace jet {

namespace {

Status RefuseIndexes(const TableDef& table, const Pager& pager) {
  if (table.physical_indexes.empty()) return Status::Ok();
  return Status::Unsupported("Table '" + table.name +
                             "' has indexes, and this engine does not yet maintain index pages; "
                             "nothing was written")
      .AtFile(pager.path());
}

}  // namespace

Status IndexWriter::CheckInsert(const std::vector<Value>&) { return RefuseIndexes(table_, pager_); }

Status IndexWriter::CheckUpdate(const std::vector<Value>&, const std::vector<Value>&, RowPointer) {
  return RefuseIndexes(table_, pager_);
}

Status IndexWriter::Insert(const std::vector<Value>&, RowPointer) {
  return RefuseIndexes(table_, pager_);
}

Status IndexWriter::Update(const std::vector<Value>&, const std::vector<Value>&, RowPointer) {
  return RefuseIndexes(table_, pager_);
}

Status IndexWriter::Delete(const std::vector<Value>&, RowPointer) {
  return RefuseIndexes(table_, pager_);
}

}  // namespace jet
