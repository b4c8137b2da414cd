#include "opml/Opml.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "formats/Markup.h"
#include "model/FeedsManager.h"
#include "model/TreeOrder.h"

namespace qb {

namespace {

// Code unit for code unit: QString::fromStdU16String would take a leading
// U+FEFF for a byte-order mark and drop it (and byte-swap the text after a
// leading U+FFFE).
QString ToQ(const std::u16string& s) {
  return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
std::u16string FromQ(const QString& s) { return s.toStdU16String(); }

// The name as the tree shows it.
std::u16string Displayed(const std::u16string& name) { return TitleText(name); }

// What XML 1.0 can carry: every character but the C0 controls other than
// tab, line feed and carriage return, U+FFFE, U+FFFF and lone surrogates.
// Everything else becomes U+FFFD, so the writer never meets a character it
// cannot encode.
QString XmlSafe(const QString& s) {
  QString out = s;
  const qsizetype n = out.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = out[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(out[i + 1].unicode())) {
      ++i;
      continue;
    }
    const bool control = c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
    if (control || c == 0xFFFE || c == 0xFFFF || QChar::isSurrogate(c)) out[i] = QChar(0xFFFD);
  }
  return out;
}

// The site addresses an export writes and an import keeps: http and https.
bool IsWebAddress(const QString& s) {
  return s.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
         s.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// A name as the export writes it: as the tree shows it, in text XML can
// carry.
QString ExportedName(const std::u16string& name) { return XmlSafe(ToQ(Displayed(name))); }

// The head's title of every file the export writes: a file that has it
// holds a whole tree, its top outlines the root groups.
constexpr char kOwnTitle[] = "Quillbend subscriptions";

QString Rfc822(const QDateTime& t) {
  return QLocale::c().toString(t.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")) +
         QStringLiteral(" GMT");
}

// The outlines of a file, read whole before the model is touched. Flat, so
// that neither building nor destroying a deep tree recurses: outline 0 is
// the body, and each outline lists its children by index.
struct Outline {
  bool isFeed = false;
  bool hasTitle = false;
  QString title;  // trimmed
  QString text;   // trimmed
  QString url;    // trimmed; a feed has one
  QString site;   // a feed's htmlUrl, when it is a web address
  std::vector<size_t> children;

  const QString& Name() const { return hasTitle ? title : text; }
};

// `title`, when given, gets the text of the head's <title>.
bool ReadOutlines(const QByteArray& data, std::vector<Outline>& outlines, QString& error, qint64& line,
                  QString* title = nullptr) {
  QXmlStreamReader r(data);
  outlines.assign(1, Outline{});
  bool sawOpml = false, sawBody = false;
  std::vector<size_t> stack;  // open outlines; empty while outside <body>
  int bodyDepth = -1, depth = 0;
  bool inHead = false;
  while (!r.atEnd()) {
    r.readNext();
    if (r.isStartElement()) {
      ++depth;
      if (depth == 2) inHead = r.name() == QLatin1String("head");
      if (depth == 3 && inHead && title != nullptr && r.name() == QLatin1String("title")) {
        // Reads up to and with the end tag.
        *title = r.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        --depth;
        continue;
      }
      if (depth == 1) {
        if (r.name() != QLatin1String("opml")) {
          error = QStringLiteral("The file is not an OPML file (its root element is <%1>).")
                      .arg(r.name().toString());
          line = r.lineNumber();
          return false;
        }
        sawOpml = true;
      } else if (depth == 2 && r.name() == QLatin1String("body")) {
        sawBody = true;
        bodyDepth = depth;
        stack.push_back(0);
      } else if (!stack.empty() && r.name() == QLatin1String("outline")) {
        Outline o;
        const QXmlStreamAttributes a = r.attributes();
        o.url = a.value(QLatin1String("xmlUrl")).toString().trimmed();
        o.isFeed = !o.url.isEmpty();
        const QString site = a.value(QLatin1String("htmlUrl")).toString().trimmed();
        if (IsWebAddress(site)) o.site = site;
        o.title = a.value(QLatin1String("title")).toString().trimmed();
        o.hasTitle = !o.title.isEmpty();
        o.text = a.value(QLatin1String("text")).toString().trimmed();
        const size_t index = outlines.size();
        outlines[stack.back()].children.push_back(index);
        outlines.push_back(std::move(o));
        stack.push_back(index);
      } else if (!stack.empty()) {
        // Another element inside the body: its outlines still count.
        stack.push_back(stack.back());
      }
    } else if (r.isEndElement()) {
      if (!stack.empty() && depth >= bodyDepth) stack.pop_back();
      --depth;
    }
  }
  if (r.hasError()) {
    error = r.errorString();
    line = r.lineNumber();
    return false;
  }
  if (!sawOpml || !sawBody) {
    error = sawOpml ? QStringLiteral("The file has no <body> element.")
                    : QStringLiteral("The file holds no XML elements.");
    line = r.lineNumber();
    return false;
  }
  return true;
}

// One outline as written, in document order with its depth below the body.
struct WrittenOutline {
  size_t depth;
  bool isFeed;
  QString name;
  QString url;
  bool operator==(const WrittenOutline&) const = default;
};

// The outlines of a document as the reader sees them, in the same form.
std::vector<WrittenOutline> Flatten(const std::vector<Outline>& outlines) {
  std::vector<WrittenOutline> flat;
  std::vector<std::pair<size_t, size_t>> stack;  // outline, depth
  const auto& top = outlines[0].children;
  for (auto it = top.rbegin(); it != top.rend(); ++it) stack.push_back({*it, 0});
  while (!stack.empty()) {
    const auto [index, depth] = stack.back();
    stack.pop_back();
    const Outline& o = outlines[index];
    flat.push_back({depth, o.isFeed, o.Name(), o.url});
    for (auto it = o.children.rbegin(); it != o.children.rend(); ++it) stack.push_back({*it, depth + 1});
  }
  return flat;
}

// Writes the body's outlines and records each as the reader should see it.
void WriteOutlines(QXmlStreamWriter& w, const CFeedsManager& m, std::vector<WrittenOutline>& written) {
  // In the tree's order; each group is written once, where it is first met
  // (a damaged file may list a group in two places, or inside itself).
  TreeVisitor visitor;
  visitor.enterGroup = [&](const CGroup& g, size_t depth) {
    const QString name = ExportedName(g.m_name);
    w.writeStartElement(QStringLiteral("outline"));
    w.writeAttribute(QStringLiteral("text"), name);
    w.writeAttribute(QStringLiteral("title"), name);
    written.push_back({depth, false, name.trimmed(), QString()});
  };
  visitor.source = [&](const CFeedSource& s, size_t depth) {
    const QString url = XmlSafe(ToQ(s.m_url));
    if (url.trimmed().isEmpty()) return;  // nothing another reader could fetch
    const QString title = ExportedName(s.m_title);
    w.writeEmptyElement(QStringLiteral("outline"));
    w.writeAttribute(QStringLiteral("type"), QStringLiteral("rss"));
    w.writeAttribute(QStringLiteral("text"), title);
    w.writeAttribute(QStringLiteral("title"), title);
    w.writeAttribute(QStringLiteral("xmlUrl"), url);
    const QString site = XmlSafe(ToQ(s.m_reservedString)).trimmed();
    if (IsWebAddress(site)) w.writeAttribute(QStringLiteral("htmlUrl"), site);
    written.push_back({depth, true, title.trimmed(), url.trimmed()});
  };
  visitor.leaveGroup = [&](const CGroup&, size_t) { w.writeEndElement(); };
  VisitInDisplayOrder(m, visitor);
}

// How deep the groups nest (a root group is at depth 1).
size_t GroupDepth(const CFeedsManager& m) {
  size_t deepest = 0;
  std::unordered_set<ObjectId> seen;
  std::vector<std::pair<ObjectId, size_t>> stack;
  for (ObjectId id : m.RootGroups()) stack.push_back({id, 1});
  while (!stack.empty()) {
    const auto [id, depth] = stack.back();
    stack.pop_back();
    const CGroup* g = m.GetGroup(id);
    if (g == nullptr || !seen.insert(id).second) continue;
    deepest = std::max(deepest, depth);
    for (ObjectId c : g->m_childGroups) stack.push_back({c, depth + 1});
  }
  return deepest;
}

// Beyond this depth the document is written without line breaks and
// indentation: the indentation alone would grow with the square of the
// depth.
constexpr size_t kIndentedDepth = 64;

// The document, and whether it reads back as the outlines written.
QByteArray WriteDocument(const CFeedsManager& manager, const QDateTime& created, OpmlExportResult& result) {
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.setAutoFormatting(GroupDepth(manager) <= kIndentedDepth);
  w.writeStartDocument();
  w.writeStartElement(QStringLiteral("opml"));
  w.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
  w.writeStartElement(QStringLiteral("head"));
  w.writeTextElement(QStringLiteral("title"), QString::fromLatin1(kOwnTitle));
  w.writeTextElement(QStringLiteral("dateCreated"), Rfc822(created));
  w.writeEndElement();
  w.writeStartElement(QStringLiteral("body"));
  std::vector<WrittenOutline> written;
  WriteOutlines(w, manager, written);
  w.writeEndElement();
  w.writeEndElement();
  w.writeEndDocument();

  for (const WrittenOutline& o : written) (o.isFeed ? result.feeds : result.groups)++;
  std::vector<Outline> readBack;
  QString error;
  qint64 line = 0;
  if (w.hasError()) {
    result.error = QStringLiteral("The list of feeds could not be written as OPML.");
  } else if (!ReadOutlines(out, readBack, error, line)) {
    result.error = QStringLiteral("The OPML written does not read back: %1 (line %2).").arg(error).arg(line);
  } else if (Flatten(readBack) != written) {
    result.error = QStringLiteral("The OPML written does not read back as the list of feeds.");
  } else {
    result.ok = true;
  }
  return out;
}

// A name from the file, stored so that the tree shows exactly that text:
// as it is when the tree shows it unchanged, else with its markup
// characters written as entities when that shows it unchanged.
std::u16string StoredName(const QString& fileName) {
  std::u16string name = FromQ(fileName);
  if (Displayed(name) == name) return name;
  std::u16string encoded = EncodeEntities(name);
  return Displayed(encoded) == name ? encoded : name;
}

class Importer {
 public:
  Importer(CFeedsManager& m, OpmlImportResult& result, const OpmlProgress& progress, int total)
      : m_model(m), m_result(result), m_progress(progress), m_total(total) {
    IdList sources;
    m.CollectSources(0, sources);
    for (ObjectId sid : sources) m_urls.insert(m.GetFeedSource(sid)->m_url);
    m_step = std::max(1, (total + 99) / 100);
  }

  // Adds the outlines below outline 0 to `target` (0 = the root level).
  void Apply(const std::vector<Outline>& outlines, ObjectId target) {
    struct Level {
      size_t outline;
      ObjectId group;  // 0 = root level
    };
    std::vector<Level> stack{{0, target}};
    std::vector<Level> groups;
    std::vector<size_t> children;
    while (!stack.empty()) {
      const Level level = stack.back();
      stack.pop_back();
      LevelChildren(outlines, level.outline, children);
      // Groups first, created (or found) in file order; then the feeds of
      // this level in file order.
      groups.clear();
      for (size_t c : children) {
        if (outlines[c].isFeed) continue;
        groups.push_back({c, GroupNamed(level.group, outlines[c].Name())});
        Done();
      }
      stack.insert(stack.end(), groups.rbegin(), groups.rend());
      ObjectId feedGroup = level.group;
      for (size_t c : children) {
        if (!outlines[c].isFeed) continue;
        if (feedGroup == 0) feedGroup = FirstRootGroup();
        AddFeed(feedGroup, outlines[c]);
        Done();
      }
    }
    if (m_progress && m_reported != m_total) m_progress(m_total, m_total);
  }

 private:
  // The outlines that belong to the level of `parent`: its children, and
  // the outlines nested inside a feed (a feed holds no others, so they join
  // the feed's own level, in file order).
  static void LevelChildren(const std::vector<Outline>& outlines, size_t parent, std::vector<size_t>& out) {
    out.clear();
    std::vector<size_t> pending(outlines[parent].children.rbegin(), outlines[parent].children.rend());
    while (!pending.empty()) {
      const size_t c = pending.back();
      pending.pop_back();
      out.push_back(c);
      if (outlines[c].isFeed) {
        pending.insert(pending.end(), outlines[c].children.rbegin(), outlines[c].children.rend());
      }
    }
  }

  void Done() {
    ++m_done;
    if (m_progress && m_done % m_step == 0) {
      m_progress(m_done, m_total);
      m_reported = m_done;
    }
  }

  // The child group of `parent` (0 = the root level) shown with `name`,
  // created when there is none.
  ObjectId GroupNamed(ObjectId parent, const QString& name) {
    auto known = m_childNames.find(parent);
    if (known == m_childNames.end()) {
      known = m_childNames.emplace(parent, std::unordered_map<std::u16string, ObjectId>{}).first;
      const IdList& list = parent == 0 ? m_model.RootGroups() : m_model.GetGroup(parent)->m_childGroups;
      for (ObjectId id : list) {
        if (const CGroup* g = m_model.GetGroup(id)) known->second.emplace(Displayed(g->m_name), id);
      }
    }
    const std::u16string shown = FromQ(name);
    auto found = known->second.find(shown);
    if (found != known->second.end()) return found->second;
    const CGroup* g = m_model.AddGroup(parent, StoredName(name));
    ++m_result.groupsAdded;
    known->second.emplace(shown, g->m_id);
    return g->m_id;
  }

  ObjectId FirstRootGroup() {
    const IdList roots = GroupsInDisplayOrder(m_model, m_model.RootGroups());
    if (!roots.empty()) return roots.front();
    m_childNames.erase(0);
    return m_model.AddGroup(0, kAllSourcesName)->m_id;
  }

  void AddFeed(ObjectId group, const Outline& o) {
    std::u16string url = FromQ(o.url);
    if (!m_urls.insert(url).second) {
      ++m_result.feedsSkipped;
      return;
    }
    // The site's address is stored with the new source's row, so a later
    // export gives it back.
    const CFeedSource* s = m_model.AddSource(group, url, FromQ(o.site));
    // A name that only repeats the URL (as it stands, or as an export writes
    // a title that is the URL) comes from a source still waiting for its
    // first update: it stays auto-named.
    if (!o.Name().isEmpty() && o.Name() != o.url && o.Name() != ExportedName(url).trimmed()) {
      // Through the model's operation, so that the title is reported.
      m_model.Rename(s->m_id, StoredName(o.Name()));
    }
    ++m_result.feedsAdded;
    m_result.newSources.push_back(s->m_id);
  }

  CFeedsManager& m_model;
  OpmlImportResult& m_result;
  const OpmlProgress& m_progress;
  int m_total;
  int m_done = 0;
  int m_step = 1;
  int m_reported = -1;
  std::unordered_set<std::u16string> m_urls;
  // Per parent (0 = the root level): the shown name of each child group,
  // the first of equal names winning.
  std::unordered_map<ObjectId, std::unordered_map<std::u16string, ObjectId>> m_childNames;
};

}  // namespace

QByteArray ExportOpml(const CFeedsManager& manager, const QDateTime& created) {
  OpmlExportResult ignored;
  return WriteDocument(manager, created, ignored);
}

QByteArray ExportOpml(const CFeedsManager& manager, const QDateTime& created, OpmlExportResult& check) {
  check = OpmlExportResult{};
  return WriteDocument(manager, created, check);
}

OpmlExportResult ExportOpmlFile(const CFeedsManager& manager, const QString& path, const QDateTime& created) {
  OpmlExportResult result;
  const QByteArray data = WriteDocument(manager, created, result);
  if (!result.ok) return result;
  result.ok = false;
  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
    result.error = QStringLiteral("The file '%1' could not be written: %2").arg(path, out.errorString());
    return result;
  }
  QFile back(path);
  if (!back.open(QIODevice::ReadOnly) || back.readAll() != data) {
    result.error = QStringLiteral("The file '%1' does not hold what was written.").arg(path);
    return result;
  }
  result.ok = true;
  return result;
}

OpmlImportResult ImportOpml(CFeedsManager& manager, const QByteArray& data, ObjectId targetGroup,
                            const OpmlProgress& progress) {
  OpmlImportResult result;
  if (targetGroup != 0 && manager.GetGroup(targetGroup) == nullptr) {
    result.error = QStringLiteral("the group to import into no longer exists");
    return result;
  }
  std::vector<Outline> outlines;
  QString title;
  if (!ReadOutlines(data, outlines, result.error, result.errorLine, &title)) return result;
  // A file of this program's export is the whole tree: its top outlines are
  // root groups, which go to the root level and merge with the root groups
  // of the same name, so that an export imports as the same tree (and a
  // second import adds nothing) wherever the selection is.
  if (title == QLatin1String(kOwnTitle)) targetGroup = 0;
  Importer importer(manager, result, progress, static_cast<int>(outlines.size() - 1));
  importer.Apply(outlines, targetGroup);
  result.ok = true;
  return result;
}

QString OpmlImportSummary(const OpmlImportResult& r) {
  return QStringLiteral("Imported %1 new feed(s) and %2 new group(s). %3 feed(s) were skipped "
                        "because they are already in your list.")
      .arg(r.feedsAdded)
      .arg(r.groupsAdded)
      .arg(r.feedsSkipped);
}

QString OpmlImportWarning(const QString& fileName, const OpmlImportResult& r) {
  return QStringLiteral("The file '%1' could not be imported: %2 (line %3). Nothing was changed.")
      .arg(fileName, r.error)
      .arg(r.errorLine);
}

}  // namespace qb
