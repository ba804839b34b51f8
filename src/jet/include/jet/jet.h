// SPDX-License-Identifier: Apache-2.0
// The public face of the Jet file engine: every public header in one.
//
//   auto db = jet::Database::Open("Tallowin.mdb");
//   if (!db.ok()) return db.status();
//   auto table = (*db)->GetTable("Master");
//   jet::TableScanner scan(**db, *table);
//   std::vector<jet::Value> row;
//   while (*scan.Next(&row)) { ... }
//
// Every call returns a Status or Result; nothing throws.
//
//   status.h         Status and Result
//   value.h          Value, column types, dates and times
//   database_info.h  Jet version, code page and sort order, and their names
//   database.h       Database: open, list tables, read a table's design
//   table_def.h      a table's design: columns and indexes
//   table_scanner.h  TableScanner: read rows
//   row_view.h       RowView: a row's fields as stored, for fast export
//   complex_values.h ComplexValues: attachments and multi-valued fields
//   value_format.h   value text written into a caller's buffer
//   value_text.h     values from their text form, and how they compare
//   table_writer.h   TableWriter: insert, update, delete, bulk insert
//   create.h         CreateDatabase, CreateTable
//   check.h          CheckDatabase, CheckReport
//   io_counts.h      pages read and written, for measuring

#ifndef JET_JET_H_
#define JET_JET_H_

#include "jet/check.h"
#include "jet/complex_values.h"
#include "jet/create.h"
#include "jet/database.h"
#include "jet/database_info.h"
#include "jet/io_counts.h"
#include "jet/row_view.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/table_scanner.h"
#include "jet/table_writer.h"
#include "jet/value.h"
#include "jet/value_format.h"
#include "jet/value_text.h"

#endif  // JET_JET_H_
