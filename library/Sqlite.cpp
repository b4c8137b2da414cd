#include "library/Sqlite.h"

#include <bit>
#include <cstring>

namespace qb {

namespace {

std::string Describe(sqlite3* db, int code) {
  std::string what = sqlite3_errstr(code);
  if (db != nullptr) {
    const char* detail = sqlite3_errmsg(db);
    if (detail != nullptr && what != detail) what += std::string(": ") + detail;
  }
  return what;
}

// UTF-16 code units as little-endian bytes, and back.
std::string ToLittleEndian(std::u16string_view text) {
  std::string bytes(text.size() * 2, '\0');
  if constexpr (std::endian::native == std::endian::little) {
    if (!text.empty()) std::memcpy(bytes.data(), text.data(), bytes.size());
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
  }
  return bytes;
}

std::u16string FromLittleEndian(const unsigned char* bytes, size_t size) {
  std::u16string text(size / 2, u'\0');
  if constexpr (std::endian::native == std::endian::little) {
    if (!text.empty()) std::memcpy(text.data(), bytes, text.size() * 2);
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
  }
  return text;
}

}  // namespace

CSqliteStatement::CSqliteStatement(sqlite3* db, std::string_view sql) : m_db(db) {
  const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                    &m_stmt, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    throw CSqliteError(rc, Describe(db, rc) + " in: " + std::string(sql.substr(0, 120)));
  }
}

CSqliteStatement& CSqliteStatement::operator=(CSqliteStatement&& o) noexcept {
  if (this != &o) {
    sqlite3_finalize(m_stmt);
    m_db = o.m_db;
    m_stmt = o.m_stmt;
    o.m_stmt = nullptr;
  }
  return *this;
}

CSqliteStatement::~CSqliteStatement() { sqlite3_finalize(m_stmt); }

void CSqliteStatement::Fail(int code) const { throw CSqliteError(code, Describe(m_db, code)); }

CSqliteStatement& CSqliteStatement::Bind(int index, int64_t value) {
  const int rc = sqlite3_bind_int64(m_stmt, index, value);
  if (rc != SQLITE_OK) Fail(rc);
  return *this;
}

CSqliteStatement& CSqliteStatement::Bind(int index, double value) {
  const int rc = sqlite3_bind_double(m_stmt, index, value);
  if (rc != SQLITE_OK) Fail(rc);
  return *this;
}

CSqliteStatement& CSqliteStatement::BindNull(int index) {
  const int rc = sqlite3_bind_null(m_stmt, index);
  if (rc != SQLITE_OK) Fail(rc);
  return *this;
}

CSqliteStatement& CSqliteStatement::Bind(int index, std::u16string_view text) {
  return BindBlob(index, ToLittleEndian(text));
}

CSqliteStatement& CSqliteStatement::BindBlob(int index, std::string_view bytes) {
  // A zero-length BLOB, not NULL, for the empty string.
  const int rc = bytes.empty() ? sqlite3_bind_zeroblob(m_stmt, index, 0)
                               : sqlite3_bind_blob64(m_stmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) Fail(rc);
  return *this;
}

CSqliteStatement& CSqliteStatement::BindText(int index, std::string_view utf8) {
  const int rc = sqlite3_bind_text64(m_stmt, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) Fail(rc);
  return *this;
}

bool CSqliteStatement::Step() {
  const int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(m_stmt);
  Fail(rc);
}

void CSqliteStatement::Run() {
  while (Step()) {
  }
  Reset();
}

void CSqliteStatement::Reset() {
  sqlite3_reset(m_stmt);
  sqlite3_clear_bindings(m_stmt);
}

bool CSqliteStatement::IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

int64_t CSqliteStatement::Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

double CSqliteStatement::Real(int column) const { return sqlite3_column_double(m_stmt, column); }

std::u16string CSqliteStatement::Text16(int column) const {
  // Asked as a BLOB, so that no text encoding conversion touches the bytes.
  const void* data = sqlite3_column_blob(m_stmt, column);
  const int size = sqlite3_column_bytes(m_stmt, column);
  if (data == nullptr || size <= 0) return {};
  return FromLittleEndian(static_cast<const unsigned char*>(data), static_cast<size_t>(size));
}

std::string_view CSqliteStatement::Blob(int column) const {
  const void* data = sqlite3_column_blob(m_stmt, column);
  const int size = sqlite3_column_bytes(m_stmt, column);
  if (data == nullptr || size <= 0) return {};
  return std::string_view(static_cast<const char*>(data), static_cast<size_t>(size));
}

std::string CSqliteStatement::Text(int column) const {
  const unsigned char* data = sqlite3_column_text(m_stmt, column);
  const int size = sqlite3_column_bytes(m_stmt, column);
  if (data == nullptr || size <= 0) return {};
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
}

CSqliteDb& CSqliteDb::operator=(CSqliteDb&& o) noexcept {
  if (this != &o) {
    Close();
    m_db = o.m_db;
    m_statements = std::move(o.m_statements);
    m_literals = std::move(o.m_literals);
    o.m_db = nullptr;
  }
  return *this;
}

CSqliteStatement& CSqliteDb::Statement(std::string_view sql) {
  std::unique_ptr<CSqliteStatement>& s = m_statements[std::string(sql)];
  if (!s) {
    s = std::make_unique<CSqliteStatement>(m_db, sql);
  } else {
    s->Reset();
  }
  return *s;
}

void CSqliteDb::Open(const std::string& path, int flags) {
  Close();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const int code = db != nullptr ? sqlite3_extended_errcode(db) : rc;
    const std::string what = Describe(db, code);
    sqlite3_close_v2(db);
    throw CSqliteError(code, what);
  }
  sqlite3_extended_result_codes(db, 1);
  m_db = db;
}

void CSqliteDb::Close() {
  m_literals.clear();
  m_statements.clear();
  if (m_db == nullptr) return;
  // Statements are finalised by their owners first; _v2 keeps the handle
  // alive until the last of them is, instead of failing.
  sqlite3_close_v2(m_db);
  m_db = nullptr;
}

void CSqliteDb::Exec(std::string_view sql) {
  const std::string text(sql);
  char* error = nullptr;
  const int rc = sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string what = error != nullptr ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw CSqliteError(sqlite3_extended_errcode(m_db), what);
  }
}

int64_t CSqliteDb::QueryInt(std::string_view sql, int64_t fallback) {
  CSqliteStatement s = Prepare(sql);
  return s.Step() ? s.Int(0) : fallback;
}

CSqliteTransaction::CSqliteTransaction(CSqliteDb& db, bool immediate) : m_db(db) {
  if (m_db.InTransaction()) {
    m_open = false;  // part of the transaction already open
    return;
  }
  m_db.Exec(immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

CSqliteTransaction::~CSqliteTransaction() {
  if (!m_open || !m_db.InTransaction()) return;
  // A rollback that fails leaves nothing to do: SQLite rolls back a
  // transaction that is never committed when the connection closes.
  sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void CSqliteTransaction::Commit() {
  if (!m_open) return;
  m_db.Exec("COMMIT");
  m_open = false;
}

}  // namespace qb
