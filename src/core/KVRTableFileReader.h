#pragma once
// Reads the rows of one table straight from the pages of an SQLite database
// file, for the bulk load of the report lines: decoding a row from its page
// costs a fraction of stepping a statement over it, and the load reads
// millions of rows.
//
// Only a plain case is read this way, and any doubt makes the caller read the
// table through SQLite instead: a rowid table in a UTF-8 file whose
// write-ahead log is absent or empty, whose pages are all where the header
// says they are and whose rows all fit on their pages. The caller holds a read
// transaction on an SQLite connection to the same file for the whole read, so
// no writer changes the file meanwhile. A page that is not what it should be
// (damage) stops the read with false; the rows read until then are of no use.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class KVRTableFileReader {
 public:
  // One value of a row, as the file stores it.
  struct Value {
    enum Kind : uint8_t { Null, Integer, Real, Text, Blob } kind = Null;
    int64_t i = 0;
    double r = 0;
    std::string_view bytes;  // text or blob, valid until the next row
  };

  // Opens the file; null (with the reason) when a direct read is not sound.
  static std::unique_ptr<KVRTableFileReader> open(const std::string& path, std::string* why);
  ~KVRTableFileReader();

  // The leaf pages of the table whose root page is `root`, in rowid order.
  bool leafPages(uint32_t root, std::vector<uint32_t>* leaves, std::string* why);

  // Reads the rows of the leaves [first, last) in order: row(rowid, values,
  // count) per row, where values holds the row's first `count` columns (a
  // row written before a column was added has fewer); row returns false to
  // stop. False, with the reason, when a page is not what it should be, a
  // row does not fit on its page or row refused one. Any thread; each call
  // reads with its own buffers.
  template <typename RowFn>
  bool readRows(const std::vector<uint32_t>& leaves, size_t first, size_t last, size_t columns, RowFn&& row,
                std::string* why) const {
    Cursor c(*this, columns);
    for (size_t i = first; i < last; ++i) {
      if (!c.loadPage(leaves[i], why)) return false;
      for (int cell = 0; cell < c.cellCount(); ++cell) {
        if (!c.decodeCell(cell, why)) return false;
        if (!row(c.rowid(), c.values(), c.valueCount())) return *why = "a value of another kind than expected", false;
      }
    }
    return true;
  }

 private:
  KVRTableFileReader() = default;
  bool readPage(uint32_t page, uint8_t* buffer) const;

  // Reading position of one thread: a page buffer and the decoded row.
  class Cursor {
   public:
    Cursor(const KVRTableFileReader& r, size_t columns);
    bool loadPage(uint32_t page, std::string* why);
    int cellCount() const { return cells_; }
    bool decodeCell(int cell, std::string* why);
    int64_t rowid() const { return rowid_; }
    const Value* values() const { return values_.data(); }
    size_t valueCount() const { return count_; }

   private:
    const KVRTableFileReader& r_;
    std::vector<uint8_t> page_;
    int cells_ = 0;
    size_t headerOffset_ = 0;  // where the page header starts (100 on page 1)
    int64_t rowid_ = 0;
    std::vector<Value> values_;
    size_t count_ = 0;
  };

  int fd_ = -1;
  uint32_t pageSize_ = 0;
  uint32_t usable_ = 0;  // page size less the reserved bytes
  uint32_t pageCount_ = 0;
};
