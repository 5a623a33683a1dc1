#include "event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class EventLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("event_log_test_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        event_log::set_echo(false);
    }
    void TearDown() override
    {
        event_log::close();
        event_log::set_echo(true);
        fs::remove_all(dir);
    }
    static std::string read(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir;
};

// "yyyy-MM-dd HH:mm:ss.zzz [topic] text" split into "topic:text"; empty when
// the line does not have that shape. (A hand-made matcher: GCC 12 warns inside
// <regex> under the sanitizers.)
std::string topic_and_text(const std::string& l)
{
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd [";
    if (l.size() <= shape.size())
        return {};
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool ok = shape[i] == 'd' ? (l[i] >= '0' && l[i] <= '9') : l[i] == shape[i];
        if (!ok)
            return {};
    }
    const size_t close = l.find("] ", shape.size());
    if (close == std::string::npos || close == shape.size())
        return {};
    return l.substr(shape.size(), close - shape.size()) + ":" + l.substr(close + 2);
}

} // namespace

TEST_F(EventLog, LinesCarryTimeTopicAndTextOnOneLine)
{
    const fs::path file = dir / "station.log";
    ASSERT_TRUE(event_log::open(file.string()));
    EXPECT_EQ(event_log::path(), file.string());
    event_log::write("串口", "串口 com1 已断开");
    event_log::write("错误", "两行\n的消息");
    const std::string text = read(file);
    std::istringstream lines(text);
    std::string l;
    std::vector<std::string> seen;
    while (std::getline(lines, l)) {
        const std::string parsed = topic_and_text(l);
        ASSERT_FALSE(parsed.empty()) << l;
        seen.push_back(parsed);
    }
    EXPECT_EQ(seen, (std::vector<std::string> { "串口:串口 com1 已断开", "错误:两行 / 的消息" }));
}

// Months of events keep a bounded number of bounded files, the newest last.
TEST_F(EventLog, RotationKeepsTheNewestLinesInBoundedFiles)
{
    const fs::path file = dir / "station.log";
    ASSERT_TRUE(event_log::open(file.string(), 1000, 2));
    for (int i = 0; i < 500; ++i)
        event_log::write("t", "line " + std::to_string(i));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
        EXPECT_LE(fs::file_size(e.path()), 1000u) << e.path();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> { "station.log", "station.log.1", "station.log.2" }));
    EXPECT_NE(read(file).find("line 499\n"), std::string::npos);
    EXPECT_EQ(read(dir / "station.log.2").find("line 0\n"), std::string::npos) << "the oldest lines are gone";
    // Reopening appends to the current file and keeps counting its size.
    event_log::close();
    ASSERT_TRUE(event_log::open(file.string(), 1000, 2));
    event_log::write("t", "after reopen");
    EXPECT_LE(fs::file_size(file), 1000u);
    EXPECT_NE(read(file).find("after reopen"), std::string::npos);
}

TEST_F(EventLog, AFileThatCannotBeOpenedLeavesStandardErrorOnly)
{
    EXPECT_FALSE(event_log::open((dir / "no" / "such" / "station.log").string()));
    EXPECT_EQ(event_log::path(), "");
    event_log::write("t", "still fine");
}
