// The keys that read on from the list and from the article page alike:
// Space reads on, N and P go to the next and previous unread article. Only
// without modifiers (the keypad's aside), so Ctrl+N and the like stay free.
#pragma once

#include <QKeyEvent>

namespace qb {

enum class ReadingKey { None, ReadOn, NextUnread, PreviousUnread };

inline ReadingKey ReadingKeyOf(const QKeyEvent& event) {
  if ((event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return ReadingKey::None;
  switch (event.key()) {
    case Qt::Key_Space:
      return ReadingKey::ReadOn;
    case Qt::Key_N:
      return ReadingKey::NextUnread;
    case Qt::Key_P:
      return ReadingKey::PreviousUnread;
    default:
      return ReadingKey::None;
  }
}

}  // namespace qb
