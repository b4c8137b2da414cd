#include "tools/UserData.h"

#include "model/DataFile.h"
#include "model/Text.h"

namespace qb::cli {

std::string UserDataPath(const CliContext& ctx) {
  return ctx.dataFile ? *ctx.dataFile : GetDataFilePath();
}

namespace {

bool Load(CliContext& ctx, CFeedsManager& manager, const std::string& path, CValidatorStore* fetchState,
          bool readOnly) {
  manager.SetClock(ctx.clock);
  manager.SeedRandom(static_cast<uint32_t>(manager.Clock().CurrentTime()));
  // The file must be the same before and after the read for the fetch state
  // saved with it to describe what was read.
  const DataFileFingerprint before = DataFileFingerprint::Of(path);
  LoadOptions options;
  options.readOnly = readOnly;
  const LoadOutcome outcome = LoadDataFile(manager, path, options);
  if (fetchState != nullptr) {
    const bool whole = outcome.ok() && before == DataFileFingerprint::Of(path);
    fetchState->Load(CValidatorStore::CachePathFor(path), before, whole);
  }
  if (outcome.complete()) return true;
  if (!outcome.message.empty()) ctx.err << Utf16ToUtf8(outcome.message) << "\n";
  if (!outcome.detail.empty()) ctx.err << "quillbend-cli: " << outcome.detail << "\n";
  ctx.err << "quillbend-cli: " << UnreadableFileNote(outcome, path) << "\n";
  return !outcome.openFailed && outcome.keptAside != KeptAside::Failed;
}

}  // namespace

bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path,
                  CValidatorStore* fetchState) {
  return Load(ctx, manager, path, fetchState, false);
}

bool ReadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path) {
  return Load(ctx, manager, path, nullptr, true);
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
