#include "tools/ModelJson.h"

#include <limits>
#include <set>

#include "base/Text.h"
#include "model/ModelWriter.h"

namespace qb::cli {

namespace {

JsonValue IdsToJson(const IdList& ids) {
  JsonArray a;
  a.reserve(ids.size());
  for (ObjectId id : ids) a.emplace_back(id);
  return a;
}

JsonValue ToJson(const std::u16string& v) { return v; }
JsonValue ToJson(bool v) { return v; }
JsonValue ToJson(int32_t v) { return int{v}; }
JsonValue ToJson(uint8_t v) { return int{v}; }
JsonValue ToJson(ObjectId v) { return v; }
JsonValue ToJson(const CDateTime& v) { return DateToJson(v); }
JsonValue ToJson(const IdList& v) { return IdsToJson(v); }
JsonValue ToJson(const SharedText& v) { return v.str(); }
JsonValue ToJson(const std::map<std::u16string, HistoryEntry>& history) {
  JsonArray out;
  for (const auto& [key, entry] : history) {
    out.emplace_back(
        JsonObject{{u"articleId", entry.articleId}, {u"firstSeen", DateToJson(entry.firstSeen)}, {u"key", key}});
  }
  return out;
}
// A record as its field table names its members.
template <class Record, class Table>
JsonValue RecordToJson(ObjectId id, const char16_t* type, const Record& record, const Table& table) {
  JsonObject out{{u"id", id}, {u"type", type}};
  ForEachField(table, [&](const auto& field) {
    // (Members the JSON leaves out, such as the identifier and the reserved
    // map, have no name and no conversion.)
    if constexpr (requires { ToJson(record.*field.member); }) {
      if (field.json != nullptr) out.emplace(Utf8ToUtf16(field.json), ToJson(record.*field.member));
    }
  });
  return out;
}

// --- reading

std::string Narrow(std::u16string_view s) { return Utf16ToUtf8(s); }

// Reads the members of one JSON object, remembering which were used so that
// an unknown key can be reported.
class Fields {
 public:
  Fields(const JsonObject& object, std::string where, std::string& error)
      : m_object(object), m_where(std::move(where)), m_error(error) {}

  bool Fail(const std::string& what) {
    if (m_error.empty()) m_error = m_where + ": " + what;
    return false;
  }

  const JsonValue* Find(const char16_t* key) {
    m_used.insert(key);
    auto it = m_object.find(key);
    return it == m_object.end() ? nullptr : &it->second;
  }

  bool String(const char16_t* key, std::u16string& out) {
    const JsonValue* v = Find(key);
    if (v == nullptr) return true;
    const auto* s = std::get_if<std::u16string>(&v->value());
    if (s == nullptr) return Fail("\"" + Narrow(key) + "\" must be a string");
    out = *s;
    return true;
  }

  bool Bool(const char16_t* key, bool& out) {
    const JsonValue* v = Find(key);
    if (v == nullptr) return true;
    const auto* b = std::get_if<bool>(&v->value());
    if (b == nullptr) return Fail("\"" + Narrow(key) + "\" must be true or false");
    out = *b;
    return true;
  }

  template <typename T>
  bool Integer(const char16_t* key, T& out) {
    const JsonValue* v = Find(key);
    if (v == nullptr) return true;
    return IntegerValue(*v, "\"" + Narrow(key) + "\"", out);
  }

  template <typename T>
  bool IntegerValue(const JsonValue& v, const std::string& what, T& out) {
    const auto* i = std::get_if<int64_t>(&v.value());
    if (i == nullptr || *i < std::numeric_limits<T>::min() || *i > std::numeric_limits<T>::max()) {
      return Fail(what + " must be an integer from " +
                  std::to_string(std::numeric_limits<T>::min()) + " to " +
                  std::to_string(std::numeric_limits<T>::max()));
    }
    out = static_cast<T>(*i);
    return true;
  }

  bool Ids(const char16_t* key, IdList& out) {
    const JsonValue* v = Find(key);
    if (v == nullptr) return true;
    const auto* a = std::get_if<JsonArray>(&v->value());
    if (a == nullptr) return Fail("\"" + Narrow(key) + "\" must be an array of identifiers");
    out.clear();
    for (const JsonValue& item : *a) {
      ObjectId id = 0;
      if (!IntegerValue(item, "each of \"" + Narrow(key) + "\"", id)) return false;
      out.push_back(id);
    }
    return true;
  }

  bool Date(const char16_t* key, CDateTime& out) {
    const JsonValue* v = Find(key);
    if (v == nullptr) return true;
    return DateValue(*v, "\"" + Narrow(key) + "\"", out);
  }

  bool DateValue(const JsonValue& v, const std::string& what, CDateTime& out) {
    const auto* o = std::get_if<JsonObject>(&v.value());
    if (o == nullptr) return Fail(what + " must be a date object");
    Fields date(*o, m_where + ", " + what, m_error);
    std::u16string status;
    if (!date.String(u"status", status)) return false;
    if (status == u"invalid") {
      out = CDateTime::Invalid();
      return date.NoOthers();
    }
    if (status != u"valid") return date.Fail("\"status\" must be \"valid\" or \"invalid\"");
    DateFields f;
    const std::pair<const char16_t*, int32_t*> parts[] = {
        {u"y", &f.year}, {u"m", &f.month}, {u"d", &f.day},
        {u"H", &f.hour}, {u"M", &f.minute}, {u"S", &f.second}};
    for (const auto& [name, field] : parts) {
      if (date.Find(name) == nullptr) return date.Fail("\"" + Narrow(name) + "\" is missing");
      if (!date.Integer(name, *field)) return false;
    }
    out = CDateTime::FromFields(f);
    if (!out.IsValid()) return date.Fail("not a real date and time");
    return date.NoOthers();
  }

  // False when the object has a key nobody asked for.
  bool NoOthers() {
    for (const auto& [key, value] : m_object) {
      if (m_used.count(key) == 0) return Fail("unknown key \"" + Narrow(key) + "\"");
    }
    return true;
  }

  const std::string& where() const { return m_where; }

 private:
  const JsonObject& m_object;
  std::string m_where;
  std::string& m_error;
  std::set<std::u16string> m_used;
};

bool FromJson(Fields& f, const std::u16string& name, std::u16string& v, std::string&) { return f.String(name.c_str(), v); }
bool FromJson(Fields& f, const std::u16string& name, bool& v, std::string&) { return f.Bool(name.c_str(), v); }
bool FromJson(Fields& f, const std::u16string& name, int32_t& v, std::string&) { return f.Integer(name.c_str(), v); }
bool FromJson(Fields& f, const std::u16string& name, uint8_t& v, std::string&) { return f.Integer(name.c_str(), v); }
bool FromJson(Fields& f, const std::u16string& name, CDateTime& v, std::string&) { return f.Date(name.c_str(), v); }
bool FromJson(Fields& f, const std::u16string& name, IdList& v, std::string&) { return f.Ids(name.c_str(), v); }
bool FromJson(Fields& f, const std::u16string& name, SharedText& v, std::string&) {
  std::u16string text;
  if (!f.String(name.c_str(), text)) return false;
  v = SharedText(std::move(text));
  return true;
}
bool FromJson(Fields& f, const std::u16string& name, std::map<std::u16string, HistoryEntry>& history,
              std::string& error) {
  const JsonValue* v = f.Find(name.c_str());
  if (v == nullptr) return true;
  const auto* a = std::get_if<JsonArray>(&v->value());
  if (a == nullptr) return f.Fail("\"history\" must be an array");
  for (size_t i = 0; i < a->size(); ++i) {
    const auto* o = std::get_if<JsonObject>(&(*a)[i].value());
    if (o == nullptr) return f.Fail("each history entry must be an object");
    Fields e(*o, f.where() + ", history entry " + std::to_string(i), error);
    std::u16string key;
    HistoryEntry entry;
    if (!e.String(u"key", key) || !e.Integer(u"articleId", entry.articleId) ||
        !e.Date(u"firstSeen", entry.firstSeen) || !e.NoOthers()) {
      return false;
    }
    if (!history.emplace(std::move(key), entry).second) return e.Fail("the key occurs twice in the history");
  }
  return true;
}

// The members the record's field table names, in its order (the first
// fault found is the one reported).
template <class Record, class Table>
bool ReadRecord(Fields& f, Record& record, const Table& table, std::string& error) {
  bool ok = true;
  ForEachField(table, [&](const auto& field) {
    if constexpr (requires { FromJson(f, std::u16string(), record.*field.member, error); }) {
      if (ok && field.json != nullptr) ok = FromJson(f, Utf8ToUtf16(field.json), record.*field.member, error);
    }
  });
  return ok;
}

}  // namespace

JsonValue ModelToJson(const CFeedsManager& manager) {
  JsonArray records;
  for (const auto& [id, record] : manager.Storage().IdIndex()) {
    if (const auto* g = dynamic_cast<const CGroup*>(record)) {
      records.push_back(RecordToJson(id, u"group", *g, kGroupFieldTable));
    } else if (const auto* s = dynamic_cast<const CFeedSource*>(record)) {
      records.push_back(RecordToJson(id, u"source", *s, kSourceFieldTable));
    } else if (const auto* a = dynamic_cast<const CFeed*>(record)) {
      records.push_back(RecordToJson(id, u"article", *a, kArticleFieldTable));
    }
  }
  return JsonObject{{u"records", std::move(records)}, {u"rootGroups", IdsToJson(manager.RootGroups())}};
}

bool JsonToModel(const JsonValue& json, CFeedsManager& manager, std::string& error) {
  const auto* top = std::get_if<JsonObject>(&json.value());
  if (top == nullptr) {
    error = "the model must be a JSON object";
    return false;
  }
  // A whole dump output: its "model" is the model.
  if (auto it = top->find(u"model"); it != top->end()) {
    Fields dump(*top, "dump output", error);
    dump.Find(u"model");
    std::u16string outcome;
    if (!dump.String(u"outcome", outcome) || !dump.NoOthers()) return false;
    return JsonToModel(it->second, manager, error);
  }

  Fields model(*top, "model", error);
  if (!model.Ids(u"rootGroups", CModelWriter(manager).RootGroups())) return false;
  const JsonValue* records = model.Find(u"records");
  if (!model.NoOthers()) return false;
  if (records == nullptr) return true;
  const auto* list = std::get_if<JsonArray>(&records->value());
  if (list == nullptr) return model.Fail("\"records\" must be an array");

  for (size_t i = 0; i < list->size(); ++i) {
    const auto* o = std::get_if<JsonObject>(&(*list)[i].value());
    if (o == nullptr) return model.Fail("each record must be an object");
    Fields f(*o, "record " + std::to_string(i), error);
    std::u16string type;
    if (!f.String(u"type", type)) return false;
    if (f.Find(u"id") == nullptr) return f.Fail("\"id\" is missing");
    ObjectId id = 0;
    if (!f.Integer(u"id", id)) return false;
    if (manager.Storage().IdIndex().count(id) != 0) {
      return f.Fail("identifier " + std::to_string(id) + " occurs twice");
    }

    std::unique_ptr<RSSObject> record;
    bool ok = false;
    if (type == u"group") {
      auto g = std::make_unique<CGroup>();
      ok = ReadRecord(f, *g, kGroupFieldTable, error);
      record = std::move(g);
    } else if (type == u"source") {
      auto s = std::make_unique<CFeedSource>();
      ok = ReadRecord(f, *s, kSourceFieldTable, error);
      s->RebuildHistoryIndex();
      record = std::move(s);
    } else if (type == u"article") {
      auto a = std::make_unique<CFeed>();
      ok = ReadRecord(f, *a, kArticleFieldTable, error);
      record = std::move(a);
    } else {
      return f.Fail("\"type\" must be \"group\", \"source\" or \"article\"");
    }
    if (!ok || !f.NoOthers()) return false;
    record->m_id = id;
    CModelWriter(manager).Storage().Register(std::move(record), id);
  }
  return true;
}

}  // namespace qb::cli
