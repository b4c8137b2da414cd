// A writer that passes the first N bytes on to another writer and then
// fails, as a disk that fills up part-way through a save.
#pragma once

#include <algorithm>
#include <memory>

#include "classic/Archive.h"

namespace qb::test {

class FailingWriter : public IArchiveWriter {
 public:
  FailingWriter(std::unique_ptr<IArchiveWriter> inner, size_t failAfter)
      : m_inner(std::move(inner)), m_left(failAfter) {}

  bool Write(const void* data, size_t size) override {
    const size_t n = std::min(size, m_left);
    if (n != 0 && !m_inner->Write(data, n)) return false;
    m_left -= n;
    return n == size;
  }

 private:
  std::unique_ptr<IArchiveWriter> m_inner;
  size_t m_left;
};

}  // namespace qb::test
