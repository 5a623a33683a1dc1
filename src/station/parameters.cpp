#include "parameters.h"

#include "form1.h"
#include "param_grid.h"

#include "param_text.h"
#include "public_set.h"

#include <QTabWidget>

void parachange() { para_value = clamp_param(cur_code, para_value); }

std::string get_com_string(float value) { return enum_word(cur_code, value); }

int get_com_byte(std::string_view text) { return enum_value(cur_code, text); }

void TForm1::strgrid_init() { ::strgrid_init(*StringGrid1); }

void TForm1::TabSheet2Show() { PageControl2->setCurrentWidget(TabSheet14); }
