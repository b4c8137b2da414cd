// A thin layer over SQLite's C API for the library: a connection, its
// prepared statements, and the one exception type the library code raises
// inside itself (CLibrary catches it at its public functions and returns
// the failure as a value, the way the data file's archive does).
//
// Strings are stored exactly, as BLOBs of UTF-16LE code units: lone
// surrogates and NULs come back as they went in. An empty string is a
// zero-length BLOB, never NULL. A BLOB of an odd number of bytes (only a
// damaged file holds one) reads without its last byte.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <string>
#include <string_view>

namespace qb {

class CSqliteError : public std::runtime_error {
 public:
  CSqliteError(int code, const std::string& what) : std::runtime_error(what), m_code(code) {}
  // The SQLite result code (SQLITE_BUSY, SQLITE_CORRUPT, ...).
  int Code() const { return m_code; }
  // The primary code, without the extended bits.
  int Primary() const { return m_code & 0xFF; }
  // The file is no database, or its pages do not make one.
  bool IsDamage() const { return Primary() == SQLITE_CORRUPT || Primary() == SQLITE_NOTADB; }

 private:
  int m_code;
};

class CSqliteStatement {
 public:
  CSqliteStatement() = default;
  CSqliteStatement(sqlite3* db, std::string_view sql);  // throws CSqliteError
  CSqliteStatement(CSqliteStatement&& o) noexcept : m_db(o.m_db), m_stmt(o.m_stmt) { o.m_stmt = nullptr; }
  CSqliteStatement& operator=(CSqliteStatement&& o) noexcept;
  CSqliteStatement(const CSqliteStatement&) = delete;
  CSqliteStatement& operator=(const CSqliteStatement&) = delete;
  ~CSqliteStatement();

  bool valid() const { return m_stmt != nullptr; }
  sqlite3_stmt* handle() const { return m_stmt; }

  // Parameters are numbered from 1. Text and BLOB values are copied.
  CSqliteStatement& Bind(int index, int64_t value);
  CSqliteStatement& Bind(int index, double value);
  CSqliteStatement& BindNull(int index);
  // UTF-16 code units as a BLOB of UTF-16LE bytes.
  CSqliteStatement& Bind(int index, std::u16string_view text);
  CSqliteStatement& BindBlob(int index, std::string_view bytes);
  // UTF-8 as TEXT (for the search index).
  CSqliteStatement& BindText(int index, std::string_view utf8);

  // True while a row is there; false when done. Throws on failure.
  bool Step();
  // Runs a statement that returns no rows, then resets it.
  void Run();
  // Ready to run again; the bindings are cleared.
  void Reset();

  // Columns are numbered from 0.
  bool IsNull(int column) const;
  int64_t Int(int column) const;
  double Real(int column) const;
  std::u16string Text16(int column) const;
  std::string_view Blob(int column) const;
  std::string Text(int column) const;

 private:
  [[noreturn]] void Fail(int code) const;
  sqlite3* m_db = nullptr;
  sqlite3_stmt* m_stmt = nullptr;
};

class CSqliteDb {
 public:
  CSqliteDb() = default;
  CSqliteDb(CSqliteDb&& o) noexcept
      : m_db(o.m_db), m_statements(std::move(o.m_statements)), m_literals(std::move(o.m_literals)) {
    o.m_db = nullptr;
  }
  CSqliteDb& operator=(CSqliteDb&& o) noexcept;
  CSqliteDb(const CSqliteDb&) = delete;
  CSqliteDb& operator=(const CSqliteDb&) = delete;
  ~CSqliteDb() { Close(); }

  // Opens (SQLITE_OPEN_* flags; extended result codes on). Throws on
  // failure, with nothing left open.
  void Open(const std::string& path, int flags);
  void Close();
  bool IsOpen() const { return m_db != nullptr; }
  sqlite3* handle() const { return m_db; }

  // Runs one or more statements that return nothing of interest.
  void Exec(std::string_view sql);
  CSqliteStatement Prepare(std::string_view sql) { return CSqliteStatement(m_db, sql); }
  // A statement prepared once per connection and kept, reset and with its
  // bindings cleared. Valid until the connection closes.
  CSqliteStatement& Statement(std::string_view sql);
  // The same for a string literal, found again by its address: the
  // statements a writer runs once per row cost no hashing of their text.
  template <size_t N>
  CSqliteStatement& Statement(const char (&sql)[N]) {
    auto it = m_literals.find(sql);
    if (it != m_literals.end()) {
      it->second->Reset();
      return *it->second;
    }
    CSqliteStatement& s = Statement(std::string_view(sql, N - 1));
    m_literals.emplace(sql, &s);
    return s;
  }
  // The first column of the first row as an integer; `fallback` when there
  // is no row.
  int64_t QueryInt(std::string_view sql, int64_t fallback = 0);

  int64_t LastInsertRowid() const { return sqlite3_last_insert_rowid(m_db); }
  int Changes() const { return sqlite3_changes(m_db); }
  bool InTransaction() const { return m_db != nullptr && sqlite3_get_autocommit(m_db) == 0; }

 private:
  sqlite3* m_db = nullptr;
  std::unordered_map<std::string, std::unique_ptr<CSqliteStatement>> m_statements;
  std::unordered_map<const char*, CSqliteStatement*> m_literals;
};

// Rolls back the transaction it began unless Commit is called; the only way
// the library opens a transaction, so an exception never leaves one open.
// Made while a transaction is open already, it joins it: its Commit and
// its end do nothing, and the outer one decides.
class CSqliteTransaction {
 public:
  // `immediate`: take the write lock at once (BEGIN IMMEDIATE), so that the
  // busy timeout, not a failed upgrade, decides what happens when another
  // process is writing.
  CSqliteTransaction(CSqliteDb& db, bool immediate);
  ~CSqliteTransaction();
  CSqliteTransaction(const CSqliteTransaction&) = delete;
  CSqliteTransaction& operator=(const CSqliteTransaction&) = delete;
  void Commit();

 private:
  CSqliteDb& m_db;
  bool m_open = true;
};

}  // namespace qb
