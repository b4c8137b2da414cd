// Publication dates as feeds write them, read into CDateTime values.
#pragma once

#include <string_view>

#include "model/DateTime.h"

namespace qb {

class CFeed;

// Reads a publication date, taking the clock time as written: a zone or
// offset is read and ignored. A text that starts with four digits and a
// hyphen is an ISO 8601 timestamp in the RFC 3339 form
// ("2009-05-04T10:20:30Z", "2009-05-04t10:20:30.5+02:00",
// "2009-05-04 10:20:30"), which must fill the whole text; any other text is
// read by the token rules of RFC 822 dates ("Mon, 04 May 2009 10:20:30
// GMT"). Never fails: unrecognised text yields an invalid value.
CDateTime ParsePubDateText(std::u16string_view text);

// Sets the article's date from its date text.
void ParsePubDate(CFeed& article);

}  // namespace qb
