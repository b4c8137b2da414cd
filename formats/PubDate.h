// Publication dates as feeds write them, read into CDateTime values.
#pragma once

#include <string_view>

#include "base/DateTime.h"

namespace qb {

class CFeed;

// Reads a publication date. A text that starts with four digits and a
// hyphen is an ISO 8601 timestamp in the forms of RFC 3339 and of Dublin
// Core dates ("2009-05-04T10:20:30Z", "2009-05-04t10:20:30.5+02:00",
// "2009-05-04 10:20:30", "2009-05-04T10:20+0200", "2009-05-04", and with
// a zone after a space, "2006-01-11 16:42:55 -0800"), which must fill the
// whole text; four digits and a slash start a date as "2020/1/10
// 14:33:00", UTC unless it names a zone; a month name where the day
// belongs (after a day name) is JavaScript's form, "Sat Oct 06 2018 00:00:00 GMT+0000
// (Coordinated Universal Time)"; any other text is read by the token rules
// of RFC 822 dates ("Mon, 04 May 2009 10:20:30 GMT"). A date that names its
// zone (an RFC 822 zone name or "+hhmm", an RFC 3339 offset) is converted
// to the user's local time, so that it shows and sorts at the moment it
// names; a date without a zone keeps its clock time as written. Never
// fails: unrecognised text yields an invalid value.
CDateTime ParsePubDateText(std::u16string_view text);

// Sets the article's date from its date text.
void ParsePubDate(CFeed& article);

}  // namespace qb
