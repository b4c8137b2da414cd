// Sets the time zone (the TZ variable) for the life of the object, and puts
// back what was there. Local times, and so every date that names its zone,
// depend on it. POSIX zone strings ("UTC0", "JST-9", "EST5") need no zone
// database.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace qb::test {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    m_hadOld = old != nullptr;
    if (m_hadOld) m_old = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (m_hadOld) {
      setenv("TZ", m_old.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::string m_old;
  bool m_hadOld = false;
};

}  // namespace qb::test
