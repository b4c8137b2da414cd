// The core operations the shell drives: the data file and the update cycle,
// each behind one small interface. The document gets the data file's reader
// and writer, the commands the update; tests pass doubles.
#pragma once

#include <QString>
#include <string>

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;

// What a load tells the user: an empty message means nothing to show.
struct DataFileLoadReport {
  QString message;
  bool warning = false;  // newer version: exclamation mark; corrupt: error icon
  QString preservedCopy;  // where the unreadable file was kept, if it was
};

// The data file in the per-user data folder; its folder is created.
std::string DataFilePath();

class IDataFileIo {
 public:
  // Reads the file into the model; what the user is to be told.
  virtual DataFileLoadReport Load(CFeedsManager& model, const std::string& path) = 0;
  // True when the whole file was written and replaced the old one.
  virtual bool Save(const CFeedsManager& model, const std::string& path) = 0;

 protected:
  ~IDataFileIo() = default;
};

class CDataFileIo final : public IDataFileIo {
 public:
  DataFileLoadReport Load(CFeedsManager& model, const std::string& path) override;
  bool Save(const CFeedsManager& model, const std::string& path) override;
};

// The one way the window updates sources: "Update all feeds", the automatic
// update and the first fetch of a new source all come here.
class IFeedUpdater {
 public:
  // The due sources (every source when forced); true when anything new arrived.
  virtual bool UpdateAll(CFeedsManager& model, bool force) = 0;
  // One source; true when it brought anything new. False for an identifier
  // that names no source.
  virtual bool UpdateSource(CFeedsManager& model, ObjectId source, bool force) = 0;

 protected:
  ~IFeedUpdater() = default;
};

// The core's update cycle, on the window's thread, with the wait cursor
// shown while it downloads.
class CCoreUpdater final : public IFeedUpdater {
 public:
  bool UpdateAll(CFeedsManager& model, bool force) override;
  bool UpdateSource(CFeedsManager& model, ObjectId source, bool force) override;
};

}  // namespace qb
