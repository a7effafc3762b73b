#include "platform/log.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace pathlight {
namespace {

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  EXPECT_EQ(start, text.size()) << "text does not end with a line end";
  return lines;
}

TEST(LogTimeStamp, IsZeroPaddedWithMillisecondsAndOneBlank) {
  EXPECT_EQ(FormatTimeStamp({14, 3, 7, 42}), "[14:03:07.042] ");
  // Just after midnight the hour is 00, not 24.
  EXPECT_EQ(FormatTimeStamp({0, 0, 0, 5}), "[00:00:00.005] ");
  EXPECT_EQ(FormatTimeStamp({23, 59, 59, 999}), "[23:59:59.999] ");
}

TEST(LogWriter, OpensOnFirstWriteOnlyAndWritesStampedLines) {
  std::FILE* file = std::tmpfile();
  int opens = 0;
  LogWriter log(
      [&] {
        ++opens;
        return file;
      },
      [] {
        return TimeOfDay{14, 3, 7, 42};
      });
  EXPECT_EQ(opens, 0);
  log.WriteFormatted("Route: (%.0f,%.0f) -> (%.0f,%.0f): %zu points in %lu ms", 1523.2, -880.0, 2210.0, -1312.4,
                     std::size_t{187}, 31ul);
  log.WriteFormatted("%ls and %s", L"wide", "narrow");
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(ReadAll(file),
            "[14:03:07.042] Route: (1523,-880) -> (2210,-1312): 187 points in 31 ms\n"
            "[14:03:07.042] wide and narrow\n");
  std::fclose(file);
}

TEST(LogWriter, FailedOpenSilencesTheLogAndIsNotRetried) {
  int opens = 0;
  LogWriter log(
      [&]() -> std::FILE* {
        ++opens;
        return nullptr;
      },
      [] { return TimeOfDay{}; });
  log.WriteFormatted("one");
  log.WriteFormatted("two");
  EXPECT_EQ(opens, 1);
}

TEST(LogWriter, MessageLongerThanAnyFixedBufferIsWrittenWhole) {
  std::FILE* file = std::tmpfile();
  LogWriter log([&] { return file; }, [] { return TimeOfDay{1, 2, 3, 4}; });
  const std::string big(1 << 20, 'x');
  log.WriteFormatted("Roads: %s|end", big.c_str());
  EXPECT_EQ(ReadAll(file), "[01:02:03.004] Roads: " + big + "|end\n");
  std::fclose(file);
}

TEST(LogWriter, ConcurrentWritersProduceWholeLines) {
  std::FILE* file = std::tmpfile();
  LogWriter log([&] { return file; }, [] { return TimeOfDay{12, 0, 0, 0}; });
  constexpr int kThreads = 8, kLines = 500;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      // Long enough that the runtime writes a line in several pieces.
      const std::string body(300 + t * 100, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) log.WriteFormatted("T%d %d %s", t, i, body.c_str());
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();

  const auto lines = Lines(ReadAll(file));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "[12:00:00.000] T%d %d ", &t, &i), 2) << line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++) << "lines of one thread keep their order";
    const std::string body(300 + t * 100, static_cast<char>('a' + t));
    EXPECT_EQ(line.substr(line.size() - body.size()), body);
    EXPECT_EQ(line.size(),
              FormatTimeStamp({}).size() + std::to_string(t).size() + std::to_string(i).size() + 3 + body.size());
  }
  std::fclose(file);
}

}  // namespace
}  // namespace pathlight
