#include "parameters.h"

#include "param_text.h"
#include "public_set.h"

void parachange() { para_value = clamp_param(cur_code, para_value); }

std::string get_com_string(float value) { return enum_word(cur_code, value); }

int get_com_byte(std::string_view text) { return enum_value(cur_code, text); }
