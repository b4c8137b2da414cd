#include "tools/JsonReader.h"

#include <limits>

#include "base/Text.h"

namespace qb::cli {

namespace {

// Arrays and objects nest at most this deep, so hostile input cannot
// exhaust the stack.
constexpr int kMaxDepth = 512;

class Reader {
 public:
  explicit Reader(std::string_view text) : m_text(text) {}

  std::optional<JsonValue> Document(std::string& error) {
    std::optional<JsonValue> v = Value(0);
    if (v) {
      SkipSpace();
      if (m_pos != m_text.size()) v = Fail("unexpected text after the value");
    }
    if (!v) error = m_error + " at byte " + std::to_string(m_errorPos);
    return v;
  }

 private:
  std::nullopt_t Fail(const std::string& what) {
    if (m_error.empty()) {
      m_error = what;
      m_errorPos = m_pos;
    }
    return std::nullopt;
  }

  void SkipSpace() {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                     m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
      ++m_pos;
    }
  }

  bool Literal(std::string_view word) {
    if (m_text.substr(m_pos, word.size()) != word) return false;
    m_pos += word.size();
    return true;
  }

  std::optional<JsonValue> Value(int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    SkipSpace();
    if (m_pos >= m_text.size()) return Fail("unexpected end of text");
    const char c = m_text[m_pos];
    if (c == '{') return Object(depth);
    if (c == '[') return Array(depth);
    if (c == '"') {
      std::optional<std::u16string> s = String();
      if (!s) return std::nullopt;
      return JsonValue(std::move(*s));
    }
    if (c == '-' || (c >= '0' && c <= '9')) return Number();
    if (Literal("true")) return JsonValue(true);
    if (Literal("false")) return JsonValue(false);
    if (Literal("null")) return Fail("null is not accepted");
    return Fail("unexpected character");
  }

  std::optional<JsonValue> Number() {
    const bool negative = m_text[m_pos] == '-';
    if (negative) ++m_pos;
    const size_t start = m_pos;
    uint64_t magnitude = 0;
    while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') {
      magnitude = magnitude * 10 + static_cast<uint64_t>(m_text[m_pos] - '0');
      if (magnitude > (uint64_t{1} << 62)) return Fail("number out of range");
      ++m_pos;
    }
    if (m_pos == start) return Fail("a digit was expected");
    if (m_pos - start > 1 && m_text[start] == '0') return Fail("leading zero");
    if (m_pos < m_text.size() &&
        (m_text[m_pos] == '.' || m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
      return Fail("only integers are accepted");
    }
    const int64_t v = static_cast<int64_t>(magnitude);
    return JsonValue(negative ? -v : v);
  }

  std::optional<unsigned> Hex4() {
    if (m_text.size() - m_pos < 4) return std::nullopt;
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = m_text[m_pos++];
      v <<= 4;
      if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
      else return std::nullopt;
    }
    return v;
  }

  std::optional<std::u16string> String() {
    ++m_pos;  // the opening quote
    std::u16string out;
    size_t runStart = m_pos;
    auto flushRun = [&] {
      out += Utf8ToUtf16(m_text.substr(runStart, m_pos - runStart));
    };
    while (true) {
      if (m_pos >= m_text.size()) {
        Fail("unterminated string");
        return std::nullopt;
      }
      const unsigned char c = static_cast<unsigned char>(m_text[m_pos]);
      if (c == '"') {
        flushRun();
        ++m_pos;
        return out;
      }
      if (c < 0x20) {
        Fail("control character in a string");
        return std::nullopt;
      }
      if (c != '\\') {
        ++m_pos;
        continue;
      }
      flushRun();
      ++m_pos;
      if (m_pos >= m_text.size()) {
        Fail("unterminated string");
        return std::nullopt;
      }
      const char e = m_text[m_pos++];
      switch (e) {
        case '"': out += u'"'; break;
        case '\\': out += u'\\'; break;
        case '/': out += u'/'; break;
        case 'b': out += u'\b'; break;
        case 'f': out += u'\f'; break;
        case 'n': out += u'\n'; break;
        case 'r': out += u'\r'; break;
        case 't': out += u'\t'; break;
        case 'u': {
          std::optional<unsigned> unit = Hex4();
          if (!unit) {
            Fail("bad \\u escape");
            return std::nullopt;
          }
          out += static_cast<char16_t>(*unit);
          break;
        }
        default:
          --m_pos;
          Fail("bad escape");
          return std::nullopt;
      }
      runStart = m_pos;
    }
  }

  std::optional<JsonValue> Array(int depth) {
    ++m_pos;
    JsonArray items;
    SkipSpace();
    if (m_pos < m_text.size() && m_text[m_pos] == ']') {
      ++m_pos;
      return JsonValue(std::move(items));
    }
    while (true) {
      std::optional<JsonValue> v = Value(depth + 1);
      if (!v) return std::nullopt;
      items.push_back(std::move(*v));
      SkipSpace();
      if (m_pos < m_text.size() && m_text[m_pos] == ',') {
        ++m_pos;
        continue;
      }
      if (m_pos < m_text.size() && m_text[m_pos] == ']') {
        ++m_pos;
        return JsonValue(std::move(items));
      }
      return Fail("',' or ']' expected");
    }
  }

  std::optional<JsonValue> Object(int depth) {
    ++m_pos;
    JsonObject members;
    SkipSpace();
    if (m_pos < m_text.size() && m_text[m_pos] == '}') {
      ++m_pos;
      return JsonValue(std::move(members));
    }
    while (true) {
      SkipSpace();
      if (m_pos >= m_text.size() || m_text[m_pos] != '"') return Fail("a key was expected");
      std::optional<std::u16string> key = String();
      if (!key) return std::nullopt;
      SkipSpace();
      if (m_pos >= m_text.size() || m_text[m_pos] != ':') return Fail("':' expected");
      ++m_pos;
      std::optional<JsonValue> v = Value(depth + 1);
      if (!v) return std::nullopt;
      if (!members.emplace(std::move(*key), std::move(*v)).second) {
        return Fail("a key occurs twice");
      }
      SkipSpace();
      if (m_pos < m_text.size() && m_text[m_pos] == ',') {
        ++m_pos;
        continue;
      }
      if (m_pos < m_text.size() && m_text[m_pos] == '}') {
        ++m_pos;
        return JsonValue(std::move(members));
      }
      return Fail("',' or '}' expected");
    }
  }

  std::string_view m_text;
  size_t m_pos = 0;
  std::string m_error;
  size_t m_errorPos = 0;
};

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text, std::string& error) {
  return Reader(text).Document(error);
}

}  // namespace qb::cli
