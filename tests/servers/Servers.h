// The servers every test of the FreshRSS program shares (started once by
// its main in FreshRssTest.cpp): FreshRSS, and the loopback server of the
// feeds it subscribes to.
#pragma once

#include <string>

#include "tests/support/FreshRss.h"
#include "tests/support/HttpServer.h"

namespace qb::test {

FreshRss& SharedFreshRss();
HttpServer& SharedFeeds();
// Serves an RSS document of `count` items titled "<prefix>1"... (guids
// "urn:qb:<prefix>N", one a day from 1 January 2024) at /<prefix>.xml of
// the feeds' server; its address.
std::string ServeSharedFeed(const std::string& prefix, int count);

}  // namespace qb::test
