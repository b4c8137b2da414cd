// Rules for what the views hand to the desktop, and the private folder for
// the temporary files they write.
#pragma once

#include <QString>

class QUrl;

namespace qb {

class IDesktop;

// Opens a link from an article in the user's browser. Only web and mail
// addresses are handed over: a feed must not make the desktop open local
// files or programs. False when the link was refused or not handed over.
bool OpenLinkExternally(IDesktop& desktop, const QUrl& url);
// Whether OpenLinkExternally hands the URL over at all (http, https,
// mailto, ftp).
bool IsExternalLink(const QUrl& url);

// The per-user private folder for the temporary files the views write:
// $XDG_RUNTIME_DIR/quillbend, else <temp>/quillbend-<uid>, created with mode
// 0700. A path that exists but is not a directory of ours (another user's,
// or a symbolic link) is refused: the result is then empty and nothing is
// written.
QString PrivateTempFolder();

}  // namespace qb
