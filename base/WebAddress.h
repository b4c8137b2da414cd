// Web addresses: checking what the user typed into the add-feed dialog,
// resolving the links a page writes, and naming a URL's site. Pure functions
// over UTF-16 text; none of them fails or touches the network.
//
// What a typed address may be:
// - "http://..." or "https://..." (the scheme in any case), or a "feed:" form:
//   "feed:https://x" is "https://x", "feed://x" and "feed:x" are "http://x".
// - Without a scheme ("example.com/rss", "www.example.com", "[::1]:8080"):
//   https is tried first, then http.
// - The host is a name of dot-separated labels (letters, digits, "-", "_",
//   any non-ASCII letter: internationalised names pass through as typed), an
//   IPv4 address, or an IPv6 address in brackets. A name whose last label is
//   all digits must be a whole IPv4 address ("1.5" is refused).
// - A single-label name ("intranet") is taken only with the scheme written
//   out or when it is "localhost": a lone word typed without a scheme is far
//   more likely a mistake than the name of a machine on the local network.
// - An optional port from 1 to 65535, user information before "@", and any
//   path, query and fragment. Spaces in the path or query become "%20";
//   control characters anywhere and white space in the host are refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

enum class AddressProblem {
  kNone,
  kEmpty,
  kNotAnAddress,       // no usable structure at all ("not a url at all")
  kUnsupportedScheme,  // "ftp:", "file:", "javascript:", ...
  kBadHost,            // empty, malformed, or a lone word without a scheme
  kBadPort,
};

struct CheckedAddress {
  // The URLs to try, in order; empty when the text is refused.
  std::vector<std::u16string> candidates;
  AddressProblem problem = AddressProblem::kNone;

  bool ok() const { return problem == AddressProblem::kNone; }
};

// Checks the text the user typed (white space at both ends is ignored).
CheckedAddress CheckFeedAddress(std::u16string_view typed);

// A short sentence for the dialog; empty for kNone.
std::u16string_view AddressProblemText(AddressProblem problem);

// Resolves a link written in a page against the page's URL, by the rules of
// RFC 3986 (dot segments removed). White space around the reference and
// tabs and line breaks inside it are dropped, as browsers do. The scheme of
// the result is lower case. Empty when the result would have no scheme
// (a relative reference against a base that is not absolute).
std::u16string ResolveUrl(std::u16string_view base, std::u16string_view reference);

// The site of an http or https URL: its scheme, host and port, each as
// written, plus "/" ("https://example.com:8443/"). Empty for anything else
// or when the host is not acceptable by the rules above.
std::u16string SiteHomeUrl(std::u16string_view url);

// The host of an http or https URL in lower case, with ":port" when the URL
// names a port other than its scheme's default; IPv6 addresses keep their
// brackets. Empty when SiteHomeUrl is empty. Sites that differ only in
// scheme share it.
std::u16string SiteKey(std::u16string_view url);

}  // namespace qb
