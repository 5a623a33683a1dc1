#include "param_set_file.h"

#include "convert.h"
#include "errors.h"
#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_value.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
const std::string kAddressKey = "仪表地址";
const std::string kDecimalsKey = "小数位数";
const std::string kTimeKey = "导出时间";
const std::string kVersionKey = "软件版本";
const std::string kSourceKey = "来源";
const std::vector<std::string> kTitle = { "代码", "名称", "值" };
constexpr int kMaxAddress = 90;
constexpr int kMaxDecimalPlaces = 4;
constexpr size_t kProblemsShown = 20;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string csv_field(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos && trimmed(text) == text)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void add_line(std::string& out, const std::vector<std::string>& fields)
{
    for (size_t i = 0; i < fields.size(); ++i)
        out += (i ? "," : "") + csv_field(fields[i]);
    out += "\r\n";
}

// The fields of one line: separated by commas, a field in double quotes may
// hold commas and doubled quotes; blanks around unquoted fields are dropped,
// and so are empty fields at the end (a spreadsheet pads short rows with
// them). Nothing when a quote is not closed on the line.
std::optional<std::vector<std::string>> split_line(std::string_view line)
{
    std::vector<std::string> fields;
    size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            while (true) {
                if (i >= line.size())
                    return std::nullopt;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            if (i < line.size() && line[i] != ',')
                return std::nullopt;
        } else {
            const size_t comma = line.find(',', i);
            const size_t end = comma == std::string_view::npos ? line.size() : comma;
            field = std::string(trimmed(line.substr(i, end - i)));
            i = end;
        }
        fields.push_back(std::move(field));
        if (i >= line.size())
            break;
        ++i; // the comma
    }
    while (!fields.empty() && fields.back().empty())
        fields.pop_back();
    return fields;
}

// Decimals a number text needs (trailing zeros do not count): "12.340" needs
// 2, "1200e-2" none, "1e-4" four. The text is a number str_to_float accepts.
long long decimals_needed(std::string_view text)
{
    text = trimmed(text);
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::string digits;
    long long point = -1;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] == '.')
            point = static_cast<long long>(digits.size());
        else
            digits += text[i];
    }
    if (point < 0)
        point = static_cast<long long>(digits.size());
    if (i < text.size()) {
        const std::string_view e = text.substr(i + 1);
        const bool minus = !e.empty() && e[0] == '-';
        long long exponent = 0;
        for (char c : e)
            if (c >= '0' && c <= '9' && exponent < 100000)
                exponent = exponent * 10 + (c - '0');
        point += minus ? -exponent : exponent;
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    // Only zeros: zero needs no decimals, whatever the exponent ("0e-2").
    if (digits.find_first_not_of('0') == std::string::npos)
        return 0;
    const long long needed = static_cast<long long>(digits.size()) - point;
    return needed > 0 ? needed : 0;
}

std::string joined_words(int code)
{
    std::string text;
    for (const std::string& word : param_words(code))
        text += (text.empty() ? "" : "、") + word;
    return text;
}

bool is_number(std::string_view text)
{
    try {
        (void)str_to_float(text);
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

// The problems of a file, listed in line order (the values are checked after
// the lines are read, yet the operator reads the file top to bottom; a
// problem of the whole file comes last): the kProblemsShown first lines are
// kept in words, the rest only counted (a file of garbage lines must not
// cost a string a line).
class Problems {
public:
    void add(int line, const std::string& what) { keep(line, "第 " + std::to_string(line) + " 行：" + what); }
    void add(const std::string& what) { keep(std::numeric_limits<int>::max(), what); }
    bool any() const { return count_ > 0; }
    [[noreturn]] void raise() const
    {
        std::vector<std::pair<int, std::string>> sorted = list_;
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string text = "参数集文件有 " + std::to_string(count_) + " 处错误：";
        for (const auto& [line, what] : sorted)
            text += "\n" + what;
        if (count_ > list_.size())
            text += "\n……另有 " + std::to_string(count_ - list_.size()) + " 处";
        throw EStationError(text);
    }

private:
    void keep(int line, std::string text)
    {
        ++count_;
        list_.emplace_back(line, std::move(text));
        if (list_.size() <= kProblemsShown)
            return;
        // Over the limit: the last of the latest lines goes.
        auto last = list_.begin();
        for (auto it = list_.begin(); it != list_.end(); ++it)
            if (it->first >= last->first)
                last = it;
        list_.erase(last);
    }
    std::vector<std::pair<int, std::string>> list_;
    size_t count_ = 0;
};

std::string code_label(int code)
{
    return "代码 " + std::to_string(code) + " " + param_name(code);
}

ParamSet checked_values(const ParamSetFile& file, int dec, Problems& problems)
{
    ParamSet set;
    set.address = file.set.address;
    set.decimal_places = dec;
    for (const auto& [code, text] : file.texts) {
        try {
            set.values[code] = param_set_value(code, text, dec);
        } catch (const EConvertError& e) {
            problems.add(file.lines.at(code), "（" + code_label(code) + "）" + e.what());
        }
    }
    return set;
}

// A header item's whole number within first..last.
std::optional<int> header_number(const std::string& text, int first, int last)
{
    try {
        const int n = str_to_int(text);
        if (n >= first && n <= last)
            return n;
    } catch (const EConvertError&) {
    }
    return std::nullopt;
}

} // namespace

std::string read_param_set_file_bytes(const std::string& path)
{
    const auto fail = [](const std::string& why) -> std::string { throw EInOutError(why); };
    // O_NONBLOCK: a FIFO chosen by mistake is refused, not waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(std::string("无法打开文件：") + std::strerror(errno));
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(st.st_mode) ? "这是一个目录，不是文件" : "不是普通文件");
    }
    const auto too_big = [&](unsigned long long size) {
        ::close(fd);
        return fail("文件有 " + std::to_string(size) + " 字节，超过参数集文件的上限 1 MiB（"
            + std::to_string(kMaxParamSetFileBytes) + " 字节），未读取");
    };
    if (static_cast<unsigned long long>(st.st_size) > kMaxParamSetFileBytes)
        return too_big(static_cast<unsigned long long>(st.st_size));
    // One byte past the limit tells a file that grew since fstat.
    std::string bytes(kMaxParamSetFileBytes + 1, '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return fail(std::string("读取文件时出错：") + std::strerror(err));
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got > kMaxParamSetFileBytes)
        return too_big(got);
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

float param_set_value(int code, std::string_view text, int dec)
{
    if (param_text_class(code) == TextClass::Enumerated) {
        const auto& words = param_words(code);
        for (size_t i = 0; i < words.size(); ++i)
            if (words[i] == text)
                return static_cast<float>(i);
        if (!is_number(text))
            throw EConvertError("'" + std::string(text) + "' 不是 " + param_name(code) + " 的取值（" + joined_words(code)
                                + "）");
    }
    const float value = grid_write_value(code, text, dec);
    const int digits = unit_digits(code, dec);
    if (decimals_needed(text) > digits)
        throw EConvertError("'" + std::string(text) + "' 比该参数的分辨率（"
                            + (digits == 0 ? std::string("1") : "0." + std::string(static_cast<size_t>(digits - 1), '0') + "1")
                            + "）更精细");
    return value;
}

std::string param_set_file_text(const ParamSet& set, const ParamSetFileInfo& info)
{
    std::string out(kBom);
    add_line(out, { std::string(kParamSetFileMagic), std::to_string(kParamSetFileVersion) });
    add_line(out, { kAddressKey, std::to_string(set.address) });
    add_line(out, { kDecimalsKey, std::to_string(set.decimal_places) });
    add_line(out, { kTimeKey, info.exported_at });
    add_line(out, { kVersionKey, info.station_version });
    add_line(out, { kSourceKey, info.source });
    add_line(out, kTitle);
    for (const auto& [code, value] : set.values)
        add_line(out, { std::to_string(code), param_name(code), set_value_text(code, value, set.decimal_places) });
    return out;
}

ParamSetFile read_param_set_file(std::string_view text)
{
    if (text.substr(0, kBom.size()) == kBom)
        text.remove_prefix(kBom.size());
    enum class Stage { Magic, Header, Rows } stage = Stage::Magic;
    ParamSetFile file;
    Problems problems;
    std::optional<int> decimals;
    std::map<std::string, int> header_lines;
    int line_no = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const auto split = split_line(line);
        if (!split) {
            problems.add(line_no, "引号没有闭合");
            continue;
        }
        const std::vector<std::string>& fields = *split;
        if (fields.empty())
            continue;
        if (stage == Stage::Magic) {
            if (fields[0] != kParamSetFileMagic) {
                problems.add(line_no, "不是参数集文件（第一行应为“AI参数集," + std::to_string(kParamSetFileVersion) + "”）");
                problems.raise();
            }
            if (fields.size() != 2 || fields[1] != std::to_string(kParamSetFileVersion)) {
                problems.add(line_no, "文件格式版本 '" + (fields.size() > 1 ? fields[1] : std::string()) + "' 不受支持（本站读取版本 "
                                          + std::to_string(kParamSetFileVersion) + "）");
                problems.raise();
            }
            stage = Stage::Header;
            continue;
        }
        if (stage == Stage::Header) {
            if (fields == kTitle) {
                stage = Stage::Rows;
                continue;
            }
            const std::string& key = fields[0];
            if (fields.size() > 2) {
                problems.add(line_no, "“" + key + "”一行应只有项目与内容两栏");
                continue;
            }
            if (header_lines.count(key)) {
                problems.add(line_no, "“" + key + "”已在第 " + std::to_string(header_lines[key]) + " 行给出");
                continue;
            }
            header_lines[key] = line_no;
            const std::string value = fields.size() > 1 ? fields[1] : std::string();
            if (key == kAddressKey) {
                const auto address = header_number(value, 0, kMaxAddress);
                if (address)
                    file.set.address = *address;
                else
                    problems.add(line_no, "仪表地址 '" + value + "' 不是 0..90 的整数");
            } else if (key == kDecimalsKey) {
                decimals = header_number(value, 0, kMaxDecimalPlaces);
                if (!decimals)
                    problems.add(line_no, "小数位数 '" + value + "' 不是 0..4 的整数");
            } else if (key == kTimeKey) {
                file.info.exported_at = value;
            } else if (key == kVersionKey) {
                file.info.station_version = value;
            } else if (key == kSourceKey) {
                file.info.source = value;
            } else {
                problems.add(line_no, "未知的项目“" + key + "”");
            }
            continue;
        }
        // A parameter line.
        if (fields.size() != 3) {
            problems.add(line_no, fields.size() < 3 ? "缺少栏目（应为 代码,名称,值）" : "多余的栏目（应为 代码,名称,值）");
            continue;
        }
        int code = -1;
        try {
            code = str_to_int(fields[0]);
        } catch (const EConvertError&) {
            problems.add(line_no, "'" + fields[0] + "' 不是参数代码");
            continue;
        }
        if (code == 0) {
            problems.add(line_no, "代码 0（" + param_name(0) + "）是输出值，不属于参数集");
            continue;
        }
        if (!is_param_code(code)) {
            problems.add(line_no, "未知的参数代码 " + std::to_string(code) + "（参数代码为 1..410）");
            continue;
        }
        if (file.lines.count(code)) {
            problems.add(line_no, "代码 " + std::to_string(code) + " 已在第 " + std::to_string(file.lines[code]) + " 行给出");
            continue;
        }
        if (fields[1] != param_name(code)) {
            problems.add(line_no, "代码 " + std::to_string(code) + " 的名称应为“" + param_name(code) + "”，文件中为“"
                                      + fields[1] + "”");
            continue;
        }
        file.lines[code] = line_no;
        file.texts[code] = fields[2];
    }
    if (stage == Stage::Magic)
        problems.add("文件是空的");
    else if (stage == Stage::Header)
        problems.add("缺少标题行“代码,名称,值”");
    else if (file.texts.empty() && !problems.any())
        problems.add("文件中没有参数");
    if (stage != Stage::Magic && !header_lines.count(kAddressKey))
        problems.add("缺少“" + kAddressKey + "”");
    if (stage != Stage::Magic && !header_lines.count(kDecimalsKey))
        problems.add("缺少“" + kDecimalsKey + "”");
    if (decimals)
        file.set = checked_values(file, *decimals, problems);
    if (problems.any())
        problems.raise();
    return file;
}

ParamSet param_set_for(const ParamSetFile& file, int dec)
{
    Problems problems;
    ParamSet set = checked_values(file, dec, problems);
    if (problems.any())
        problems.raise();
    return set;
}
