// CLibraryIds: the identifiers a process gives its new records while it
// writes to a library. Several processes add records to one library at
// once (the window, quillbend-cli), each with a model of its own, so an
// identifier drawn at random in one of them may already name a record that
// another one made and has not yet written. Each process therefore takes
// its identifiers from blocks that the library reserves for it
// (CLibrary::ReserveIds): a block holds no identifier stored in the
// library and overlaps no block reserved by another process, so two
// processes never give two records one identifier. A session's blocks are
// released when it ends (CLibrary::ReleaseIds).
//
// When the library cannot reserve a block (it cannot be written, or
// another process holds it too long), an identifier is drawn at random and
// checked against the stored ones; the write then still refuses an
// identifier that another process stored meanwhile, and says so.
//
// Owner's thread only: a reservation is a short write transaction on the
// library's reading connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <random>
#include <vector>

#include "model/ObjectStorage.h"

namespace qb {

class CLibrary;

class CLibraryIds final : public IIdSource {
 public:
  explicit CLibraryIds(CLibrary& library);
  CLibraryIds(const CLibraryIds&) = delete;
  CLibraryIds& operator=(const CLibraryIds&) = delete;

  ObjectId Take() override;

  // Reserved identifiers not yet given out.
  size_t Available() const { return m_free.size(); }
  // Blocks reserved so far, and reservations that failed.
  size_t Reservations() const { return m_reservations; }
  size_t FailedReservations() const { return m_failures; }

  // The first block's size; each further block is twice the last, up to
  // the largest. Large enough that most sessions reserve once.
  static constexpr size_t kFirstBlock = 4096;
  static constexpr size_t kLargestBlock = 65536;

 private:
  ObjectId Unreserved();

  CLibrary& m_library;
  std::vector<ObjectId> m_free;  // given out from the back
  size_t m_nextBlock = kFirstBlock;
  size_t m_reservations = 0;
  size_t m_failures = 0;
  // After a failed reservation the next try waits this long, so that a
  // library that cannot be written is not asked again for every record.
  std::chrono::steady_clock::time_point m_retryAt{};
  std::mt19937_64 m_random;
};

}  // namespace qb
