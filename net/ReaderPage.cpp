#include "net/ReaderPage.h"

#include <algorithm>

#include "base/Text.h"
#include "base/WebAddress.h"

namespace qb {

namespace {

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

// The type and subtype of a Content-Type value, lower case, without its
// parameters and white space.
std::string MediaType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  const size_t first = type.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  type = type.substr(first, type.find_last_not_of(" \t") - first + 1);
  return LowerAscii(type);
}

// Whether the bytes begin like an HTML document, as a browser sniffs an
// answer that names no type: after a byte-order mark and white space, a
// comment, or a doctype or one of the tags a page starts with, ended by
// white space, "/" or ">".
bool LooksLikeHtml(std::string_view body) {
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  const size_t first = body.find_first_not_of(" \t\r\n\f");
  if (first == std::string_view::npos) return false;
  const std::string start = LowerAscii(body.substr(first, 16));
  if (start.compare(0, 4, "<!--") == 0) return true;
  for (const std::string_view tag : {"<!doctype html", "<html", "<head", "<body", "<title", "<meta"}) {
    if (start.size() <= tag.size() || start.compare(0, tag.size(), tag) != 0) continue;
    const char next = start[tag.size()];
    if (next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\r' || next == '\n') return true;
  }
  return false;
}

// Only the characters of a media type reach the user's line.
std::u16string PrintableType(std::string_view type) {
  std::u16string out;
  for (const char c : type.substr(0, 80)) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '.' || c == '+' || c == '-')
      out += static_cast<char16_t>(c);
  }
  return out;
}

FetchedArticlePage Problem(ReaderProblem problem, std::u16string_view detail = {}) {
  FetchedArticlePage page;
  page.problem = problem;
  page.message = ReaderProblemText(problem, detail);
  return page;
}

}  // namespace

std::u16string ReaderProblemText(ReaderProblem problem, std::u16string_view detail) {
  const auto with = [detail](std::u16string line) {
    if (!detail.empty()) line += u": " + std::u16string(detail);
    return line + u".";
  };
  switch (problem) {
    case ReaderProblem::kNone: return {};
    case ReaderProblem::kNoLink: return u"The article has no link to a web page.";
    case ReaderProblem::kFetchFailed: return with(u"The article's page could not be fetched");
    case ReaderProblem::kNotHtml:
      return detail.empty() ? u"The article's link is not a web page."
                            : u"The article's link is not a web page (" + std::u16string(detail) + u").";
    case ReaderProblem::kTooLarge:
      return u"The article's page is too large for the reader view (over " +
             Widen(std::to_string(kReaderPageMaxBytes / (1024 * 1024))) + u" MB).";
    case ReaderProblem::kNotReadable: return u"No readable article was found on the article's page.";
    case ReaderProblem::kExtractionFailed: return with(u"The article's page could not be read");
  }
  return {};
}

bool IsReaderPageAddress(std::u16string_view address) { return !SiteHomeUrl(address).empty(); }

bool IsWebPageType(std::string_view contentType, std::string_view body) {
  const std::string type = MediaType(contentType);
  if (type == "text/html" || type == "application/xhtml+xml") return true;
  if (type.empty() || type == "application/octet-stream") return LooksLikeHtml(body);
  return false;
}

FetchedArticlePage JudgeArticlePage(const std::string& requested, DownloadResult download) {
  if (!download.ok) {
    if (download.error == DownloadError::TooLarge) return Problem(ReaderProblem::kTooLarge);
    return Problem(ReaderProblem::kFetchFailed, DescribeDownloadError(download.error));
  }
  // As for a failing feed: the status says what went wrong; any other
  // status with a body (a 200, or a redirect without a target) is read.
  if (download.httpStatus >= 400) {
    FetchedArticlePage page =
        Problem(ReaderProblem::kFetchFailed, u"HTTP status " + Widen(std::to_string(download.httpStatus)));
    page.httpStatus = download.httpStatus;
    return page;
  }
  if (download.body.size() > kReaderPageMaxBytes) return Problem(ReaderProblem::kTooLarge);
  if (!IsWebPageType(download.contentType, download.body)) {
    return Problem(ReaderProblem::kNotHtml, PrintableType(MediaType(download.contentType)));
  }
  FetchedArticlePage page;
  page.address = download.finalUrl.empty() ? requested : std::move(download.finalUrl);
  page.contentType = std::move(download.contentType);
  page.body = std::move(download.body);
  page.httpStatus = download.httpStatus;
  return page;
}

CArticlePageFetch::CArticlePageFetch(IDownloader& downloader, IExecutor& executor)
    : m_downloader(downloader), m_tasks(executor) {}

CArticlePageFetch::~CArticlePageFetch() { Cancel(); }

void CArticlePageFetch::Start(std::u16string address, Callback done) {
  Cancel();
  const uint64_t id = m_request;
  address = Trim(address);
  if (!IsReaderPageAddress(address)) {
    // Never from within Start: the caller may not be ready for it yet.
    m_tasks.Post([this, id, done = std::move(done)] {
      if (id == m_request) done(Problem(ReaderProblem::kNoLink));
    });
    return;
  }
  DownloadRequest request;
  request.url = Utf16ToUtf8(address);
  request.group = m_group;
  request.maxBodyBytes = kReaderPageMaxBytes;
  // The pool's thread only hands the answer over; it is judged here.
  m_downloader.Start(request, [this, id, url = request.url, done = std::move(done)](DownloadResult download) mutable {
    m_tasks.Post([this, id, url = std::move(url), done = std::move(done),
                  download = std::move(download)]() mutable {
      if (id == m_request) done(JudgeArticlePage(url, std::move(download)));
    });
  });
}

void CArticlePageFetch::Cancel() {
  ++m_request;
  m_downloader.Cancel(m_group);
}

}  // namespace qb
