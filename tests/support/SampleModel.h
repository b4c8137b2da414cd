// A small but complete feed model for data file tests: nested groups,
// sources with histories and every reserved field set, articles sharing a
// feed text, text outside the BMP.
#pragma once

#include "model/FeedsManager.h"

namespace qb::test {

// Fills an empty manager. Identifiers come from the generator seeded here.
// The shared feed text holds `feedTextLength` filler characters.
void BuildSampleModel(CFeedsManager& m, size_t feedTextLength = 5000);

// A model large enough that writing it takes a while (about 11 MB): 16
// sources of 250 articles, each with its own text of pseudo-random words,
// the same every time.
void BuildLargeModel(CFeedsManager& m);

// Every field of both models is equal (last update ticks, the reserved map and
// the history time index excepted); the texts are compared through
// ArticleTexts, so either model may keep them in a library. Failures are
// reported through gtest.
void ExpectSameModel(const CFeedsManager& expected, const CFeedsManager& actual);

// The histories of both models evict in the same order: their time indexes
// list the keys alike.
void ExpectSameHistoryOrder(const CFeedsManager& expected, const CFeedsManager& actual);

}  // namespace qb::test
