// What the views, the commands and the pane router need from the main
// frame. CMainFrame implements it; tests use a fake. The panes never reach
// each other through it: they emit their requests, and the application layer
// routes them.
#pragma once

#include <cstdint>
#include <string>

#include "feeds/SourceUpdateState.h"
#include "model/RSSObject.h"

class QWidget;

namespace qb {

class CFeedsManager;
class IDesktop;

// The frame's four timers, by their historical ids.
enum class FrameTimer : int { Update = 1234, Tick = 1235, MarkRead = 1236, Save = 1237 };

class IMainFrame {
 public:
  virtual CFeedsManager& Model() = 0;
  // Message boxes, dialogs, menus, opening links, the tray.
  virtual IDesktop& Desktop() = 0;
  // Restarts the one-shot five-second save timer.
  virtual void ScheduleSave() = 0;
  // The status bar's message pane.
  virtual void SetStatusText(const std::u16string& text) = 0;
  // Starts (or restarts) a timer with its standard interval; stops it.
  virtual void StartFrameTimer(FrameTimer timer) = 0;
  virtual void StopFrameTimer(FrameTimer timer) = 0;
  virtual bool IsFrameTimerActive(FrameTimer timer) const = 0;
  // The new-articles notice (tray blink); the views switch it off on focus.
  virtual void SetNewArticles(bool on) = 0;
  // Queues a save of the window placement (after a pane was resized).
  virtual void PostSavePlacement() = 0;
  // Parent for dialogs and message boxes.
  virtual QWidget* Window() = 0;
  // How the source's last update went.
  virtual SourceUpdateState SourceState(ObjectId source) const = 0;

 protected:
  ~IMainFrame() = default;
};

}  // namespace qb
