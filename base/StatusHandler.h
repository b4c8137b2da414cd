#pragma once

#include <string>

namespace qb {

// Shows a text in the main window's status line. The window's commands
// implement it and show the update engine's texts through it.
class IStatusHandler {
 public:
  virtual void SetStatusText(const std::u16string& text) = 0;

 protected:
  ~IStatusHandler() = default;
};

}  // namespace qb
