// Publication dates as feeds write them, read into CDateTime values.
#pragma once

#include <string_view>

#include "model/DateTime.h"

namespace qb {

class CFeed;

// Reads an RFC 822 style publication date ("Mon, 04 May 2009 10:20:30 GMT"),
// taking the clock time as written. Never fails: unrecognised text yields an
// invalid value.
CDateTime ParsePubDateText(std::u16string_view text);

// Sets the article's date from its date text.
void ParsePubDate(CFeed& article);

}  // namespace qb
