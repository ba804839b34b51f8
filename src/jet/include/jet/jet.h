// The public face of the Jet file engine.
//
//   auto db = jet::Database::Open("Tallowin.mdb");
//   auto table = (*db)->GetTable("Master");
//   jet::TableScanner scan(**db, *table);
//   std::vector<jet::Value> row;
//   while (*scan.Next(&row)) { ... }
//
// Every call returns a Status or Result; nothing throws.

#ifndef JET_JET_H_
#define JET_JET_H_

#include "jet/check/checker.h"
#include "jet/db/database.h"
#include "jet/index/index_page.h"
#include "jet/status.h"
#include "jet/value.h"
#include "jet/format/table_def.h"

#endif  // JET_JET_H_
