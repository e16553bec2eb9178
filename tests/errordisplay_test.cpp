// The error display: what an escaped exception shows.
#include "Mainform/ErrorDisplay.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "tests/qt_test_support.h"

TEST(ErrorDisplay, EscapedExceptionsShowTheirMessageOrNothing) {
  std::vector<QString> messages;
  const TErrorDisplay previous =
      SetErrorDisplay([&messages](const QString& message) { messages.push_back(message); });
  const auto show = [](auto thrown) {
    try {
      throw thrown;
    } catch (...) {
      ShowCurrentException();
    }
  };
  show(TError("Floating point overflow"));
  show(std::runtime_error("other"));
  show(42);
  SetErrorDisplay(previous);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], QStringLiteral("Floating point overflow"));
  EXPECT_EQ(messages[1], QStringLiteral("other"));
  EXPECT_EQ(messages[2], QString());
}
