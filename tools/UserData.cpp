#include "tools/UserData.h"

#include <sys/stat.h>

#include "base/Text.h"
#include "classic/DataFile.h"

namespace qb::cli {

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void Seed(CliContext& ctx, CFeedsManager& manager) {
  manager.SetClock(ctx.clock);
  manager.SeedRandom(static_cast<uint32_t>(manager.Clock().CurrentTime()));
}

bool LoadDataFileFor(CliContext& ctx, CFeedsManager& manager, const std::string& path, CValidatorStore* fetchState,
                     bool readOnly) {
  Seed(ctx, manager);
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

// Opens the library, importing the classic data file on the first start,
// and says on ctx.err what the user must know. False when there is no
// library to work on.
bool OpenLibrary(CliContext& ctx, CUserDataSession& session, const std::string& path, bool readOnly) {
  LibraryOpenOptions options;
  // Even a reading command makes the library on the first start, so the
  // window and every command find the same one.
  options.readOnly = readOnly && Exists(path);
  options.importFrom = GetDataFilePath();
  if (!Exists(path)) options.importUpdateStates = CValidatorStore::CarryIntoLibrary(options.importFrom);
  const LibraryOpenOutcome out = session.library.Open(path, options);
  if (!out.importNotice.empty()) ctx.err << "quillbend-cli: " << Utf16ToUtf8(out.importNotice) << "\n";
  if (out.imported && out.import.repaired()) ctx.err << "quillbend-cli: " << out.import.RepairNote() << "\n";
  if (out.imported && !out.import.validatorsDropped.empty()) {
    ctx.err << "quillbend-cli: the feeds' update state was taken over without validators, as "
            << out.import.validatorsDropped << "; the next update fetches whole documents\n";
  }
  if (out.imported && !out.import.load.complete()) {
    ctx.err << "quillbend-cli: " << UnreadableFileNote(out.import.load, options.importFrom) << "\n";
  }
  if (!out.message.empty()) ctx.err << "quillbend-cli: " << Utf16ToUtf8(out.message) << "\n";
  if (!out.opened) {
    if (!out.detail.empty()) ctx.err << "quillbend-cli: " << out.detail << "\n";
    return false;
  }
  return true;
}

bool LoadLibraryFor(CliContext& ctx, CFeedsManager& manager, const std::string& path, CValidatorStore* fetchState,
                    bool readOnly) {
  Seed(ctx, manager);
  auto session = std::make_shared<CUserDataSession>();
  if (!OpenLibrary(ctx, *session, path, readOnly)) return false;
  if (!readOnly && !session->library.Writable()) return false;
  session->load = session->library.Load(manager, readOnly ? CLibrary::LoadScope::Tree : CLibrary::LoadScope::Everything);
  if (!session->load.ok) {
    ctx.err << "quillbend-cli: the library could not be read: " << session->load.error << "\n";
    return false;
  }
  if (fetchState != nullptr) {
    std::vector<LibraryUpdateState> stored;
    session->library.ReadUpdateStates(stored);
    fetchState->Replace(stored);
  }
  if (!readOnly) session->sync = std::make_unique<CLibraryLink>(manager, session->library, &session->load);
  ctx.session = std::move(session);
  return true;
}

}  // namespace

std::string UserDataPath(const CliContext& ctx) { return ctx.dataFile ? *ctx.dataFile : GetLibraryPath(); }

bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path, CValidatorStore* fetchState) {
  return UsesLibrary(ctx) ? LoadLibraryFor(ctx, manager, path, fetchState, false)
                          : LoadDataFileFor(ctx, manager, path, fetchState, false);
}

bool ReadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path) {
  return UsesLibrary(ctx) ? LoadLibraryFor(ctx, manager, path, nullptr, true)
                          : LoadDataFileFor(ctx, manager, path, nullptr, true);
}

bool SaveUserData(CliContext& ctx, const CFeedsManager& manager, const std::string& path,
                  CValidatorStore* fetchState) {
  if (UsesLibrary(ctx)) {
    CUserDataSession* session = ctx.session.get();
    if (session == nullptr || !session->sync) {
      ctx.err << "quillbend-cli: the library is not open for writing\n";
      return false;
    }
    // What the command changed of the state goes in the transaction of its
    // rows.
    session->sync->SetUpdateStates(fetchState);
    const LibraryFlushReport report = session->sync->FlushAndWait();
    session->sync->SetUpdateStates(nullptr);
    if (report.failure || report.pending || report.collisions > 0) {
      ctx.err << "quillbend-cli: cannot save to " << path;
      if (report.failure) {
        ctx.err << ": " << *report.failure;
      } else if (report.collisions > 0) {
        ctx.err << ": " << report.collisions
                << " new records were not stored, as another process had stored records under their identifiers";
      }
      ctx.err << "\n";
      return false;
    }
    session->sync.reset();
    return true;
  }
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
  return TerminalText(title) + ": " + TerminalText(commsStatus);
}

std::string SourceLine(const CFeedSource& source) {
  return SourceLine(source.m_title, source.m_commsStatus);
}

}  // namespace qb::cli
