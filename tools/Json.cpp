#include "tools/Json.h"

namespace qb::cli {

void WriteJsonString(std::u16string_view s, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char16_t c : s) {
    switch (c) {
      case u'"': out += "\\\""; continue;
      case u'\\': out += "\\\\"; continue;
      case 0x08: out += "\\b"; continue;
      case 0x09: out += "\\t"; continue;
      case 0x0A: out += "\\n"; continue;
      case 0x0C: out += "\\f"; continue;
      case 0x0D: out += "\\r"; continue;
      default: break;
    }
    if (c < 0x20 || c >= 0x7F) {
      out += "\\u";
      out.push_back(kHex[(c >> 12) & 0xF]);
      out.push_back(kHex[(c >> 8) & 0xF]);
      out.push_back(kHex[(c >> 4) & 0xF]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
}

void JsonValue::Write(std::string& out) const {
  if (const bool* b = std::get_if<bool>(&m_v)) {
    out += *b ? "true" : "false";
  } else if (const int64_t* i = std::get_if<int64_t>(&m_v)) {
    out += std::to_string(*i);
  } else if (const std::u16string* s = std::get_if<std::u16string>(&m_v)) {
    WriteJsonString(*s, out);
  } else if (const JsonObject* o = std::get_if<JsonObject>(&m_v)) {
    out.push_back('{');
    bool first = true;
    for (const auto& [key, value] : *o) {
      if (!first) out.push_back(',');
      first = false;
      WriteJsonString(key, out);
      out.push_back(':');
      value.Write(out);
    }
    out.push_back('}');
  } else if (const JsonArray* a = std::get_if<JsonArray>(&m_v)) {
    out.push_back('[');
    for (size_t k = 0; k < a->size(); ++k) {
      if (k != 0) out.push_back(',');
      (*a)[k].Write(out);
    }
    out.push_back(']');
  }
}

JsonValue DateToJson(const CDateTime& date) {
  DateFields f;
  if (!date.GetFields(f)) return JsonObject{{u"status", u"invalid"}};
  return JsonObject{{u"H", f.hour},  {u"M", f.minute}, {u"S", f.second},      {u"d", f.day},
                    {u"m", f.month}, {u"y", f.year},   {u"status", u"valid"}};
}

}  // namespace qb::cli
