// The core operations the shell drives: the data file and the update cycle.
// One place adapts them to the window, so the document and the frame stay
// independent of how the core reports its outcomes.
#pragma once

#include <QString>
#include <string>

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
DataFileLoadReport LoadDataFileInto(CFeedsManager& manager, const std::string& path);
// True when the whole file was written and replaced the old one.
bool SaveDataFileFrom(const CFeedsManager& manager, const std::string& path);

// Downloads the due sources (all when forced); true when anything new arrived.
bool RunUpdateAll(CFeedsManager& manager, bool force);

// Whether RunUpdateAll shows the wait cursor while its pass runs (the window
// turns it on at start and off at exit).
void InstallWaitCursor(bool install);

}  // namespace qb
