#include "base/WebAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <string>

#include "base/Text.h"

namespace qb {

namespace {

bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }



bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareAsciiNoCase(a, b) == 0;
}

bool AllDigits(std::u16string_view s) {
  for (char16_t c : s) {
    if (!IsAsciiDigit(c)) return false;
  }
  return !s.empty();
}

// A scheme as RFC 3986 writes it: a letter, then letters, digits, "+", "-"
// and ".". Returns its length, or 0 when `s` does not start with one and a
// colon.
size_t SchemeLength(std::u16string_view s) {
  if (s.empty() || !IsAsciiLetter(s[0])) return 0;
  size_t i = 1;
  while (i < s.size() && (IsAsciiLetter(s[i]) || IsAsciiDigit(s[i]) || s[i] == u'+' ||
                          s[i] == u'-' || s[i] == u'.')) {
    ++i;
  }
  return i < s.size() && s[i] == u':' ? i : 0;
}

// The scheme the user typed, or empty when the text starts with a host:
// "example.com:8080/x" and "localhost:3000" are a host and a port, and a
// "scheme" holding a dot is taken for a host with a mistyped port.
std::u16string_view TypedScheme(std::u16string_view s) {
  const size_t n = SchemeLength(s);
  if (n == 0) return {};
  const std::u16string_view scheme = s.substr(0, n);
  if (scheme.find(u'.') != std::u16string_view::npos) return {};
  if (s.substr(n + 1).starts_with(u"//")) return scheme;
  size_t i = n + 1;
  while (i < s.size() && IsAsciiDigit(s[i])) ++i;
  if (i == s.size() || s[i] == u'/' || s[i] == u'?' || s[i] == u'#') return {};
  return scheme;
}

bool IsIpv4(std::u16string_view s) {
  int parts = 0;
  size_t i = 0;
  for (;;) {
    size_t j = i;
    while (j < s.size() && IsAsciiDigit(s[j])) ++j;
    const std::u16string_view part = s.substr(i, j - i);
    // "010" is octal to some resolvers and decimal to others: refused.
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == u'0')) return false;
    if (ParseDecimalPrefix(part) > 255) return false;
    ++parts;
    if (j == s.size()) break;
    if (s[j] != u'.') return false;
    i = j + 1;
  }
  return parts == 4;
}

bool IsIpv6(std::u16string_view s) {
  if (s.empty() || s.size() > 45) return false;
  char buf[46];
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] > 0x7E) return false;
    buf[i] = static_cast<char>(s[i]);
  }
  buf[s.size()] = '\0';
  unsigned char addr[16];
  return inet_pton(AF_INET6, buf, addr) == 1;
}

AddressProblem CheckHost(std::u16string_view host, bool schemeGiven) {
  if (host.empty()) return AddressProblem::kBadHost;
  if (host.front() == u'[') {
    return host.size() > 2 && host.back() == u']' && IsIpv6(host.substr(1, host.size() - 2))
               ? AddressProblem::kNone
               : AddressProblem::kBadHost;
  }
  std::u16string_view name = host;
  if (name.back() == u'.') name.remove_suffix(1);  // a fully qualified "example.com."
  if (name.empty() || name.size() > 253) return AddressProblem::kBadHost;
  size_t labels = 0;
  std::u16string_view last;
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find(u'.', start);
    if (end == std::u16string_view::npos) end = name.size();
    const std::u16string_view label = name.substr(start, end - start);
    if (label.empty()) return AddressProblem::kBadHost;
    bool ascii = true;
    for (char16_t c : label) {
      if (c >= 0x80) {
        ascii = false;
      } else if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != u'-' && c != u'_') {
        return AddressProblem::kBadHost;
      }
    }
    if (ascii && label.size() > 63) return AddressProblem::kBadHost;
    ++labels;
    last = label;
    start = end + 1;
  }
  // No top-level domain is numeric: such a name is an IPv4 address or nothing.
  if (AllDigits(last) && !IsIpv4(name)) return AddressProblem::kBadHost;
  if (labels == 1 && !schemeGiven && !EqualsNoCase(name, u"localhost")) {
    return AddressProblem::kBadHost;
  }
  return AddressProblem::kNone;
}

struct Authority {
  std::u16string_view userInfo;  // without the "@"
  std::u16string_view host;      // IPv6 with its brackets
  std::u16string_view port;      // without the ":"
};

AddressProblem SplitAuthority(std::u16string_view authority, bool schemeGiven, Authority& out) {
  for (char16_t c : authority) {
    if (IsWideSpace(c)) return AddressProblem::kNotAnAddress;
  }
  std::u16string_view hostPort = authority;
  if (const size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) {
    out.userInfo = authority.substr(0, at);
    hostPort = authority.substr(at + 1);
  }
  size_t hostEnd = 0;
  if (!hostPort.empty() && hostPort.front() == u'[') {
    const size_t close = hostPort.find(u']');
    if (close == std::u16string_view::npos) return AddressProblem::kBadHost;
    hostEnd = close + 1;
    if (hostEnd < hostPort.size() && hostPort[hostEnd] != u':') return AddressProblem::kBadHost;
  } else {
    hostEnd = std::min(hostPort.find(u':'), hostPort.size());
  }
  out.host = hostPort.substr(0, hostEnd);
  if (hostEnd < hostPort.size()) out.port = hostPort.substr(hostEnd + 1);
  if (const AddressProblem p = CheckHost(out.host, schemeGiven); p != AddressProblem::kNone) {
    return p;
  }
  // An empty port ("example.com:") means the default one.
  if (!out.port.empty()) {
    if (!AllDigits(out.port) || out.port.size() > 5) return AddressProblem::kBadPort;
    const int32_t port = ParseDecimalPrefix(out.port);
    if (port < 1 || port > 65535) return AddressProblem::kBadPort;
  }
  return AddressProblem::kNone;
}

// `rest` is what follows "scheme://". Spaces in the path and query become
// "%20", which is what a browser sends for them.
AddressProblem BuildHttpUrl(std::u16string_view scheme, std::u16string_view rest, bool schemeGiven,
                            std::u16string& out) {
  const size_t authEnd = std::min(rest.find_first_of(u"/?#"), rest.size());
  Authority parts;
  if (const AddressProblem p = SplitAuthority(rest.substr(0, authEnd), schemeGiven, parts);
      p != AddressProblem::kNone) {
    return p;
  }
  out.assign(scheme);
  out += u"://";
  out += rest.substr(0, authEnd);
  for (char16_t c : rest.substr(authEnd)) {
    if (c == u' ') {
      out += u"%20";
    } else {
      out += c;
    }
  }
  return AddressProblem::kNone;
}

CheckedAddress Refused(AddressProblem problem) {
  CheckedAddress out;
  out.problem = problem;
  return out;
}

CheckedAddress CheckTyped(std::u16string_view s, bool allowFeed) {
  const std::u16string_view scheme = TypedScheme(s);
  CheckedAddress out;
  std::u16string url;
  if (scheme.empty()) {
    std::u16string_view rest = s;
    if (rest.starts_with(u"//")) rest.remove_prefix(2);
    if (const AddressProblem p = BuildHttpUrl(u"https", rest, false, url);
        p != AddressProblem::kNone) {
      return Refused(p);
    }
    out.candidates.push_back(url);
    out.candidates.push_back(u"http" + url.substr(5));
    return out;
  }
  const std::u16string lower = AsciiLowered(scheme);
  std::u16string_view after = s.substr(scheme.size() + 1);
  if (lower == u"feed" && allowFeed) {
    if (!TypedScheme(after).empty()) return CheckTyped(after, false);
    if (after.starts_with(u"//")) after.remove_prefix(2);
    if (const AddressProblem p = BuildHttpUrl(u"http", after, true, url);
        p != AddressProblem::kNone) {
      return Refused(p);
    }
  } else if (lower == u"http" || lower == u"https") {
    if (!after.starts_with(u"//")) return Refused(AddressProblem::kNotAnAddress);
    if (const AddressProblem p = BuildHttpUrl(lower, after.substr(2), true, url);
        p != AddressProblem::kNone) {
      return Refused(p);
    }
  } else {
    return Refused(AddressProblem::kUnsupportedScheme);
  }
  out.candidates.push_back(url);
  return out;
}

// The five parts of a URI reference (RFC 3986, appendix B).
struct UriParts {
  std::u16string_view scheme;
  std::u16string_view authority;
  std::u16string_view path;
  std::u16string_view query;
  std::u16string_view fragment;
  bool hasScheme = false;
  bool hasAuthority = false;
  bool hasQuery = false;
  bool hasFragment = false;
};

UriParts SplitUri(std::u16string_view s) {
  UriParts u;
  if (const size_t n = SchemeLength(s); n > 0) {
    u.hasScheme = true;
    u.scheme = s.substr(0, n);
    s.remove_prefix(n + 1);
  }
  if (const size_t hash = s.find(u'#'); hash != std::u16string_view::npos) {
    u.hasFragment = true;
    u.fragment = s.substr(hash + 1);
    s = s.substr(0, hash);
  }
  if (const size_t q = s.find(u'?'); q != std::u16string_view::npos) {
    u.hasQuery = true;
    u.query = s.substr(q + 1);
    s = s.substr(0, q);
  }
  if (s.starts_with(u"//")) {
    u.hasAuthority = true;
    const size_t slash = std::min(s.find(u'/', 2), s.size());
    u.authority = s.substr(2, slash - 2);
    s.remove_prefix(slash);
  }
  u.path = s;
  return u;
}

// RFC 3986, 5.2.4.
std::u16string RemoveDotSegments(std::u16string_view in) {
  std::u16string out;
  while (!in.empty()) {
    if (in.starts_with(u"../")) {
      in.remove_prefix(3);
    } else if (in.starts_with(u"./")) {
      in.remove_prefix(2);
    } else if (in.starts_with(u"/./")) {
      in.remove_prefix(2);
    } else if (in == u"/.") {
      in = u"/";
    } else if (in.starts_with(u"/../") || in == u"/..") {
      in = in.size() == 3 ? std::u16string_view(u"/") : in.substr(3);
      const size_t cut = out.rfind(u'/');
      out.erase(cut == std::u16string::npos ? 0 : cut);
    } else if (in == u"." || in == u"..") {
      in = {};
    } else {
      const size_t next = in.find(u'/', 1);
      const size_t n = next == std::u16string_view::npos ? in.size() : next;
      out += in.substr(0, n);
      in.remove_prefix(n);
    }
  }
  return out;
}

// Leading and trailing C0 controls and spaces, and every tab and line break.
std::u16string CleanReference(std::u16string_view s) {
  while (!s.empty() && s.front() <= u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() <= u' ') s.remove_suffix(1);
  std::u16string out;
  out.reserve(s.size());
  for (char16_t c : s) {
    if (c != u'\t' && c != u'\n' && c != u'\r') out += c;
  }
  return out;
}

bool ParseSite(std::u16string_view url, std::u16string& scheme, Authority& parts) {
  const UriParts u = SplitUri(url);
  if (!u.hasScheme || !u.hasAuthority) return false;
  scheme = AsciiLowered(u.scheme);
  if (scheme != u"http" && scheme != u"https") return false;
  return SplitAuthority(u.authority, true, parts) == AddressProblem::kNone;
}

}  // namespace

CheckedAddress CheckFeedAddress(std::u16string_view typed) {
  const std::u16string_view s = TrimView(typed);
  if (s.empty()) return Refused(AddressProblem::kEmpty);
  for (char16_t c : s) {
    if (c < 0x20 || c == 0x7F) return Refused(AddressProblem::kNotAnAddress);
  }
  return CheckTyped(s, true);
}

std::u16string_view AddressProblemText(AddressProblem problem) {
  switch (problem) {
    case AddressProblem::kNone:
      return {};
    case AddressProblem::kEmpty:
      return u"Enter the address of a feed or of a web site.";
    case AddressProblem::kNotAnAddress:
      return u"This is not a web address.";
    case AddressProblem::kUnsupportedScheme:
      return u"Only http and https addresses can be subscribed.";
    case AddressProblem::kBadHost:
      return u"The site name in this address is not valid.";
    case AddressProblem::kBadPort:
      return u"The port number in this address is not valid.";
  }
  return {};
}

std::u16string ResolveUrl(std::u16string_view baseText, std::u16string_view referenceText) {
  const std::u16string refClean = CleanReference(referenceText);
  const std::u16string baseClean = CleanReference(baseText);
  const UriParts r = SplitUri(refClean);
  const UriParts b = SplitUri(baseClean);

  std::u16string_view scheme;
  std::u16string_view authority;
  std::u16string path;
  std::u16string_view query;
  bool hasAuthority = false;
  bool hasQuery = false;
  if (r.hasScheme) {
    scheme = r.scheme;
    hasAuthority = r.hasAuthority;
    authority = r.authority;
    path = RemoveDotSegments(r.path);
    hasQuery = r.hasQuery;
    query = r.query;
  } else {
    if (!b.hasScheme) return {};
    scheme = b.scheme;
    if (r.hasAuthority) {
      hasAuthority = true;
      authority = r.authority;
      path = RemoveDotSegments(r.path);
      hasQuery = r.hasQuery;
      query = r.query;
    } else {
      hasAuthority = b.hasAuthority;
      authority = b.authority;
      if (r.path.empty()) {
        path = b.path;
        hasQuery = r.hasQuery || b.hasQuery;
        query = r.hasQuery ? r.query : b.query;
      } else {
        if (r.path.front() == u'/') {
          path = RemoveDotSegments(r.path);
        } else {
          std::u16string merged;
          if (b.hasAuthority && b.path.empty()) {
            merged = u"/";
          } else {
            const size_t slash = b.path.rfind(u'/');
            if (slash != std::u16string_view::npos) merged = b.path.substr(0, slash + 1);
          }
          merged += r.path;
          path = RemoveDotSegments(merged);
        }
        hasQuery = r.hasQuery;
        query = r.query;
      }
    }
  }

  std::u16string out = AsciiLowered(scheme);
  out += u':';
  if (hasAuthority) {
    out += u"//";
    out += authority;
  }
  out += path;
  if (hasQuery) {
    out += u'?';
    out += query;
  }
  if (r.hasFragment) {
    out += u'#';
    out += r.fragment;
  }
  return out;
}

std::u16string SiteHomeUrl(std::u16string_view url) {
  std::u16string scheme;
  Authority parts;
  if (!ParseSite(url, scheme, parts)) return {};
  std::u16string out = scheme + u"://";
  out += parts.host;
  if (!parts.port.empty()) {
    out += u':';
    out += parts.port;
  }
  out += u'/';
  return out;
}

std::u16string SiteKey(std::u16string_view url) {
  std::u16string scheme;
  Authority parts;
  if (!ParseSite(url, scheme, parts)) return {};
  std::u16string key = AsciiLowered(parts.host);
  if (!key.empty() && key.back() == u'.') key.pop_back();
  const int32_t defaultPort = scheme == u"https" ? 443 : 80;
  if (!parts.port.empty() && ParseDecimalPrefix(parts.port) != defaultPort) {
    key += u':';
    key += Widen(std::to_string(ParseDecimalPrefix(parts.port)));
  }
  return key;
}

}  // namespace qb
