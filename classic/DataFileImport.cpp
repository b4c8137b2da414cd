#include "classic/DataFileImport.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Text.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {

namespace {

class CMerge {
 public:
  CMerge(CFeedsManager& into, const CFeedsManager& from, DataFileImportResult& result)
      : m_into(into), m_from(from), m_result(result) {}

  // The file's group goes into `into` when given (the user's own group it
  // stands for), else into a group of its name beside `parent`, else into
  // a new one.
  void Group(const CGroup& g, ObjectId parent, ObjectId into = 0) {
    if (!m_seen.insert(g.m_id).second) return;  // a damaged file's lists may repeat
    if (into == 0) into = Namesake(parent, g.m_name);
    if (into != 0) {
      // Merged into what the user has: nothing of the user's changes.
      for (ObjectId child : g.m_childGroups) {
        if (const CGroup* c = m_from.GetGroup(child)) Group(*c, into);
      }
      for (ObjectId s : g.m_sources) {
        if (const CFeedSource* src = m_from.GetFeedSource(s)) Queue(*src, into);
      }
      return;
    }
    const CGroup* copy = m_into.AddGroup(parent, g.m_name);
    if (copy == nullptr) return;
    const ObjectId id = copy->m_id;
    m_made.insert(id);
    ++m_result.groups;
    m_into.SetExpanded(id, g.m_expanded);
    for (ObjectId child : g.m_childGroups) {
      if (const CGroup* c = m_from.GetGroup(child)) Group(*c, id);
    }
    for (ObjectId s : g.m_sources) {
      if (const CFeedSource* src = m_from.GetFeedSource(s)) Queue(*src, id);
    }
    m_madeGroups.push_back({id, parent, &g});
  }

  // Merges queued sources, at least one and then until about `articles`
  // articles came in; false when none is left.
  bool Step(size_t articles) {
    size_t taken = 0;
    while (m_next < m_queue.size() && (taken == 0 || taken < articles)) {
      const auto [source, group] = m_queue[m_next++];
      taken += 1 + source->m_articles.size();
      m_articlesDone += source->m_articles.size();
      Source(*source, group);
    }
    return m_next < m_queue.size();
  }

  // After the last step: a new group whose every feed was left out
  // (already subscribed), or an empty one the user already has beside it,
  // would only stand empty. Inner groups first.
  void Finish() {
    for (auto it = m_madeGroups.rbegin(); it != m_madeGroups.rend(); ++it) {
      const CGroup* made = m_into.GetGroup(it->id);
      const bool hadContent = !it->from->m_childGroups.empty() || !it->from->m_sources.empty();
      if (made != nullptr && made->m_childGroups.empty() && made->m_sources.empty() &&
          (hadContent || HasNamesake(it->parent, it->id, it->from->m_name)) && m_into.DeleteGroup(it->id)) {
        --m_result.groups;
      }
    }
    m_madeGroups.clear();
  }

  size_t ArticlesDone() const { return m_articlesDone; }
  size_t ArticlesTotal() const { return m_articlesTotal; }

 private:
  void Queue(const CFeedSource& s, ObjectId group) {
    m_queue.emplace_back(&s, group);
    m_articlesTotal += s.m_articles.size();
  }

  // The user's group of that name under `parent` (0: at the root level),
  // or 0.
  ObjectId Namesake(ObjectId parent, const std::u16string& name) const {
    const CGroup* p = parent != 0 ? m_into.GetGroup(parent) : nullptr;
    for (ObjectId sibling : p != nullptr ? p->m_childGroups : CModelWriter(m_into).RootGroups()) {
      const CGroup* s = m_into.GetGroup(sibling);
      if (s != nullptr && s->m_name == name && m_made.count(sibling) == 0) return sibling;
    }
    return 0;
  }

  // Whether another group of that name lies beside `id` under `parent`.
  bool HasNamesake(ObjectId parent, ObjectId id, const std::u16string& name) const {
    const CGroup* p = parent != 0 ? m_into.GetGroup(parent) : nullptr;
    const IdList& siblings = p != nullptr ? p->m_childGroups : CModelWriter(m_into).RootGroups();
    for (ObjectId sibling : siblings) {
      const CGroup* s = m_into.GetGroup(sibling);
      if (sibling != id && s != nullptr && s->m_name == name) return true;
    }
    return false;
  }

  void Source(const CFeedSource& s, ObjectId group) {
    if (!m_seen.insert(s.m_id).second) return;
    if (!s.m_url.empty() && m_into.HasSourceWithUrl(s.m_url)) {
      ++m_result.skippedSources;
      return;
    }
    std::vector<CFeedsManager::ImportedArticle> articles;
    articles.reserve(s.m_articles.size());
    for (ObjectId a : s.m_articles) {
      const CFeed* article = m_from.GetFeed(a);
      if (article == nullptr || !m_seen.insert(a).second) continue;
      const CArticleTexts texts = m_from.ArticleTexts(a);
      articles.push_back({a, static_cast<const ArticleFields&>(*article), texts.description.str(), texts.sourceText});
    }
    const size_t count = articles.size();
    if (m_into.ImportSource(group, s, std::move(articles), s.m_history) == nullptr) return;
    ++m_result.sources;
    m_result.articles += count;
  }

  CFeedsManager& m_into;
  const CFeedsManager& m_from;
  DataFileImportResult& m_result;
  std::unordered_set<ObjectId> m_seen;
  std::unordered_set<ObjectId> m_made;  // groups this import made
  struct MadeGroup {
    ObjectId id, parent;
    const CGroup* from;
  };
  std::vector<MadeGroup> m_madeGroups;  // in the order made
  std::vector<std::pair<const CFeedSource*, ObjectId>> m_queue;  // a source and its new group
  size_t m_next = 0;
  size_t m_articlesDone = 0, m_articlesTotal = 0;
};

}  // namespace

std::u16string DataFileImportResult::Summary(const std::string& path) const {
  const std::u16string file = Utf8ToUtf16(path);
  if (!imported) {
    std::u16string why;
    if (load.fileAbsent || load.openFailed) {
      why = u"it could not be opened";
    } else if (load.status == LoadStatus::BadSchema) {
      why = u"it was written by a newer version of Quillbend";
    } else {
      why = u"it is damaged or incomplete";
    }
    return u"Nothing was imported from " + file + u": " + why + u". Your feeds are unchanged.";
  }
  std::u16string text = u"Imported " + Utf8ToUtf16(std::to_string(sources)) + u" feeds with " +
                        Utf8ToUtf16(std::to_string(articles)) + u" articles from " + file + u".";
  if (cancelled) text += u" The import was stopped before the end; the rest of the file was left out.";
  if (skippedSources > 0) {
    text += u" " + Utf8ToUtf16(std::to_string(skippedSources)) +
            u" feeds you already subscribe to were left as they are.";
  }
  return text;
}

struct CDataFileMerge::State {
  State(CFeedsManager& model, const CFeedsManager& from) : merge(model, from, result) {}
  DataFileImportResult result;
  CMerge merge;
};

CDataFileMerge::CDataFileMerge(CFeedsManager& model, const CFeedsManager& from)
    : m_model(model), m_state(std::make_unique<State>(model, from)) {
  m_state->result.imported = true;
  model.Batch([&] {
    for (ObjectId root : from.RootGroups()) {
      const CGroup* g = from.GetGroup(root);
      if (g == nullptr) continue;
      // The group every tree begins with is the user's own first group,
      // whatever the user has named it.
      const bool system = g->m_name == kAllSourcesName && !CModelWriter(model).RootGroups().empty();
      m_state->merge.Group(*g, 0, system ? CModelWriter(model).RootGroups().front() : 0);
    }
  });
}

CDataFileMerge::~CDataFileMerge() = default;

bool CDataFileMerge::Step(size_t articles) {
  bool more = false;
  m_model.Batch([&] { more = m_state->merge.Step(articles); });
  return more;
}

DataFileImportResult CDataFileMerge::Finish() {
  m_model.Batch([&] { m_state->merge.Finish(); });
  return m_state->result;
}

size_t CDataFileMerge::ArticlesDone() const { return m_state->merge.ArticlesDone(); }
size_t CDataFileMerge::ArticlesTotal() const { return m_state->merge.ArticlesTotal(); }

DataFileImportResult MergeModelInto(CFeedsManager& model, const CFeedsManager& from) {
  DataFileImportResult result;
  model.Batch([&] {
    CDataFileMerge merge(model, from);
    while (merge.Step(SIZE_MAX)) {
    }
    result = merge.Finish();
  });
  return result;
}

DataFileImportResult ImportDataFileInto(CFeedsManager& model, const std::string& path) {
  CFeedsManager file;
  LoadOptions options;
  options.readOnly = true;  // the file stays exactly as it is
  const LoadOutcome outcome = LoadDataFile(file, path, options);
  DataFileImportResult result;
  if (outcome.ok() && !outcome.fileAbsent) {
    result = MergeModelInto(model, file);
  }
  result.load = outcome;
  return result;
}

}  // namespace qb
