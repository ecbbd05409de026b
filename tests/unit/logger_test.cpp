#include "logging/logger.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "core/paths.h"
#include "core/text.h"
#include "support/temp_dir.h"

namespace sw {
namespace {

using test::TempDir;

std::vector<std::string> names_in(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(utf8_of(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    EXPECT_EQ(start, text.size()) << "the file must end with a whole line";
    return lines;
}

class LoggerTest : public ::testing::Test {
  protected:
    void TearDown() override { Logger::shut_down(); }
    TempDir dir;
};

TEST(LogFormat, CivilTimeFromUnixSeconds) {
    auto t = civil_from_unix(1796646437);
    EXPECT_EQ(log_file_name(t), "stickwright-20261207-122717.log");
    EXPECT_EQ(log_line(t, LogLevel::Info, "x"), "2026-12-07T12:27:17Z INFO  x\n");
    // Leap day, a century that is not a leap year, the epoch and before it.
    EXPECT_EQ(log_file_name(civil_from_unix(951868799)), "stickwright-20000229-235959.log");
    EXPECT_EQ(log_file_name(civil_from_unix(4107542400)), "stickwright-21000301-000000.log");
    EXPECT_EQ(log_file_name(civil_from_unix(253402300799)), "stickwright-99991231-235959.log");
    EXPECT_EQ(log_file_name(civil_from_unix(0)), "stickwright-19700101-000000.log");
    EXPECT_EQ(log_file_name(civil_from_unix(-5)), "stickwright-19700101-000000.log");
}

TEST(LogFormat, LevelsArePaddedToFiveAndLineFeedsFolded) {
    auto t = civil_from_unix(0);
    EXPECT_EQ(log_line(t, LogLevel::Warn, "a\nb"), "1970-01-01T00:00:00Z WARN  a | b\n");
    EXPECT_EQ(log_line(t, LogLevel::Error, "x\r\n"), "1970-01-01T00:00:00Z ERROR x\r | \n");
}

TEST_F(LoggerTest, InitCreatesDirectoryAndOneFileWithLines) {
    auto logs = dir / "a" / "b" / "logs";
    Logger::init(logs);
    ASSERT_TRUE(Logger::current_file());
    Logger::write(LogLevel::Info, "first");
    Logger::write(LogLevel::Error, "second\nline");
    auto lines = lines_of(test::read_file(*Logger::current_file()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with("Z INFO  first")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("Z ERROR second | line")) << lines[1];
    EXPECT_EQ(lines[0].size(), std::string("2026-12-07T12:27:17Z INFO  first").size());
}

TEST_F(LoggerTest, PrunesToTheNineteenNewestRunLogs) {
    for (int i = 0; i < 25; ++i)
        test::write_file(dir / fmt("stickwright-2020010{}-0000{}.log", i / 10, 10 + i % 10), "old");
    test::write_file(dir / "cli-123.txt", "transcript");
    test::write_file(dir / "stickwright-notes.txt", "not a log");
    test::write_file(dir / "other.log", "not ours");
    Logger::init(dir.path());
    auto names = names_in(dir.path());
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) {
                                return n.starts_with("stickwright-") && n.ends_with(".log");
                            }),
              20);
    // The six that sort first are gone; the transcript and foreign files stay.
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(std::filesystem::exists(
            dir / fmt("stickwright-2020010{}-0000{}.log", i / 10, 10 + i % 10)));
    EXPECT_TRUE(std::filesystem::exists(dir / "stickwright-20200100-000016.log"));
    EXPECT_TRUE(std::filesystem::exists(dir / "cli-123.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "stickwright-notes.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "other.log"));
}

TEST_F(LoggerTest, TranscriptsArePrunedToTheNineteenNewestByAge) {
    // Process numbers say nothing of age: the oldest files get the highest ones.
    const auto now = std::filesystem::file_time_type::clock::now();
    for (int i = 0; i < 25; ++i) {
        auto file = dir / fmt("cli-{}.txt", 1000 - i);
        test::write_file(file, "transcript");
        std::filesystem::last_write_time(file, now - std::chrono::hours(i));
    }
    test::write_file(dir / "stickwright-20200101-000000.log", "a run log");
    test::write_file(dir / "cli-notes.md", "not a transcript");
    prune_transcripts(dir.path());
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(std::filesystem::exists(dir / fmt("cli-{}.txt", 1000 - i)), i < 19) << i;
    EXPECT_TRUE(std::filesystem::exists(dir / "stickwright-20200101-000000.log"));
    EXPECT_TRUE(std::filesystem::exists(dir / "cli-notes.md"));
}

TEST_F(LoggerTest, NineteenOldLogsAreAllKept) {
    for (int i = 0; i < 19; ++i)
        test::write_file(dir / fmt("stickwright-20200101-0000{}.log", 10 + i), "");
    Logger::init(dir.path());
    EXPECT_EQ(names_in(dir.path()).size(), 20u);
}

TEST_F(LoggerTest, DeletedFileIsCreatedAgainByTheNextLine) {
    Logger::init(dir.path());
    auto file = *Logger::current_file();
    Logger::write(LogLevel::Info, "one");
    std::filesystem::remove(file);
    Logger::write(LogLevel::Warn, "two");
    auto lines = lines_of(test::read_file(file));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("WARN  two"));
}

TEST_F(LoggerTest, UnusableDirectoryLeavesLoggingOffSilently) {
    test::write_file(dir / "file", "x");
    Logger::init(dir / "file" / "logs");  // a parent is a file
    EXPECT_FALSE(Logger::current_file());
    Logger::write(LogLevel::Info, "dropped");  // no effect, no crash
}

TEST_F(LoggerTest, LinesFromManyThreadsNeverInterleave) {
    Logger::init(dir.path());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                Logger::write(LogLevel::Info,
                              fmt("thread {} line {} {}", t, i, std::string(200, 'x')));
        });
    }
    for (auto& th : threads)
        th.join();
    auto lines = lines_of(test::read_file(*Logger::current_file()));
    ASSERT_EQ(lines.size(), 200u);
    std::set<std::string> seen;
    for (const auto& l : lines) {
        auto pos = l.find("INFO  thread ");
        ASSERT_NE(pos, std::string::npos) << l;
        EXPECT_TRUE(l.ends_with(std::string(200, 'x'))) << l;
        seen.insert(l.substr(pos));
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(LogDirectory, LocalAppDataFirstThenHome) {
    {
        test::ScopedEnv local("LOCALAPPDATA", "base");
        test::ScopedEnv home("HOME", "home");
        EXPECT_EQ(log_directory(),
                  std::filesystem::path("base") / "Ortivex" / "Stickwright" / "logs");
    }
    {
        test::ScopedEnv local("LOCALAPPDATA", std::nullopt);
        test::ScopedEnv home("HOME", "home");
        EXPECT_EQ(log_directory(), std::filesystem::path("home") / ".local" / "share" / "Ortivex" /
                                       "Stickwright" / "logs");
    }
    {
        test::ScopedEnv local("LOCALAPPDATA", std::nullopt);
        test::ScopedEnv home("HOME", std::nullopt);
        EXPECT_FALSE(log_directory());
    }
    {
        // An empty variable would put the logs in the current directory.
        test::ScopedEnv local("LOCALAPPDATA", "");
        test::ScopedEnv home("HOME", std::nullopt);
        EXPECT_FALSE(log_directory());
    }
}

}  // namespace
}  // namespace sw
