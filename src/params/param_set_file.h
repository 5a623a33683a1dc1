#pragma once
// Parameter sets kept in files: CSV in UTF-8, one parameter a line, readable
// in a text editor and a spreadsheet (docs/param_set_file.md describes it):
//
//     AI参数集,1
//     仪表地址,3
//     小数位数,2
//     导出时间,2025-06-01T14:03:22+08:00
//     软件版本,0.1
//     来源,参数表 3#仪表
//     代码,名称,值
//     1,当前程序段Step,1
//     4,下限报警LoAL,-100.00
//     22,输入InP,K
//     ...
//
// A file is read whole and checked line by line; any problem refuses the
// whole file, so nothing of a faulty file is ever used. A set file is a few
// kilobytes: a file over kMaxParamSetFileBytes is refused unread.
#include "param_set.h"

#include <map>
#include <string>
#include <string_view>

inline constexpr std::string_view kParamSetFileMagic = "AI参数集";
inline constexpr int kParamSetFileVersion = 1;
inline constexpr std::size_t kMaxParamSetFileBytes = 1024 * 1024;

// The bytes of the file at `path` (a name in the file system's encoding):
// a regular file of at most kMaxParamSetFileBytes, never read beyond that
// (nor waited on, when it is a FIFO). Throws EInOutError saying why not.
std::string read_param_set_file_bytes(const std::string& path);

// What a file says about where its set comes from; free texts.
struct ParamSetFileInfo {
    std::string exported_at;
    std::string station_version;
    std::string source;
};

// The file text of a set: a UTF-8 byte-order mark (so that spreadsheets take
// the Chinese names as UTF-8), CR LF line ends, the values by
// set_value_text.
std::string param_set_file_text(const ParamSet& set, const ParamSetFileInfo& info);

struct ParamSetFile {
    ParamSet set; // at the file's own decimal places
    ParamSetFileInfo info;
    std::map<int, std::string> texts; // code -> the value text as the file has it
    std::map<int, int> lines; // code -> its line in the file (from 1)
};

// Reads a set file. Checked: the first line and the format version, the
// header (仪表地址 0..90 and 小数位数 0..4 given once each; no unknown item),
// the title line, and every parameter line: a catalogue code 1..410 given
// once, the catalogue's name for it, and a value its parameter can take
// (param_set_value). Throws EStationError naming every problem with its line
// ("第 12 行（代码 4 下限报警LoAL）：..."); nothing is returned then.
ParamSetFile read_param_set_file(std::string_view text);

// The file's values for an instrument with `dec` decimal places (a value's
// range and resolution may depend on them). Throws as read_param_set_file.
ParamSet param_set_for(const ParamSetFile& file, int dec);

// A value text of `code` as a set value at `dec` decimal places: the word of
// an enumerated code (or a whole number that stands for one), otherwise a
// number within the parameter's range (param_value_range) and no finer than
// its resolution (unit_digits). Throws EConvertError saying what is wrong.
float param_set_value(int code, std::string_view text, int dec);
