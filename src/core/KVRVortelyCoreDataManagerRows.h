#pragma once
// The data manager's one row reader: a row of any table, read through SQLite
// or straight from the file's pages (KVRTableFileReader), and the checked
// readers of the numbers it stores. Only the data manager's load includes this.
#include <QString>
#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/KVRTableFileReader.h"
#include "core/KVRVortelyCoreDataManagerImpl.h"
#include "platform/KVRDate.h"

namespace KVRDataManagerInternal {

using Value = KVRTableFileReader::Value;

// One row of a table, however it was read: its row id and the values of the
// columns the reader asked for, in the order it asked them. A column the row
// does not hold (written before the column was added) reads as NULL. Values
// read as SQLite's column functions read them.
class Row {
 public:
  Row(int64_t id, const Value* values, size_t count, const int* position)
      : id_(id), values_(values), count_(count), position_(position) {}

  int64_t id() const { return id_; }
  const Value& operator[](int column) const {
    static const Value null;
    const int at = position_ ? position_[column] : column;
    return at >= 0 && size_t(at) < count_ ? values_[at] : null;
  }
  // As sqlite3_column_int64: NULL 0, a real truncated within the 64-bit range.
  int64_t integer(int column) const {
    const Value& v = (*this)[column];
    switch (v.kind) {
      case Value::Integer: return v.i;
      case Value::Real: return realToInteger(v.r);
      case Value::Text: return realToInteger(std::strtod(std::string(v.bytes).c_str(), nullptr));
      default: return 0;
    }
  }
  // As sqlite3_column_double.
  double real(int column) const {
    const Value& v = (*this)[column];
    switch (v.kind) {
      case Value::Integer: return double(v.i);
      case Value::Real: return v.r;
      case Value::Text: return std::strtod(std::string(v.bytes).c_str(), nullptr);
      default: return 0;
    }
  }
  // Dates are REAL milliseconds, NULL when there is no date.
  KVRDate date(int column) const {
    return (*this)[column].kind == Value::Null ? KVRDate() : KVRDate(real(column));
  }
  // The text's UTF-8 bytes, up to its first NUL when asked; null: no text.
  std::string_view bytes(int column, bool toNul = false) const {
    const Value& v = (*this)[column];
    if (v.kind != Value::Text && v.kind != Value::Blob) return std::string_view();
    std::string_view t = v.bytes.data() ? v.bytes : std::string_view("", 0);
    return toNul ? t.substr(0, t.find('\0')) : t;
  }
  bool isNull(int column) const { return (*this)[column].kind == Value::Null; }
  // Whether the row holds the column (a row written before a column was
  // added to its table does not).
  bool holds(int column) const {
    const int at = position_ ? position_[column] : column;
    return at >= 0 && size_t(at) < count_;
  }
  QString text(int column) const {
    if (isNull(column)) return QString();
    const std::string_view t = bytes(column);
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
  }
  // A short text repeated over many rows, one shared copy per distinct value.
  QString code(int column, StringInterner& strings) const {
    if (isNull(column)) return QString();
    const std::string_view t = bytes(column, true);
    return strings.get(t.data(), t.size());
  }
  QByteArray blob(int column) const {
    const std::string_view b = bytes(column);
    return b.size() > 0 ? QByteArray(b.data(), qsizetype(b.size())) : QByteArray();
  }

 private:
  static int64_t realToInteger(double r) {
    if (std::isnan(r)) return 0;
    if (r <= -9223372036854775808.0) return INT64_MIN;
    if (r >= 9223372036854775808.0) return INT64_MAX;
    return int64_t(r);
  }
  int64_t id_;
  const Value* values_;
  size_t count_;
  const int* position_;
};

// Stored numbers are checked as they are read: a value is taken only when it
// is a finite number the record's field holds exactly; anything else (text, a
// fraction where a whole number belongs, beyond the field's range, infinite,
// NULL, which is also how SQLite reads a stored NaN) is refused. A column the
// row does not hold reads as its default, 0.
inline bool wholeNumber(const Row& q, int column, int* out) {
  if (!q.holds(column)) return *out = 0, true;
  const Value& v = q[column];
  if (v.kind == Value::Integer) {
    if (v.i < INT32_MIN || v.i > INT32_MAX) return false;
    return *out = int(v.i), true;
  }
  if (v.kind == Value::Real) {
    if (!std::isfinite(v.r) || v.r != std::trunc(v.r) || v.r < INT32_MIN || v.r > INT32_MAX) return false;
    return *out = int(v.r), true;
  }
  return false;
}
inline bool floatNumber(const Row& q, int column, float* out) {
  if (!q.holds(column)) return *out = 0.0f, true;
  const Value& v = q[column];
  if (v.kind == Value::Integer) return *out = float(v.i), true;
  if (v.kind == Value::Real && std::isfinite(v.r) && std::fabs(v.r) <= double(FLT_MAX))
    return *out = float(v.r), true;
  return false;
}
// A line's date: none unless a finite number of milliseconds is stored.
inline KVRDate lineDate(const Row& q, int column) {
  const Value& v = q[column];
  if (v.kind == Value::Integer) return KVRDate(double(v.i));
  if (v.kind == Value::Real && std::isfinite(v.r)) return KVRDate(v.r);
  return KVRDate();
}

// A stored value as a log line shows it.
inline QString describe(const Value& v) {
  switch (v.kind) {
    case Value::Integer: return QString::number(v.i);
    case Value::Real: return QString::number(v.r);
    case Value::Text: return QStringLiteral("text \"%1\"").arg(QString::fromUtf8(v.bytes.data(), qsizetype(v.bytes.size())));
    case Value::Blob: return QStringLiteral("data");
    case Value::Null: break;
  }
  return QStringLiteral("none");
}

// Reads the rows of a table through SQLite, in row id order, handing each to
// row(const Row&): "SELECT id, columns... FROM table", within [first, last]
// when a range is given. Throws on failure.
template <typename RowFn>
inline void readTable(sqlite3* h, const char* table, const std::vector<const char*>& columns, RowFn&& row,
               const std::pair<int64_t, int64_t>* range = nullptr) {
  std::string sql = "SELECT id";
  for (const char* c : columns) sql += std::string(", ") + c;
  sql += std::string(" FROM ") + table;
  if (range) sql += " WHERE id BETWEEN ? AND ?";
  sql += " ORDER BY id";
  sqlite3_stmt* q = nullptr;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &q, nullptr) != SQLITE_OK) throw SQLite::Exception(h, sqlite3_errcode(h));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(q, &sqlite3_finalize);
  if (range) {
    sqlite3_bind_int64(q, 1, range->first);
    sqlite3_bind_int64(q, 2, range->second);
  }
  std::vector<Value> values(columns.size());
  int rc;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
    for (size_t c = 0; c < columns.size(); ++c) {
      const int col = int(c) + 1;
      Value& v = values[c];
      v = Value();
      switch (sqlite3_column_type(q, col)) {
        case SQLITE_INTEGER: v.kind = Value::Integer, v.i = sqlite3_column_int64(q, col); break;
        case SQLITE_FLOAT: v.kind = Value::Real, v.r = sqlite3_column_double(q, col); break;
        case SQLITE_TEXT: {
          const char* t = reinterpret_cast<const char*>(sqlite3_column_text(q, col));
          v.kind = Value::Text;
          v.bytes = std::string_view(t ? t : "", size_t(sqlite3_column_bytes(q, col)));
          break;
        }
        case SQLITE_BLOB: {
          const char* b = static_cast<const char*>(sqlite3_column_blob(q, col));
          v.kind = Value::Blob;
          v.bytes = std::string_view(b ? b : "", size_t(sqlite3_column_bytes(q, col)));
          break;
        }
        default: break;
      }
    }
    row(Row(sqlite3_column_int64(q, 0), values.data(), values.size(), nullptr));
  }
  if (rc != SQLITE_DONE) throw SQLite::Exception(h, rc);
}

}  // namespace KVRDataManagerInternal
