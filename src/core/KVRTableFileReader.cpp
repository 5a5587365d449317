#include "core/KVRTableFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// The file format: https://www.sqlite.org/fileformat.html (sections 1.3, 1.6,
// 2.1). Every offset and length read from the file is checked before use.

namespace {

uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// A varint at p (at most 9 bytes, none beyond end); 0 bytes read when it runs
// past the end.
size_t varint(const uint8_t* p, const uint8_t* end, uint64_t* v) {
  uint64_t x = 0;
  for (size_t i = 0; i < 9; ++i) {
    if (p + i >= end) return 0;
    if (i == 8) {
      x = (x << 8) | p[i];
      *v = x;
      return 9;
    }
    x = (x << 7) | (p[i] & 0x7f);
    if (!(p[i] & 0x80)) {
      *v = x;
      return i + 1;
    }
  }
  return 0;
}

int64_t signedBigEndian(const uint8_t* p, size_t n) {
  uint64_t x = (p[0] & 0x80) ? ~uint64_t(0) : 0;
  for (size_t i = 0; i < n; ++i) x = (x << 8) | p[i];
  return int64_t(x);
}

constexpr uint8_t kInteriorTable = 0x05;
constexpr uint8_t kLeafTable = 0x0D;

}  // namespace

std::unique_ptr<KVRTableFileReader> KVRTableFileReader::open(const std::string& path, std::string* why) {
  auto fail = [&](const char* reason) {
    if (why) *why = reason;
    return std::unique_ptr<KVRTableFileReader>();
  };
  struct stat wal{};
  if (::stat((path + "-wal").c_str(), &wal) == 0 && wal.st_size > 0) return fail("a write-ahead log lies beside the file");
  std::unique_ptr<KVRTableFileReader> r(new KVRTableFileReader);
  r->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (r->fd_ < 0) return fail("the file does not open");
  uint8_t h[100];
  if (::pread(r->fd_, h, sizeof h, 0) != ssize_t(sizeof h)) return fail("no header");
  if (std::memcmp(h, "SQLite format 3", 16) != 0) return fail("not a database header");
  uint32_t pageSize = be16(h + 16);
  if (pageSize == 1) pageSize = 65536;
  if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) return fail("odd page size");
  const uint32_t reserved = h[20];
  if (pageSize - reserved < 480) return fail("odd reserved space");
  if (be32(h + 56) != 1) return fail("text not in UTF-8");
  struct stat st{};
  if (::fstat(r->fd_, &st) != 0) return fail("the file size is unknown");
  const uint64_t filePages = uint64_t(st.st_size) / pageSize;
  uint32_t pages = be32(h + 28);
  if (pages == 0 || be32(h + 24) != be32(h + 92)) pages = uint32_t(std::min<uint64_t>(filePages, UINT32_MAX));
  if (pages > filePages) return fail("the file is shorter than its header says");
  r->pageSize_ = pageSize;
  r->usable_ = pageSize - reserved;
  r->pageCount_ = pages;
  return r;
}

KVRTableFileReader::~KVRTableFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool KVRTableFileReader::readPage(uint32_t page, uint8_t* buffer) const {
  if (page < 1 || page > pageCount_) return false;
  const off_t offset = off_t(page - 1) * off_t(pageSize_);
  size_t done = 0;
  while (done < pageSize_) {
    const ssize_t n = ::pread(fd_, buffer + done, pageSize_ - done, offset + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool KVRTableFileReader::leafPages(uint32_t root, std::vector<uint32_t>* leaves, std::string* why) {
  leaves->clear();
  std::vector<uint8_t> page(pageSize_);
  size_t visited = 0;
  // Depth first, children in key order. The stack holds pages still to visit
  // in reverse order; a table of millions of rows is a few levels deep.
  std::vector<std::pair<uint32_t, int>> stack{{root, 0}};
  while (!stack.empty()) {
    const auto [pageNumber, depth] = stack.back();
    stack.pop_back();
    if (depth > 40 || ++visited > pageCount_) return *why = "the table's pages loop", false;
    if (pageNumber < 2 || !readPage(pageNumber, page.data())) return *why = "a page of the table is missing", false;
    const uint8_t* p = page.data();
    if (p[0] == kLeafTable) {
      leaves->push_back(pageNumber);
      continue;
    }
    if (p[0] != kInteriorTable) return *why = "a page of the table is of another kind", false;
    const uint32_t cells = be16(p + 3);
    if (12 + 2 * size_t(cells) > usable_) return *why = "a page lists more cells than it holds", false;
    stack.emplace_back(be32(p + 8), depth + 1);  // right-most child, visited last
    for (uint32_t c = cells; c-- > 0;) {
      const uint32_t at = be16(p + 12 + 2 * c);
      if (at + 4 > usable_) return *why = "a cell lies outside its page", false;
      stack.emplace_back(be32(p + at), depth + 1);
    }
  }
  return true;
}

KVRTableFileReader::Cursor::Cursor(const KVRTableFileReader& r, size_t columns)
    : r_(r), page_(r.pageSize_), values_(columns) {}

bool KVRTableFileReader::Cursor::loadPage(uint32_t page, std::string* why) {
  if (!r_.readPage(page, page_.data())) return *why = "a page of the table is missing", false;
  headerOffset_ = page == 1 ? 100 : 0;
  const uint8_t* p = page_.data() + headerOffset_;
  if (p[0] != kLeafTable) return *why = "a page of the table is of another kind", false;
  cells_ = int(be16(p + 3));
  if (headerOffset_ + 8 + 2 * size_t(cells_) > r_.usable_) return *why = "a page lists more cells than it holds", false;
  return true;
}

bool KVRTableFileReader::Cursor::decodeCell(int cell, std::string* why) {
  const uint8_t* page = page_.data();
  const uint8_t* end = page + r_.usable_;
  const size_t at = be16(page + headerOffset_ + 8 + 2 * size_t(cell));
  if (at < headerOffset_ + 8 + 2 * size_t(cells_) || at >= r_.usable_) return *why = "a cell lies outside its page", false;
  const uint8_t* p = page + at;
  uint64_t payload = 0, key = 0;
  size_t n = varint(p, end, &payload);
  if (!n) return *why = "a cell lies outside its page", false;
  p += n;
  n = varint(p, end, &key);
  if (!n) return *why = "a cell lies outside its page", false;
  p += n;
  // Rows larger than this spill onto overflow pages: left to SQLite.
  if (payload > r_.usable_ - 35) return *why = "a row does not fit on its page", false;
  if (payload > uint64_t(end - p)) return *why = "a cell lies outside its page", false;
  rowid_ = int64_t(key);
  const uint8_t* record = p;
  const uint8_t* recordEnd = p + payload;
  uint64_t headerSize = 0;
  n = varint(record, recordEnd, &headerSize);
  if (!n || headerSize < n || headerSize > payload) return *why = "a row's header is damaged", false;
  const uint8_t* type = record + n;
  const uint8_t* typesEnd = record + headerSize;
  const uint8_t* data = typesEnd;
  count_ = 0;
  while (type < typesEnd && count_ < values_.size()) {
    uint64_t t = 0;
    n = varint(type, typesEnd, &t);
    if (!n) return *why = "a row's header is damaged", false;
    type += n;
    Value& v = values_[count_++];
    size_t size = 0;
    switch (t) {
      case 0: v.kind = Value::Null; break;
      case 1: size = 1; break;
      case 2: size = 2; break;
      case 3: size = 3; break;
      case 4: size = 4; break;
      case 5: size = 6; break;
      case 6: size = 8; break;
      case 7: size = 8; break;
      case 8: v.kind = Value::Integer, v.i = 0; break;
      case 9: v.kind = Value::Integer, v.i = 1; break;
      case 10:
      case 11: return *why = "a row's header is damaged", false;
      default: size = size_t((t - 12) / 2); break;
    }
    if (size > size_t(recordEnd - data)) return *why = "a row's values run past it", false;
    if (t >= 1 && t <= 6) {
      v.kind = Value::Integer;
      v.i = signedBigEndian(data, size);
    } else if (t == 7) {
      const uint64_t bits = uint64_t(signedBigEndian(data, 8));
      v.kind = Value::Real;
      std::memcpy(&v.r, &bits, sizeof v.r);
    } else if (t >= 12) {
      v.kind = (t & 1) ? Value::Text : Value::Blob;
      v.bytes = std::string_view(reinterpret_cast<const char*>(data), size);
    }
    data += size;
  }
  return true;
}
