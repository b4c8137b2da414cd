// An immutable text shared by value. Articles of older data files each carry
// the whole feed document they came from; a load shares one copy of equal
// texts, which keeps a model of thousands of such articles small in memory.
#pragma once

#include <memory>
#include <string>

namespace qb {

class SharedText {
 public:
  SharedText() = default;
  SharedText(std::u16string text)  // NOLINT(google-explicit-constructor): a text is a text
      : m_text(text.empty() ? nullptr
                            : std::make_shared<const std::u16string>(std::move(text))) {}
  explicit SharedText(std::shared_ptr<const std::u16string> text) : m_text(std::move(text)) {
    if (m_text && m_text->empty()) m_text.reset();
  }

  const std::u16string& str() const { return m_text ? *m_text : Empty(); }
  bool empty() const { return !m_text; }
  size_t size() const { return m_text ? m_text->size() : 0; }
  // True when both hold the very same copy (not merely equal text).
  bool SharesWith(const SharedText& o) const { return m_text && m_text == o.m_text; }
  const std::shared_ptr<const std::u16string>& handle() const { return m_text; }

  bool operator==(const SharedText& o) const { return m_text == o.m_text || str() == o.str(); }

 private:
  static const std::u16string& Empty() {
    static const std::u16string empty;
    return empty;
  }
  std::shared_ptr<const std::u16string> m_text;
};

}  // namespace qb
