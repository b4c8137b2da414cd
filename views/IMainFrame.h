// What the commands and the pane router need from the main frame.
// CMainFrame implements it; tests use a fake. The panes never see it: they
// read the model through a const reference, reach the desktop through
// IDesktop and emit their requests, which the application layer carries out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "model/RSSObject.h"
#include "update/SourceUpdateState.h"

class QWidget;

namespace qb {

class CFeedsManager;
class IDesktop;
class IReaderStore;

// How the tree learns a source's update state; empty gives every source
// the state of one never tried.
using SourceStateLookup = std::function<SourceUpdateState(ObjectId source)>;

class IMainFrame {
 public:
  // The model the commands change; the panes get it read-only.
  virtual CFeedsManager& Model() = 0;
  // Message boxes, dialogs, menus, opening links, the tray.
  virtual IDesktop& Desktop() = 0;
  // The status bar's message pane. The pane router is its one writer.
  virtual void SetStatusText(const std::u16string& text) = 0;
  // The new-articles notice (tray blink); off once a pane has the focus.
  virtual void SetNewArticles(bool on) = 0;
  // Queues a save of the window placement (after a pane was resized).
  virtual void PostSavePlacement() = 0;
  // Parent for dialogs and message boxes.
  virtual QWidget* Window() = 0;
  // Where the reader view keeps its results; null when nothing is kept.
  virtual IReaderStore* ReaderStore() { return nullptr; }

 protected:
  ~IMainFrame() = default;
};

}  // namespace qb
