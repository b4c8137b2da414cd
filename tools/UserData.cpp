#include "tools/UserData.h"

#include "model/DataFile.h"
#include "model/Text.h"

namespace qb::cli {

std::string UserDataPath(const CliContext& ctx) {
  return ctx.dataFile ? *ctx.dataFile : GetDataFilePath();
}

bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path, bool willSave) {
  manager.SetClock(ctx.clock);
  manager.SeedRandom(static_cast<uint32_t>(manager.Clock().CurrentTime()));
  LoadOptions options;
  options.readOnly = !willSave;
  const LoadOutcome outcome = LoadDataFile(manager, path, options);
  if (outcome.complete()) return true;
  if (!outcome.message.empty()) ctx.err << Utf16ToUtf8(outcome.message) << "\n";
  if (!outcome.detail.empty()) ctx.err << "quillbend-cli: " << outcome.detail << "\n";
  ctx.err << "quillbend-cli: " << UnreadableFileNote(outcome, path) << "\n";
  return !outcome.openFailed && outcome.keptAside != KeptAside::Failed;
}

bool SaveUserData(CliContext& ctx, const CFeedsManager& manager, const std::string& path) {
  const SaveResult result = SaveDataFile(manager, path);
  if (!result) {
    ctx.err << "quillbend-cli: cannot save " << path;
    if (!result.error.empty()) ctx.err << ": " << result.error;
    ctx.err << "\n";
  }
  return result.ok;
}

std::string SourceLine(const CFeedSource& source) {
  return Utf16ToUtf8(source.m_title) + ": " + Utf16ToUtf8(source.m_commsStatus);
}

}  // namespace qb::cli
