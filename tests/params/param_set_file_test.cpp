#include "errors.h"
#include "param_set_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A small valid file at two decimal places; `rows` are the parameter lines.
std::string file_with(const std::string& rows, const std::string& header = "仪表地址,3\n小数位数,2\n")
{
    return "AI参数集,1\n" + header + "代码,名称,值\n" + rows;
}

// The message of the refusal of `text`; empty when the file was accepted.
std::string refusal(const std::string& text)
{
    try {
        (void)read_param_set_file(text);
    } catch (const EStationError& e) {
        return e.what();
    }
    return {};
}

} // namespace

// A set with a value of every class goes to a file and comes back unchanged,
// with the address, the decimal places and the file's information.
TEST(ParamSetFile, RoundTripKeepsEveryValueClass)
{
    ParamSet set;
    set.address = 7;
    set.decimal_places = 2;
    set.values = {
        { 1, 3.0f }, // integer
        { 2, -500.0f }, // integer, negative
        { 4, -125.5f }, // five-digit decimal
        { 7, 0.5f },
        { 9, 3.0f }, // enumerated "onOF"
        { 22, 12.0f }, // enumerated "Ω"
        { 23, 2.0f }, // enumerated "三位"
        { 25, 1300.0f }, // beyond 9999 counts
        { 29, 1.0f }, // "rELy"
        { 35, 9600.0f },
        { 40, 2.0f },
        { 42, 11219.0f },
        { 45, 7.0f }, // EP3, a plain word
        { 51, 49999.99f }, // program set point near the five-digit limit
        { 52, 12.5f }, // program time in tenths
        { 53, -50.25f },
        { 54, 3276.7f }, // the longest time a word holds
    };
    ParamSetFileInfo info;
    info.exported_at = "2025-06-01T14:03:22+08:00";
    info.station_version = "0.1";
    info.source = "参数表 7#仪表";
    const std::string text = param_set_file_text(set, info);
    ASSERT_EQ(text.rfind("\xEF\xBB\xBF" "AI参数集,1\r\n仪表地址,7\r\n小数位数,2\r\n", 0), 0u) << text;
    for (const char* line : { "\r\n4,下限报警LoAL,-125.50\r\n", "\r\n22,输入InP,Ω\r\n", "\r\n23,显示dPt,三位\r\n",
             "\r\n51,SP1,49999.99\r\n", "\r\n52,t1,12.5\r\n", "\r\n45,EP3,7\r\n", "\r\n来源,参数表 7#仪表\r\n" })
        EXPECT_NE(text.find(line), std::string::npos) << line;

    const ParamSetFile file = read_param_set_file(text);
    EXPECT_EQ(file.set.address, 7);
    EXPECT_EQ(file.set.decimal_places, 2);
    EXPECT_EQ(file.set.values, set.values);
    EXPECT_EQ(file.info.exported_at, info.exported_at);
    EXPECT_EQ(file.info.station_version, info.station_version);
    EXPECT_EQ(file.info.source, info.source);
    EXPECT_EQ(param_set_file_text(file.set, file.info), text);
}

// What a text editor or a spreadsheet makes of the file is still read: no
// byte-order mark, LF line ends, blanks, quotes, padded rows, blank lines, an
// exponent, a number in place of a word.
TEST(ParamSetFile, HandEditedFilesAreRead)
{
    const std::string text = "AI参数集,1,,\n"
                             "仪表地址, 5 ,,\n"
                             "\n"
                             "小数位数,1\n"
                             "来源,\"手工, 修改\"\n"
                             "代码,名称,值\n"
                             " 4 , \"下限报警LoAL\" , -125.5 \n"
                             "13,AI-P:P,600,\n"
                             "29,Opt,2\n"
                             "3,上限报警HiAL,1.5E2\n"
                             ",,\n";
    const ParamSetFile file = read_param_set_file(text);
    EXPECT_EQ(file.set.address, 5);
    EXPECT_EQ(file.set.decimal_places, 1);
    EXPECT_EQ(file.info.source, "手工, 修改");
    const std::map<int, float> expected = { { 3, 150.0f }, { 4, -125.5f }, { 13, 600.0f }, { 29, 2.0f } };
    EXPECT_EQ(file.set.values, expected);
    EXPECT_EQ(file.lines.at(4), 7);
    EXPECT_EQ(file.texts.at(4), "-125.5");
}

// A faulty file is refused whole, naming the line and what is wrong.
TEST(ParamSetFile, RefusalsNameTheLineAndTheProblem)
{
    const struct {
        const char* name;
        std::string text;
        const char* says;
    } cases[] = {
        { "unknown code", file_with("4,下限报警LoAL,-100.00\n411,t181,5\n"), "第 6 行：未知的参数代码 411" },
        { "manual output", file_with("0,手动功率MP,50\n"), "第 5 行：代码 0（手动功率MP）是输出值，不属于参数集" },
        { "not a code", file_with("x4,下限报警LoAL,1\n"), "第 5 行：'x4' 不是参数代码" },
        { "code twice", file_with("4,下限报警LoAL,1\n4,下限报警LoAL,2\n"), "第 6 行：代码 4 已在第 5 行给出" },
        { "name of another code", file_with("4,上限报警HiAL,1\n"),
            "第 5 行：代码 4 的名称应为“下限报警LoAL”，文件中为“上限报警HiAL”" },
        { "word not in the table", file_with("29,Opt,relay\n"),
            "第 5 行：（代码 29 Opt）'relay' 不是 Opt 的取值（SSr、rELy、mA、PHA、PHAd）" },
        { "enumerated number out of range", file_with("29,Opt,5\n"), "（代码 29 Opt）'5' 超出范围 0 .. 4" },
        { "out of the catalogue range", file_with("4,下限报警LoAL,10000\n"), "'10000' 超出范围 -3000 .. 9999" },
        { "integer below its range", file_with("13,AI-P:P,0\n"), "'0' 超出范围 1 .. 32000" },
        { "beyond what the frame carries", file_with("51,SP1,60000\n"), "'60000' 超出范围 -50000 .. 50000" },
        { "finer than two places", file_with("4,下限报警LoAL,-125.555\n"), "'-125.555' 比该参数的分辨率（0.01）更精细" },
        { "fraction of an integer", file_with("13,AI-P:P,12.5\n"), "'12.5' 比该参数的分辨率（1）更精细" },
        { "not a number", file_with("4,下限报警LoAL,abc\n"), "'abc' 不是数值" },
        { "value missing", file_with("4,下限报警LoAL\n"), "第 5 行：缺少栏目" },
        { "no parameters", file_with(""), "文件中没有参数" },
        { "address missing", file_with("4,下限报警LoAL,1\n", "小数位数,2\n"), "缺少“仪表地址”" },
        { "address out of range", file_with("4,下限报警LoAL,1\n", "仪表地址,91\n小数位数,2\n"),
            "第 2 行：仪表地址 '91' 不是 0..90 的整数" },
        { "decimal places out of range", file_with("4,下限报警LoAL,1\n", "仪表地址,3\n小数位数,7\n"),
            "第 3 行：小数位数 '7' 不是 0..4 的整数" },
        { "unknown header item", file_with("4,下限报警LoAL,1\n", "仪表地址,3\n小数位数,2\n颜色,红\n"),
            "第 4 行：未知的项目“颜色”" },
        { "header item twice", file_with("4,下限报警LoAL,1\n", "仪表地址,3\n仪表地址,4\n小数位数,2\n"),
            "第 3 行：“仪表地址”已在第 2 行给出" },
        { "no title line", "AI参数集,1\n仪表地址,3\n小数位数,2\n", "缺少标题行“代码,名称,值”" },
        { "not a set file", "代码,名称,值\n4,下限报警LoAL,1\n", "第 1 行：不是参数集文件" },
        { "another format version", "AI参数集,2\n", "文件格式版本 '2' 不受支持" },
        { "quote not closed", file_with("4,\"下限报警LoAL,1\n"), "第 5 行：引号没有闭合" },
        { "empty file", "", "文件是空的" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string says = refusal(c.text);
        EXPECT_NE(says.find(c.says), std::string::npos) << says;
    }
    // Every problem of a file is named, not only the first.
    const std::string two = refusal(file_with("4,下限报警LoAL,abc\n13,AI-P:P,0\n22,输入InP,K\n"));
    EXPECT_NE(two.find("参数集文件有 2 处错误"), std::string::npos) << two;
    EXPECT_NE(two.find("第 5 行"), std::string::npos) << two;
    EXPECT_NE(two.find("第 6 行"), std::string::npos) << two;
    // Listed in line order, although values are checked after the lines are
    // read: a bad value (line 5) before a bad line (line 6).
    const std::string mixed = refusal(file_with("4,下限报警LoAL,abc\n13,AI-P:P\n"));
    const size_t l5 = mixed.find("第 5 行"), l6 = mixed.find("第 6 行");
    ASSERT_NE(l5, std::string::npos) << mixed;
    ASSERT_NE(l6, std::string::npos) << mixed;
    EXPECT_LT(l5, l6) << mixed;
}

// A file's values are checked again for the instrument they go to: its
// decimal places set the resolution (and the range of the unclamped codes).
TEST(ParamSetFile, ValuesAreCheckedForTheTargetsDecimalPlaces)
{
    const ParamSetFile file = read_param_set_file(file_with("4,下限报警LoAL,-125.5\n51,SP1,40000\n", "仪表地址,3\n小数位数,1\n"));
    const ParamSet at2 = param_set_for(file, 2);
    EXPECT_EQ(at2.decimal_places, 2);
    EXPECT_EQ(at2.values.at(4), -125.5f);
    try {
        (void)param_set_for(file, 0);
        ADD_FAILURE() << "accepted at no decimal places";
    } catch (const EStationError& e) {
        EXPECT_NE(std::string(e.what()).find("'-125.5' 比该参数的分辨率（1）更精细"), std::string::npos) << e.what();
    }
    try {
        (void)param_set_for(file, 3); // 40000 is beyond 5000000 thousandths
        ADD_FAILURE() << "accepted at three decimal places";
    } catch (const EStationError& e) {
        EXPECT_NE(std::string(e.what()).find("'40000' 超出范围 -5000 .. 5000"), std::string::npos) << e.what();
    }
}

// Zero needs no decimals, however it is written: an exponent does not make it
// finer than an integer parameter's resolution. Other values still do.
TEST(ParamSetFile, ZeroIsZeroWhateverItsExponent)
{
    for (const char* zero : { "0e-2", "-0E-5", "0.000e+3", "00e3", "0" }) {
        SCOPED_TRACE(zero);
        const ParamSetFile file
            = read_param_set_file(file_with(std::string("4,下限报警LoAL,") + zero + "\n", "仪表地址,3\n小数位数,0\n"));
        EXPECT_EQ(file.set.values.at(4), 0.0f);
    }
    EXPECT_NE(refusal(file_with("4,下限报警LoAL,1e-2\n", "仪表地址,3\n小数位数,0\n")).find("更精细"), std::string::npos);
    EXPECT_EQ(refusal(file_with("4,下限报警LoAL,500e-2\n", "仪表地址,3\n小数位数,0\n")), "");
}

// A set file is read only when it is a regular file of at most 1 MiB; a
// bigger one is refused unread, a FIFO without waiting for a writer.
TEST(ParamSetFile, OnlyRegularFilesUpToOneMebibyteAreRead)
{
    char pattern[] = "/tmp/param_set_file_XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const auto write = [&](const std::string& name, std::size_t size) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        const std::string head = file_with("4,下限报警LoAL,1\n");
        out << head << std::string(size - head.size(), '\n');
        return dir + "/" + name;
    };
    const std::string limit = write("limit.csv", kMaxParamSetFileBytes);
    const std::string over = write("over.csv", kMaxParamSetFileBytes + 1);
    const std::string fifo = dir + "/fifo.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sub = dir + "/folder.csv";
    ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);

    const std::string bytes = read_param_set_file_bytes(limit);
    EXPECT_EQ(bytes.size(), kMaxParamSetFileBytes);
    EXPECT_EQ(read_param_set_file(bytes).set.values.at(4), 1.0f);
    const struct {
        std::string path;
        const char* says;
    } refused[] = {
        { over, "文件有 1048577 字节，超过参数集文件的上限 1 MiB" },
        { fifo, "不是普通文件" },
        { sub, "目录" },
        { dir + "/missing.csv", "无法打开文件" },
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.path);
        try {
            (void)read_param_set_file_bytes(c.path);
            ADD_FAILURE() << "read";
        } catch (const EInOutError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
    for (const std::string& f : { limit, over, fifo })
        std::remove(f.c_str());
    ::rmdir(sub.c_str());
    ::rmdir(dir.c_str());
}
