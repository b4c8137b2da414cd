// Update passes for tests and benchmarks that wait for them: each runs an
// update engine of its own over the model to completion on the calling
// thread, with real downloads.
#pragma once

#include <cstdint>
#include <vector>

#include "base/SharedText.h"
#include "base/StatusHandler.h"
#include "model/FeedReading.h"
#include "model/FeedsManager.h"

namespace qb {

// Both halves of reading a fetched document on the calling thread: ParseFeed
// and InterpretFeed. `tick` is the tick taken when the pass began. True when
// it added at least one article.
bool ParseAndInterpret(CFeedsManager& manager, const CFeedSource& source, const SharedText& text, uint32_t tick);

// Articles delivered to the source as an update that read them from its
// document delivers them: one MergeArticles of a document understood, at
// `tick`. A candidate without a key gets one of its own, so that each is
// new; one whose key the source has seen is not added again. Returns the
// identifiers of the articles added, in document order.
IdList DeliverArticles(CFeedsManager& manager, ObjectId source, std::vector<ArticleCandidate> articles,
                       uint32_t tick = 1);
// A candidate of that title (and key, when given).
ArticleCandidate Candidate(std::u16string title, std::u16string key = {});

// A whole pass over the tree (the due sources, or all when forced);
// "Updating..." before and "Ready" after, to `status` when given. True when
// at least one new article was added.
bool UpdateAll(CFeedsManager& manager, bool force, IStatusHandler* status = nullptr);

// A pass over the one source, the same way. True when it added articles.
bool UpdateSource(CFeedsManager& manager, CFeedSource& source, bool force, IStatusHandler* status = nullptr);

}  // namespace qb
