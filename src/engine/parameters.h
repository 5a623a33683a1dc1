#pragma once
// Parameter conversions bound to the shared state: the code comes from
// cur_code, the clamped value lives in para_value.
#include "param_value.h"

#include <string>
#include <string_view>

// Clamps para_value by the catalogue range of cur_code.
void parachange();

// Word of `value` for an enumerated cur_code; empty otherwise or without word.
std::string get_com_string(float value);

// Position of `text` in cur_code's word table; EConvertError naming the text
// and the parameter when it is not a word of it.
int get_com_byte(std::string_view text);
