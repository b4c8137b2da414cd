// Canonical JSON for quillbend-cli: no white space, object keys sorted by
// UTF-16 code units, strings escaped one UTF-16 code unit at a time so the
// output is pure ASCII.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "base/DateTime.h"

namespace qb::cli {

class JsonValue;
using JsonObject = std::map<std::u16string, JsonValue>;  // ordinal UTF-16 order
using JsonArray = std::vector<JsonValue>;

class JsonValue {
 public:
  JsonValue() : m_v(JsonObject{}) {}
  JsonValue(bool b) : m_v(b) {}  // NOLINT
  JsonValue(int v) : m_v(int64_t{v}) {}  // NOLINT
  JsonValue(int64_t v) : m_v(v) {}  // NOLINT
  JsonValue(uint32_t v) : m_v(int64_t{v}) {}  // NOLINT
  JsonValue(std::u16string s) : m_v(std::move(s)) {}  // NOLINT
  JsonValue(const char16_t* s) : m_v(std::u16string(s)) {}  // NOLINT
  JsonValue(JsonObject o) : m_v(std::move(o)) {}  // NOLINT
  JsonValue(JsonArray a) : m_v(std::move(a)) {}  // NOLINT

  // Appends the canonical text.
  void Write(std::string& out) const;
  std::string ToString() const {
    std::string s;
    Write(s);
    return s;
  }

  const std::variant<bool, int64_t, std::u16string, JsonObject, JsonArray>& value() const {
    return m_v;
  }

 private:
  std::variant<bool, int64_t, std::u16string, JsonObject, JsonArray> m_v;
};

void WriteJsonString(std::u16string_view s, std::string& out);

// {"status":"invalid"} or {"H":..,"M":..,"S":..,"d":..,"m":..,"status":"valid","y":..}.
JsonValue DateToJson(const CDateTime& date);

}  // namespace qb::cli
