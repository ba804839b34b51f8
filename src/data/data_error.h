// SPDX-License-Identifier: Apache-2.0
// DataError: how the data-access layer reports a failure to its caller, as a
// number and a description a user can read. The pair (0, "") means that
// nothing failed.
//
// The numbers are fixed; most follow the numbers Jet and ADO use for the same
// failure, so that they read familiar to anyone who has met them there:
//
//   91    a recordset or field variable that holds no object
//   3001  an argument that is malformed (a connection string we cannot read)
//   3021  no current row (reading or writing a field at EOF)
//   3022  the database refused the change (duplicate key, missing value, ...)
//   3024  the database file does not exist
//   3027  the recordset is read-only, or the database cannot be written
//   3031  the database has a password or is encrypted
//   3049  the database is damaged, or uses a feature we do not handle
//   3051  the database is in use by someone else, or cannot be read
//   3061  a column that the table does not have
//   3075  a syntax error in the WHERE clause
//   3078  a table that the database does not have
//   3129  a statement that is not a SELECT
//   3131  a syntax error in the FROM clause
//   3141  a syntax error in the column list
//   3197  the row was changed or deleted by someone else since it was read
//   3163  a default value too long for its text column
//   3251  a query construct, or a column's default value, this program does
//         not handle
//   3265  a field name or index that the recordset does not have
//   3314  a Required column left Null
//   3315  a zero-length text in a column that does not allow one
//   3316  the table's validation rule refused the row (its ValidationText)
//   3317  a column's validation rule refused the row, or the table's rule
//         where the table has no ValidationText
//   3349  a default value too large for its number column
//   3343  the file is not a Jet database
//   3421  a value (or a column's default value) that cannot be converted
//         to the column's type
//   3464  a comparison of a column with a value of another kind
//   3704  the recordset (or connection) is not open
//   3705  the recordset is already open
//   3706  a connection string that names another provider

#ifndef DATA_DATA_ERROR_H_
#define DATA_DATA_ERROR_H_

#include <cstdint>
#include <string>
#include <utility>

namespace afc {

enum ErrorNumber : int32_t {
  kErrNoObject = 91,
  kErrBadArgument = 3001,
  kErrNoCurrentRow = 3021,
  kErrChangeRefused = 3022,
  kErrFileNotFound = 3024,
  kErrReadOnly = 3027,
  kErrPassword = 3031,
  kErrDamaged = 3049,
  kErrFileInUse = 3051,
  kErrUnknownColumn = 3061,
  kErrWhereSyntax = 3075,
  kErrUnknownTable = 3078,
  kErrNotSelect = 3129,
  kErrFromSyntax = 3131,
  kErrSelectSyntax = 3141,
  kErrFieldTooSmall = 3163,
  kErrWriteConflict = 3197,
  kErrUnsupportedQuery = 3251,
  kErrUnsupportedDefault = 3251,
  kErrNoSuchField = 3265,
  kErrRequired = 3314,
  kErrZeroLength = 3315,
  kErrTableRule = 3316,
  kErrColumnRule = 3317,
  kErrNotADatabase = 3343,
  kErrOverflow = 3349,
  kErrConversion = 3421,
  kErrTypeMismatch = 3464,
  kErrNotOpen = 3704,
  kErrAlreadyOpen = 3705,
  kErrProvider = 3706,
};

struct DataError {
  int32_t number = 0;
  std::string description;

  bool ok() const { return number == 0; }
  static DataError None() { return {}; }
};

inline DataError MakeError(int32_t number, std::string description) {
  return DataError{number, std::move(description)};
}

}  // namespace afc

#endif  // DATA_DATA_ERROR_H_
