// The site icons the source tree shows beside its sources. The application
// provides them: fetching, decoding and caching happen off the window's
// thread, so asking never waits. The tree only asks and listens.
#pragma once

#include <QIcon>
#include <QObject>
#include <string>

namespace qb {

class ISiteIcons : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

  // The icon of the site of `address` (a feed's address) when it has
  // arrived; a null icon otherwise: not known yet (it is then asked for,
  // once, and iconsArrived follows), or the site has none.
  virtual QIcon SiteIcon(const std::u16string& address) = 0;

 signals:
  // One or more icons have arrived since the last time this was emitted.
  void iconsArrived();
};

}  // namespace qb
