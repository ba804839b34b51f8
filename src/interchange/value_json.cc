// SPDX-License-Identifier: Apache-2.0
// Row values as JSON, and read back from the JSON that export writes.

#include "interchange/value_json.h"

#include <cmath>

#include "interchange/json_quote.h"
#include "jet/value_text.h"

namespace jet {

void AppendJson(std::string& out, const Value& v) {
  if (v.null) {
    out += "null";
    return;
  }
  switch (v.type) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: v.AppendText(out); return;
    case ColumnType::kSingle:
      if (std::isfinite(v.single)) return v.AppendText(out);
      break;
    case ColumnType::kDouble:
      if (std::isfinite(v.real)) return v.AppendText(out);
      break;
    case ColumnType::kText:
    case ColumnType::kMemo: AppendJsonQuoted(out, v.bytes); return;
    default: break;
  }
  out.push_back('"');
  v.AppendText(out);  // the remaining forms need no escaping
  out.push_back('"');
}

std::string ValueToJson(const Value& v) {
  std::string out;
  AppendJson(out, v);
  return out;
}

Status ValueFromJson(const ColumnDef& c, const JsonValue& json, Value* out) {
  if (json.is_null()) {
    SetNullValue(c, out);
    return Status::Ok();
  }
  auto wrong = [&](const char* want) {
    std::string found = JsonKindName(json.kind());
    if (json.is_number() || json.is_string()) found += " " + QuoteShown(json.text());
    return ColumnValueError(c, std::string("expected ") + want + ", found " + found);
  };
  switch (c.type) {
    case ColumnType::kBoolean:
      if (!json.is_bool()) return wrong("true, false or null");
      *out = Value{};
      out->type = c.type;
      out->null = false;
      out->boolean = json.boolean();
      return Status::Ok();
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
      if (!json.is_number()) return wrong("a number");
      return ValueFromTextForm(c, json.text(), out);
    case ColumnType::kCurrency:
    case ColumnType::kNumeric:
      // Written as strings (to keep every digit); a plain number is as good.
      if (!json.is_number() && !json.is_string()) return wrong("a string such as \"12.50\"");
      return ValueFromTextForm(c, json.text(), out);
    case ColumnType::kSingle:
    case ColumnType::kDouble:
      // Numbers, and the non-finite values as strings.
      if (json.is_string() && json.text() != "NaN" && json.text() != "Infinity" &&
          json.text() != "-Infinity") {
        return wrong("a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
      }
      if (!json.is_number() && !json.is_string()) return wrong("a number");
      return ValueFromTextForm(c, json.text(), out);
    default:
      if (!json.is_string()) return wrong("a string");
      return ValueFromTextForm(c, json.text(), out);
  }
}

Status RowFromJson(const TableDef& table, const JsonValue& object, std::vector<Value>* row,
                   std::vector<bool>* given_out) {
  if (!object.is_object()) {
    return Status::InvalidArgument(std::string("A row must be a JSON object, not ") +
                                   (object.is_array() ? "an " : "a ") +
                                   JsonKindName(object.kind()));
  }
  const size_t n = table.columns.size();
  row->resize(n);
  std::vector<bool> given(n, false);
  const auto& members = object.members();
  for (size_t k = 0; k < members.size(); ++k) {
    const std::string& key = members[k].first;
    // Export writes the keys in column order: look there first.
    size_t col = n;
    if (k < n && NamesEqual(table.columns[k].name, key)) {
      col = k;
    } else {
      for (size_t i = 0; i < n && col == n; ++i) {
        if (NamesEqual(table.columns[i].name, key)) col = i;
      }
    }
    if (col == n) {
      return Status::InvalidArgument("Table '" + table.name + "' has no column " + JsonQuote(key));
    }
    if (given[col]) {
      return Status::InvalidArgument("Column '" + table.columns[col].name +
                                     "' is given twice (as " + JsonQuote(key) + ")");
    }
    given[col] = true;
    JET_RETURN_IF_ERROR(ValueFromJson(table.columns[col], members[k].second, &(*row)[col]));
  }
  for (size_t i = 0; i < n; ++i) {
    if (!given[i]) SetNullValue(table.columns[i], &(*row)[i]);
  }
  if (given_out) *given_out = std::move(given);
  return Status::Ok();
}

}  // namespace jet
