// The environment's locale, read without touching the process locale.
#include "platform/LocaleInfo.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace scv::platform {
namespace {

TEST(LocaleInfo, NamesTheEnvironmentsLocaleAsSetlocaleWouldAndLeavesTheProcessOne) {
  struct Case {
    const char* name;
    const char* lcAll;
    const char* lcCtype;
    const char* lang;
  };
  const Case cases[] = {
      {"one name", "C.UTF-8", nullptr, nullptr},
      {"categories differ", nullptr, "C.UTF-8", "C"},
      {"nothing set", nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto set = [](const char* var, const char* value) {
      if (value != nullptr) {
        setenv(var, value, 1);
      } else {
        unsetenv(var);
      }
    };
    set("LC_ALL", c.lcAll);
    set("LC_CTYPE", c.lcCtype);
    set("LANG", c.lang);
    const std::string processBefore = std::setlocale(LC_ALL, nullptr);
    const std::string name = LocaleName();
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), processBefore);
    const char* expected = std::setlocale(LC_ALL, "");
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(name, expected);
    std::setlocale(LC_ALL, processBefore.c_str());
  }
  EXPECT_EQ(GetACP(), 65001);
}

} // namespace
} // namespace scv::platform
