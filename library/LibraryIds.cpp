#include "library/LibraryIds.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "library/Library.h"

namespace qb {

namespace {

constexpr auto kRetryAfterFailure = std::chrono::seconds(1);
// A block is drawn again when another block overlaps it or when stored
// records take more than this share of it; after this many draws the
// reservation fails.
constexpr int kDraws = 32;
// The highest identifier a record may have (the one above names no record).
constexpr ObjectId kHighest = std::numeric_limits<ObjectId>::max() - 1;

std::mt19937_64 SeededGenerator() {
  std::random_device device;
  std::seed_seq seed{device(), device(), device(), device()};
  return std::mt19937_64(seed);
}

// Identifiers stored in any table that names records by them, within
// [first, last].
void StoredIn(CSqliteDb& db, ObjectId first, ObjectId last, std::vector<ObjectId>& out) {
  CSqliteStatement& s = db.Statement(
      "SELECT id FROM groups WHERE id BETWEEN ?1 AND ?2 UNION "
      "SELECT id FROM sources WHERE id BETWEEN ?1 AND ?2 UNION "
      "SELECT id FROM articles WHERE id BETWEEN ?1 AND ?2");
  s.Bind(1, int64_t{first});
  s.Bind(2, int64_t{last});
  while (s.Step()) out.push_back(static_cast<ObjectId>(s.Int(0)));
  s.Reset();
}

}  // namespace

bool CLibrary::ReserveIds(size_t count, std::vector<ObjectId>& out, std::string* error) {
  // Nothing is written before the library's check has answered, nor into
  // a library found damaged.
  while (m_checkPending) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!m_write.IsOpen() || m_damaged || count == 0 || count > kHighest / 2) {
    if (error != nullptr) *error = "the library cannot be written";
    return false;
  }
  try {
    // On the reading connection: it belongs to the thread that creates
    // records, and the writing one may be busy with a batch on the worker.
    CSqliteTransaction txn(m_read, true);
    std::mt19937_64 random = SeededGenerator();
    std::uniform_int_distribution<ObjectId> start(1, kHighest - static_cast<ObjectId>(count) + 1);
    for (int draw = 0; draw < kDraws; ++draw) {
      const ObjectId first = start(random);
      const ObjectId last = first + static_cast<ObjectId>(count - 1);
      CSqliteStatement& near =
          m_read.Statement("SELECT last FROM id_blocks WHERE first <= ? ORDER BY first DESC LIMIT 1");
      near.Bind(1, int64_t{last});
      const bool overlaps = near.Step() && near.Int(0) >= int64_t{first};
      near.Reset();
      if (overlaps) continue;
      std::vector<ObjectId> taken;
      StoredIn(m_read, first, last, taken);
      if (taken.size() > count / 4) continue;
      CSqliteStatement& put = m_read.Statement("INSERT INTO id_blocks(first, last, writer) VALUES(?, ?, ?)");
      put.Bind(1, int64_t{first});
      put.Bind(2, int64_t{last});
      put.Bind(3, m_writer);
      put.Run();
      txn.Commit();
      std::sort(taken.begin(), taken.end());
      out.reserve(out.size() + count - taken.size());
      for (ObjectId id = first;; ++id) {
        if (!std::binary_search(taken.begin(), taken.end(), id)) out.push_back(id);
        if (id == last) break;
      }
      return true;
    }
    if (error != nullptr) *error = "no free block of identifiers was found";
    return false;
  } catch (const CSqliteError& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

void CLibrary::ReleaseIds() {
  if (!m_write.IsOpen()) return;
  try {
    // At the end of a session: no long wait for another process.
    sqlite3_busy_timeout(m_read.handle(), 250);
    CSqliteStatement& s = m_read.Statement("DELETE FROM id_blocks WHERE writer = ?");
    s.Bind(1, m_writer);
    s.Run();
  } catch (const CSqliteError&) {
    // The blocks stay reserved: a few identifiers fewer to draw from.
  }
  sqlite3_busy_timeout(m_read.handle(), m_busyTimeoutMs);
}

bool CLibrary::IsStoredId(ObjectId id) {
  if (!m_read.IsOpen()) return false;
  try {
    std::vector<ObjectId> found;
    StoredIn(m_read, id, id, found);
    return !found.empty();
  } catch (const CSqliteError&) {
    return false;
  }
}

CLibraryIds::CLibraryIds(CLibrary& library) : m_library(library), m_random(SeededGenerator()) {}

ObjectId CLibraryIds::Take() {
  if (m_free.empty()) {
    const auto now = std::chrono::steady_clock::now();
    if (now < m_retryAt) return Unreserved();
    std::vector<ObjectId> block;
    if (!m_library.ReserveIds(m_nextBlock, block)) {
      ++m_failures;
      m_retryAt = now + kRetryAfterFailure;
      return Unreserved();
    }
    ++m_reservations;
    m_nextBlock = std::min(kLargestBlock, m_nextBlock * 2);
    std::reverse(block.begin(), block.end());
    m_free = std::move(block);
    if (m_free.empty()) return Unreserved();
  }
  const ObjectId id = m_free.back();
  m_free.pop_back();
  return id;
}

ObjectId CLibraryIds::Unreserved() {
  std::uniform_int_distribution<ObjectId> any(1, kHighest);
  for (int draw = 0; draw < kDraws; ++draw) {
    const ObjectId id = any(m_random);
    if (!m_library.IsStoredId(id)) return id;
  }
  return any(m_random);
}

}  // namespace qb
