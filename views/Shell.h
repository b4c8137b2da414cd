// The two places where the views hand something to the desktop or wait for
// the user outside a dialog: opening a URL or file with the user's program,
// and running a popup menu. Tests replace both so nothing leaves the process
// and no menu blocks.
#pragma once

#include <QPoint>
#include <QString>
#include <QUrl>
#include <functional>

class QAction;
class QMenu;

namespace qb {

// Opens the URL with the desktop's handler (QDesktopServices); false when it
// could not be handed over.
bool OpenWithShell(const QUrl& url);

// Opens a link from an article in the user's browser. Only web and mail
// addresses are handed over: a feed must not make the desktop open local
// files or programs.
bool OpenLinkExternally(const QUrl& url);

// Runs the menu at the global position; returns the action chosen or null.
QAction* ExecPopupMenu(QMenu& menu, const QPoint& globalPos);

using ShellOpener = std::function<bool(const QUrl& url)>;
using MenuPresenter = std::function<QAction*(QMenu& menu, const QPoint& globalPos)>;
// An empty function restores the real behaviour.
void SetShellOpener(ShellOpener opener);
void SetMenuPresenter(MenuPresenter presenter);

// The per-user private folder for the temporary files the views write:
// $XDG_RUNTIME_DIR/quillbend, else <temp>/quillbend-<uid>, created with mode
// 0700. A path that exists but is not a directory of ours (another user's,
// or a symbolic link) is refused: the result is then empty and nothing is
// written.
QString PrivateTempFolder();

}  // namespace qb
