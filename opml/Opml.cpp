#include "opml/Opml.h"

#include <QLocale>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <memory>
#include <vector>

#include "feeds/Markup.h"
#include "model/FeedsManager.h"
#include "model/TreeOrder.h"

namespace qb {

namespace {

QString ToQ(const std::u16string& s) { return QString::fromStdU16String(s); }
std::u16string FromQ(const QString& s) { return s.toStdU16String(); }

// Names are exported as the tree shows them, so other readers see the same
// text rather than character references.
QString DisplayName(const std::u16string& name) { return ToQ(DecodeEntities(DecodeCharRefs(name))); }

QString Rfc822(const QDateTime& t) {
  return QLocale::c().toString(t.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")) +
         QStringLiteral(" GMT");
}

void WriteGroup(QXmlStreamWriter& w, const CFeedsManager& m, const CGroup& root) {
  // Iterative, so a deep tree cannot exhaust the stack.
  struct Frame {
    const CGroup* group;
    IdList groups;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  auto open = [&](const CGroup& g) {
    w.writeStartElement(QStringLiteral("outline"));
    w.writeAttribute(QStringLiteral("text"), DisplayName(g.m_name));
    w.writeAttribute(QStringLiteral("title"), DisplayName(g.m_name));
    stack.push_back({&g, GroupsInDisplayOrder(m, g.m_childGroups)});
  };
  open(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < f.groups.size()) {
      const CGroup* child = m.GetGroup(f.groups[f.next++]);
      bool seen = false;  // a damaged file may hold a cycle
      for (const Frame& up : stack) seen = seen || up.group == child;
      if (child != nullptr && !seen) open(*child);
      continue;
    }
    for (ObjectId sid : SourcesInDisplayOrder(m, f.group->m_sources)) {
      const CFeedSource* s = m.GetFeedSource(sid);
      w.writeEmptyElement(QStringLiteral("outline"));
      w.writeAttribute(QStringLiteral("type"), QStringLiteral("rss"));
      w.writeAttribute(QStringLiteral("text"), DisplayName(s->m_title));
      w.writeAttribute(QStringLiteral("title"), DisplayName(s->m_title));
      w.writeAttribute(QStringLiteral("xmlUrl"), ToQ(s->m_url));
    }
    w.writeEndElement();
    stack.pop_back();
  }
}

// The outline tree of a file, read whole before the model is touched.
struct Outline {
  bool isFeed = false;
  QString name;      // group: title, else text
  QString title;     // feed: the title attribute (may be absent)
  bool hasTitle = false;
  QString text;
  QString url;
  std::vector<std::unique_ptr<Outline>> children;
};

bool ReadOutlines(const QByteArray& data, Outline& body, QString& error, qint64& line) {
  QXmlStreamReader r(data);
  bool sawOpml = false, sawBody = false;
  std::vector<Outline*> stack;  // open outlines; empty while outside <body>
  int bodyDepth = -1, depth = 0;
  while (!r.atEnd()) {
    r.readNext();
    if (r.isStartElement()) {
      ++depth;
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
        stack.push_back(&body);
      } else if (!stack.empty() && r.name() == QLatin1String("outline")) {
        auto o = std::make_unique<Outline>();
        const QXmlStreamAttributes a = r.attributes();
        o->url = a.value(QLatin1String("xmlUrl")).toString().trimmed();
        o->isFeed = !o->url.isEmpty();
        o->hasTitle = a.hasAttribute(QLatin1String("title")) &&
                      !a.value(QLatin1String("title")).trimmed().isEmpty();
        o->title = a.value(QLatin1String("title")).toString().trimmed();
        o->text = a.value(QLatin1String("text")).toString().trimmed();
        o->name = o->hasTitle ? o->title : o->text;
        Outline* raw = o.get();
        stack.back()->children.push_back(std::move(o));
        stack.push_back(raw);
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

CGroup* FindChildGroupByName(CFeedsManager& m, const IdList& groups, const QString& name) {
  const std::u16string wanted = FromQ(name);
  for (ObjectId id : groups) {
    CGroup* g = m.GetGroup(id);
    if (g != nullptr && g->m_name == wanted) return g;
  }
  return nullptr;
}

void AddFeed(CFeedsManager& m, CGroup& group, const Outline& o, OpmlImportResult& result) {
  const std::u16string url = FromQ(o.url);
  if (m.HasSourceWithUrl(url)) {
    ++result.feedsSkipped;
    return;
  }
  CFeedSource* s = m.AddSource(group.m_id, url);
  if (o.hasTitle) {
    s->m_title = FromQ(o.title);
    s->m_autoName = false;
  } else if (!o.text.isEmpty()) {
    s->m_title = FromQ(o.text);
  }
  ++result.feedsAdded;
  result.newSources.push_back(s->m_id);
}

// Adds the outlines below `parent` (0 = the root level) to the model.
void Apply(CFeedsManager& m, const Outline& top, OpmlImportResult& result) {
  struct Frame {
    const Outline* outline;
    ObjectId group;  // 0 = root level
  };
  std::vector<Frame> stack{{&top, 0}};
  while (!stack.empty()) {
    const Frame f = stack.back();
    stack.pop_back();
    // Groups first, created (or found) in file order.
    std::vector<Frame> children;
    for (const auto& child : f.outline->children) {
      if (child->isFeed) continue;
      const IdList& siblings =
          f.group == 0 ? m.m_rootGroups : m.GetGroup(f.group)->m_childGroups;
      CGroup* g = FindChildGroupByName(m, siblings, child->name);
      if (g == nullptr) {
        g = m.AddGroup(f.group, FromQ(child->name));
        ++result.groupsAdded;
      }
      children.push_back({child.get(), g->m_id});
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
    // Feeds of this level, in file order; at the root level they join the
    // first root group.
    CGroup* target = f.group != 0 ? m.GetGroup(f.group) : nullptr;
    for (const auto& child : f.outline->children) {
      if (!child->isFeed) continue;
      if (target == nullptr) {
        m.FixUpAfterLoad();
        target = m.GetGroup(m.m_rootGroups.front());
      }
      AddFeed(m, *target, *child, result);
    }
  }
}

}  // namespace

QByteArray ExportOpml(const CFeedsManager& manager, const QDateTime& created) {
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.setAutoFormatting(true);
  w.writeStartDocument();
  w.writeStartElement(QStringLiteral("opml"));
  w.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
  w.writeStartElement(QStringLiteral("head"));
  w.writeTextElement(QStringLiteral("title"), QStringLiteral("Quillbend subscriptions"));
  w.writeTextElement(QStringLiteral("dateCreated"), Rfc822(created));
  w.writeEndElement();
  w.writeStartElement(QStringLiteral("body"));
  for (ObjectId gid : GroupsInDisplayOrder(manager, manager.m_rootGroups)) {
    WriteGroup(w, manager, *manager.GetGroup(gid));
  }
  w.writeEndElement();
  w.writeEndElement();
  w.writeEndDocument();
  return out;
}

OpmlImportResult ImportOpml(CFeedsManager& manager, const QByteArray& data) {
  OpmlImportResult result;
  Outline body;
  if (!ReadOutlines(data, body, result.error, result.errorLine)) return result;
  Apply(manager, body, result);
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
