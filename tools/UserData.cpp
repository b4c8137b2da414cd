#include "tools/UserData.h"

#include "model/DataFile.h"
#include "model/Text.h"

namespace qb::cli {

std::string UserDataPath(const CliContext& ctx) {
  return ctx.dataFile ? *ctx.dataFile : GetDataFilePath();
}

bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path,
                  CValidatorStore* fetchState) {
  manager.SetClock(ctx.clock);
  manager.SeedRandom(static_cast<uint32_t>(manager.Clock().CurrentTime()));
  // The file must be the same before and after the read for the fetch state
  // saved with it to describe what was read.
  const DataFileFingerprint before = DataFileFingerprint::Of(path);
  const LoadOutcome outcome = LoadDataFile(manager, path);
  if (fetchState != nullptr) {
    const bool whole = outcome.ok() && before == DataFileFingerprint::Of(path);
    fetchState->Load(CValidatorStore::CachePathFor(path), before, whole);
  }
  if (outcome.ok() || outcome.fileAbsent) return true;
  if (!outcome.message.empty()) ctx.err << Utf16ToUtf8(outcome.message) << "\n";
  if (!outcome.detail.empty()) ctx.err << "quillbend-cli: " << outcome.detail << "\n";
  if (outcome.openFailed) {
    ctx.err << "quillbend-cli: cannot read " << path << "; it is left untouched\n";
    return false;
  }
  if (outcome.preservedCopy.empty()) {
    ctx.err << "quillbend-cli: " << path
            << " could not be loaded whole nor copied aside; it is left untouched\n";
    return false;
  }
  ctx.err << "quillbend-cli: the unreadable file was kept as " << outcome.preservedCopy << "\n";
  return true;
}

bool SaveUserData(CliContext& ctx, const CFeedsManager& manager, const std::string& path,
                  const CValidatorStore* fetchState) {
  const SaveResult result = SaveDataFile(manager, path);
  if (fetchState != nullptr) CValidatorStore::WriteAfterSave(fetchState->CopyFor(manager), path)(result);
  if (!result) {
    ctx.err << "quillbend-cli: cannot save " << path;
    if (!result.error.empty()) ctx.err << ": " << result.error;
    ctx.err << "\n";
    return false;
  }
  return true;
}

void SaveFetchState(const std::string& path, const CValidatorStore& fetchState) {
  fetchState.Save(CValidatorStore::CachePathFor(path));
}

std::string SourceLine(const std::u16string& title, const std::u16string& commsStatus) {
  return Utf16ToUtf8(title) + ": " + Utf16ToUtf8(commsStatus);
}

std::string SourceLine(const CFeedSource& source) {
  return SourceLine(source.m_title, source.m_commsStatus);
}

}  // namespace qb::cli
