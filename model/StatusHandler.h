#pragma once

#include <string>

namespace qb {

// Shows a text in the main window's status line. The main frame implements
// it; the feeds manager holds a non-owning pointer (null when no window).
class IStatusHandler {
 public:
  virtual void SetStatusText(const std::u16string& text) = 0;

 protected:
  ~IStatusHandler() = default;
};

}  // namespace qb
