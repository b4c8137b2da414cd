// The words search looks at, and the rule that decides a match.
//
// An article matches a query when every word of the query is the beginning
// of some word of the article: of its title, its channel or the text of its
// description. A word is a run of word characters: letters, digits and
// every other character except white space, punctuation and symbols (ASCII
// punctuation, the Latin-1 signs, general and CJK punctuation, currency,
// arrows, mathematical and technical signs, box drawing, dingbats, emoji;
// lone surrogates, U+FFFD and U+FEFF). Case is folded first (simple case
// folding of the Latin, Greek, Cyrillic and Armenian letters and of the
// fullwidth Latin ones; other characters are left as they are). The
// description is read as the article page shows it: the four entities of
// the feeds decoded once more, then tags, comments, scripts and styles
// dropped and character references decoded. Titles and channels are read
// the same way, so "AT&amp;T" is found as "at&t" would be: the words "at"
// and "t".
//
// The library's full-text index stores these words; the search in memory
// (a classic data file, articles not yet written) applies the rule to them
// directly. Both come from the functions here, so they agree. Nothing here
// fails on any input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

// The readable text of HTML: tags and comments dropped (each leaves a word
// break), the contents of script and style elements dropped, character
// references and the common named entities decoded. Text that is not
// markup comes back as it is.
std::u16string MarkupText(std::u16string_view html);

// "&lt;", "&gt;", "&amp;" and "&apos;" decoded in four passes in that order,
// as the article page decodes a description before it reads it as HTML.
std::u16string DecodeFeedEntities(std::u16string_view text);

// The folded form of one character (simple case folding, see above).
char32_t FoldCase(char32_t c);

// Whether a character belongs to words (see above).
bool IsWordCharacter(char32_t c);

// The folded words of a plain text, in order, appended to `out`.
void AppendWords(std::u16string_view text, std::vector<std::u16string>& out);
std::vector<std::u16string> SearchWords(std::u16string_view text);

// The words of an article, in order: title, channel, then the description.
std::vector<std::u16string> ArticleWords(std::u16string_view title, std::u16string_view channel,
                                         std::u16string_view description);

// The words as the full-text index is given them: UTF-8, separated by one
// space. Each word is one token of SQLite's "ascii" tokenizer, since words
// hold no ASCII punctuation or space.
std::string IndexText(const std::vector<std::u16string>& words);

// The full-text query for the words of a query: every word as a prefix.
// REQUIRES: !queryWords.empty().
std::string FullTextQuery(const std::vector<std::u16string>& queryWords);

// The rule itself, slowly and obviously: every query word begins some
// article word. No query words match everything.
bool WordsMatch(const std::vector<std::u16string>& articleWords, const std::vector<std::u16string>& queryWords);

}  // namespace qb
