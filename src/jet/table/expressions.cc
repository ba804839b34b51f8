// SPDX-License-Identifier: Apache-2.0
#include "jet/table/expressions.h"

#include <cstdlib>

#include "jet/format/value_text.h"
#include "jet/index/index_key.h"
#include "jet/storage/text.h"

namespace jet {

namespace {

Status Refused(int32_t number, std::string message) {
  return Status::Error(ErrorKind::kConstraint, std::move(message)).WithJetError(number);
}

// A conversion failure of the expression module as Jet's error.
Status ConversionError(const Status& s, const std::string& what) {
  if (s.message() == expr::Overflow().message()) {
    return Refused(kJetErrorOverflow, "Numeric field overflow. (" + what + ")");
  }
  return Refused(kJetErrorConversion,
                 "Data type conversion error. (" + what + ": " + s.message() + ")");
}

bool SameValue(const Value& a, const Value& b) {
  return a.null == b.null && (a.null || a.ToText() == b.ToText());
}

}  // namespace

Result<expr::Value> ToExpressionValue(const Value& v) {
  if (v.null && v.type != ColumnType::kBoolean) return expr::Value::Null();
  switch (v.type) {
    case ColumnType::kBoolean:
      return expr::Value::Boolean(v.boolean);
    case ColumnType::kByte:
      return expr::Value::Byte(uint8_t(v.integer));
    case ColumnType::kInteger:
      return expr::Value::Integer(int16_t(v.integer));
    case ColumnType::kLong:
      return expr::Value::Long(int32_t(v.integer));
    case ColumnType::kCurrency:
      return expr::Value::Currency(v.integer);
    case ColumnType::kSingle:
      return expr::Value::Single(v.single);
    case ColumnType::kDouble:
      return expr::Value::Double(v.real);
    case ColumnType::kDateTime:
      return expr::Value::Date(v.real);
    case ColumnType::kText:
    case ColumnType::kMemo:
      return expr::Value::String(v.bytes);
    case ColumnType::kGuid:
      return expr::Value::String(v.ToText());
    case ColumnType::kNumeric:
      // Exactly: a Numeric column holds at most 28 digits.
      return expr::ToDecimal(expr::Value::String(v.decimal.ToString()));
    default:
      return Status::Unsupported(std::string("a ") + ColumnTypeName(v.type) +
                                 " value cannot be compared in an expression");
  }
}

Result<Value> ToColumnValue(const ColumnDef& column, const expr::Value& e,
                            const DatabaseHeader& header) {
  Value out;
  out.type = column.type;
  if (e.is_null()) return out;
  const std::string what = "the value " + expr::DisplayText(e) + " in the column '" + column.name +
                           "' (" + ColumnTypeName(column.type) + ")";
  auto number = [&](Result<expr::Value> r) -> Result<expr::Value> {
    if (!r.ok()) return ConversionError(r.status(), what);
    return r;
  };
  out.null = false;
  switch (column.type) {
    case ColumnType::kBoolean: {
      auto b = expr::ToBoolean(e);
      if (!b.ok()) return ConversionError(b.status(), what);
      out.boolean = *b;
      return out;
    }
    case ColumnType::kByte:
    case ColumnType::kInteger: {
      JET_ASSIGN_OR_RETURN(expr::Value i, number(column.type == ColumnType::kByte
                                                     ? expr::ToByte(e)
                                                     : expr::ToInteger(e)));
      out.integer = i.integer();
      return out;
    }
    case ColumnType::kLong: {
      JET_ASSIGN_OR_RETURN(expr::Value i, number(expr::ToLong(e)));
      out.integer = i.integer();
      return out;
    }
    case ColumnType::kCurrency: {
      JET_ASSIGN_OR_RETURN(expr::Value c, number(expr::ToCurrency(e)));
      out.integer = c.currency_units();
      return out;
    }
    case ColumnType::kSingle: {
      JET_ASSIGN_OR_RETURN(expr::Value f, number(expr::ToSingle(e)));
      out.single = float(f.real());
      return out;
    }
    case ColumnType::kDouble: {
      JET_ASSIGN_OR_RETURN(expr::Value d, number(expr::ToDouble(e)));
      out.real = d.real();
      return out;
    }
    case ColumnType::kDateTime: {
      JET_ASSIGN_OR_RETURN(expr::Value d, number(expr::ToDate(e)));
      out.real = d.real();
      return out;
    }
    case ColumnType::kText:
    case ColumnType::kMemo: {
      auto t = expr::ToText(e);
      if (!t.ok()) return ConversionError(t.status(), what);
      std::u16string units;
      if (!Utf8ToUtf16(*t, &units)) return ConversionError(expr::TypeMismatch(), what);
      const size_t max_chars = header.format && header.format->version == JetVersion::kJet4
                                   ? column.length / 2
                                   : column.length;
      if (column.type == ColumnType::kText && units.size() > max_chars) {
        return Refused(kJetErrorFieldTooSmall,
                       "The field is too small to accept the amount of data you attempted to "
                       "add. Try inserting or pasting less data. (" +
                           what + ")");
      }
      out.bytes = std::move(t).value();
      return out;
    }
    case ColumnType::kNumeric:
    case ColumnType::kGuid: {
      // Through the text the column reads: a number as CStr writes it (a
      // Decimal with all its digits), a GUID as "{...}".
      std::string text;
      if (column.type == ColumnType::kNumeric && e.type() != expr::Type::kString) {
        JET_ASSIGN_OR_RETURN(expr::Value d, number(expr::ToDecimal(e)));
        text = expr::DisplayText(d);
      } else {
        auto t = expr::ToText(e);
        if (!t.ok()) return ConversionError(t.status(), what);
        text = *t;
      }
      if (!ValueFromText(column, text, &out).ok()) {
        return ConversionError(expr::TypeMismatch(), what);
      }
      return out;
    }
    default:
      return Status::Unsupported(std::string("A default value cannot be computed for the ") +
                                 ColumnTypeName(column.type) + " column '" + column.name + "'");
  }
}

expr::TextComparer TextComparerFor(const ColumnDef* column, const DatabaseHeader& header) {
  ColumnDef keyed;
  keyed.type = ColumnType::kText;
  keyed.sort_order = column && IsTextual(column->type) ? column->sort_order : header.sort_order;
  if (!header.format || !TextCollationOf(keyed.sort_order, header.format->version).ok()) {
    return expr::CompareTextDefault;
  }
  return [keyed, header](std::string_view a, std::string_view b) {
    // Index keys hold 255 characters; longer texts compare as the default.
    if (a.size() > 255 || b.size() > 255) return expr::CompareTextDefault(a, b);
    std::vector<uint8_t> ka, kb;
    Value va, vb;
    va.type = vb.type = ColumnType::kText;
    va.null = vb.null = false;
    va.bytes = std::string(a);
    vb.bytes = std::string(b);
    if (!AppendIndexKeyColumn(keyed, true, va, header, &ka, Expansions::kCharacters).ok() ||
        !AppendIndexKeyColumn(keyed, true, vb, header, &kb, Expansions::kCharacters).ok()) {
      return expr::CompareTextDefault(a, b);
    }
    return ka < kb ? -1 : ka > kb ? 1 : 0;
  };
}

TableExpressions::TableExpressions(std::shared_ptr<const TableDef> table,
                                   ColumnProperties properties, const DatabaseHeader& header)
    : table_(std::move(table)),
      properties_(std::move(properties)),
      header_(header),
      rules_(table_->columns.size()),
      defaults_(table_->columns.size()) {}

Result<const expr::Expression*> TableExpressions::Get(Parsed& slot,
                                                      const std::optional<std::string>& text,
                                                      expr::Kind kind, const std::string& where) {
  if (!slot.done) {
    slot.done = true;
    if (text) slot.expression = expr::Parse(*text, kind);
  }
  if (!slot.expression) return nullptr;
  if (!slot.expression->ok()) {
    const Status& s = slot.expression->status();
    const bool rule = kind != expr::Kind::kDefaultValue;
    std::string message = (rule ? "The validation rule '" : "The default value '") + *text +
                          "' of " + where + " cannot be evaluated by this program (" + s.message() +
                          "); nothing was written.";
    if (rule) return Status::Error(ErrorKind::kConstraint, std::move(message));
    return Status::Unsupported(std::move(message)).WithJetError(kJetErrorUnsupported);
  }
  return &slot.expression->value();
}

Status TableExpressions::CheckRules(const std::vector<Value>& values,
                                    const std::vector<Value>* old) {
  const TableDef& t = *table_;
  bool any_changed = !old;
  for (size_t i = 0; i < t.columns.size() && i < values.size(); ++i) {
    const bool changed = !old || !SameValue((*old)[i], values[i]);
    any_changed = any_changed || changed;
    if (!changed || i >= properties_.columns.size()) continue;
    const ColumnRules& r = properties_.columns[i];
    const ColumnDef& c = t.columns[i];
    const std::string where = "'" + t.name + "." + c.name + "'";
    JET_ASSIGN_OR_RETURN(
        const expr::Expression* rule,
        Get(rules_[i], r.validation_rule, expr::Kind::kColumnRule, "the column " + where));
    if (!rule) continue;
    auto own = ToExpressionValue(values[i]);
    if (!own.ok()) {
      return Status::Error(ErrorKind::kConstraint,
                           "The validation rule '" + rule->text() + "' set for " + where +
                               " cannot be checked: " + own.status().message() + ".");
    }
    expr::Context context;
    context.implicit = *own;
    context.column = [&](std::string_view name) -> std::optional<expr::Value> {
      if (NamesEqual(std::string(name), c.name)) return *own;
      return std::nullopt;
    };
    context.compare = TextComparerFor(&c, header_);
    auto passes = expr::RulePasses(*rule, context);
    if (!passes.ok()) {
      return Status::Error(ErrorKind::kConstraint,
                           "The validation rule '" + rule->text() + "' set for " + where +
                               " cannot be evaluated for this row: " + passes.status().message() +
                               ".");
    }
    if (!*passes) {
      return Refused(kJetErrorColumnRule,
                     r.validation_text
                         ? *r.validation_text
                         : "One or more values are prohibited by the validation rule '" +
                               rule->text() + "' set for " + where +
                               ". Enter a value that the expression for this field can accept.");
    }
  }
  if (!any_changed) return Status::Ok();
  const std::string where = "'" + t.name + "'";
  JET_ASSIGN_OR_RETURN(const expr::Expression* rule,
                       Get(table_rule_, properties_.table_validation_rule, expr::Kind::kTableRule,
                           "the table " + where));
  if (!rule) return Status::Ok();
  Status lookup;
  expr::Context context;
  context.column = [&](std::string_view name) -> std::optional<expr::Value> {
    const ColumnDef* c = t.FindColumn(std::string(name));
    if (!c) return std::nullopt;
    const size_t i = size_t(c - t.columns.data());
    if (i >= values.size()) return std::nullopt;
    auto v = ToExpressionValue(values[i]);
    if (!v.ok()) {
      if (lookup.ok()) lookup = v.TakeStatus();
      return expr::Value::Null();
    }
    return *v;
  };
  context.compare = TextComparerFor(nullptr, header_);
  auto passes = expr::RulePasses(*rule, context);
  if (!lookup.ok() || !passes.ok()) {
    return Status::Error(ErrorKind::kConstraint,
                         "The validation rule '" + rule->text() + "' set for " + where +
                             " cannot be checked for this row: " +
                             (lookup.ok() ? passes.status() : lookup).message() + ".");
  }
  if (*passes) return Status::Ok();
  if (properties_.table_validation_text) {
    return Refused(kJetErrorTableRule, *properties_.table_validation_text);
  }
  return Refused(kJetErrorColumnRule,
                 "One or more values are prohibited by the validation rule '" + rule->text() +
                     "' set for " + where +
                     ". Enter a value that the expression for this field can accept.");
}

namespace {

Result<Value> EvaluateDefault(const std::string& table, const ColumnDef& c,
                              const expr::Expression& e, const DatabaseHeader& header,
                              std::optional<double> now) {
  const std::string where = "'" + (table.empty() ? "" : table + ".") + c.name + "'";
  expr::Context context;
  if (now) context.now = [t = *now] { return t; };
  context.compare = TextComparerFor(&c, header);
  auto v = expr::Evaluate(e, context);
  if (!v.ok()) {
    return Status::InvalidArgument("The default value '" + e.text() + "' of the column " + where +
                                   " cannot be evaluated: " + v.status().message() + ".");
  }
  auto stored = ToColumnValue(c, *v, header);
  if (!stored.ok()) {
    Status s = stored.TakeStatus();
    return Status::Error(s.kind(),
                         s.message() + " The default value of " + where + " is " + e.text() + ".")
        .WithJetError(s.jet_error());
  }
  return stored;
}

}  // namespace

Result<Value> DefaultValueFor(const ColumnDef& column, const std::string& text,
                              const DatabaseHeader& header, std::optional<double> now) {
  auto e = expr::Parse(text, expr::Kind::kDefaultValue);
  if (!e.ok()) {
    return Status::Unsupported("The default value '" + text + "' of the column '" + column.name +
                               "' cannot be evaluated by this program (" + e.status().message() +
                               "); nothing was written.")
        .WithJetError(kJetErrorUnsupported);
  }
  return EvaluateDefault("", column, *e, header, now);
}

Result<Value> TableExpressions::DefaultFor(size_t i, std::optional<double> now) {
  const ColumnDef& c = table_->columns.at(i);
  Value out;
  out.type = c.type;
  if (i >= properties_.columns.size()) return out;
  JET_ASSIGN_OR_RETURN(
      const expr::Expression* e,
      Get(defaults_[i], properties_.columns[i].default_value, expr::Kind::kDefaultValue,
          "the column '" + table_->name + "." + c.name + "'"));
  if (!e) return out;
  return EvaluateDefault(table_->name, c, *e, header_, now);
}

Status TableExpressions::ApplyDefaults(const std::vector<bool>& assigned,
                                       std::vector<Value>* values, std::optional<double> now) {
  for (size_t i = 0; i < table_->columns.size() && i < values->size(); ++i) {
    if ((i < assigned.size() && assigned[i]) || table_->columns[i].autonumber()) continue;
    if (i >= properties_.columns.size() || !properties_.columns[i].default_value) continue;
    JET_ASSIGN_OR_RETURN((*values)[i], DefaultFor(i, now));
  }
  return Status::Ok();
}

}  // namespace jet
