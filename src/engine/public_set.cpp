#include "public_set.h"

std::int32_t cur_addr = 0;
std::int32_t cur_code = 0;
std::vector<byte_t> rx_buf;
byte_t reply_ok = 0;

double sv_value = 0;
double pv_value = 0;
std::int32_t mv_raw = 0;
byte_t alarm_byte = 0;
float para_value = 0;

byte_t addr_enabled[kAddrTableSize] = {};
byte_t dec_places[kDecPlacesSize] = {};
const byte_t inp_dec_table[kInpDecTableSize] = {3, 2, 2, 2, 2, 2, 2, 2, 2,
                                                3, 2, 2, 3, 4, 2, 2, 2, 2};
byte_t addr_slot[kAddrTableSize] = {};

byte_t write_pending = 0;
byte_t ctrl_cmd_pending = 0;
byte_t para_run_active = 0;
byte_t scan_active = 0;
byte_t inst_count = 0;
byte_t cur_slot = 0;
byte_t segment_count = 0;
const std::int32_t run_code_base = 52;

std::int32_t edit_addr[kEditQueueSize] = {};
std::int32_t edit_code[kEditQueueSize] = {};
std::string edit_text[kEditQueueSize];
std::int32_t edit_count = 0;
std::int32_t edit_next = 0;
byte_t db_load_col = 0;

std::uint16_t chart_clock = 0;
byte_t chart_running = 0;
byte_t run_seen = 0;
double deviation = 0;

void public_set_reset()
{
    cur_addr = 0;
    cur_code = 0;
    rx_buf.clear();
    reply_ok = 0;
    sv_value = pv_value = 0;
    mv_raw = 0;
    alarm_byte = 0;
    para_value = 0;
    for (auto& v : addr_enabled)
        v = 0;
    for (auto& v : dec_places)
        v = 0;
    for (auto& v : addr_slot)
        v = 0;
    write_pending = ctrl_cmd_pending = para_run_active = scan_active = 0;
    inst_count = cur_slot = segment_count = 0;
    for (int i = 0; i < kEditQueueSize; ++i) {
        edit_addr[i] = 0;
        edit_code[i] = 0;
        edit_text[i].clear();
    }
    edit_count = edit_next = 0;
    db_load_col = 0;
    chart_clock = 0;
    chart_running = run_seen = 0;
    deviation = 0;
}

bool address_in(int address, int table_size) { return address >= 0 && address < table_size; }

int dec_places_of(int address)
{
    return address_in(address, kDecPlacesSize) ? dec_places[address] : 0;
}

void set_dec_places(int address, int places)
{
    if (address_in(address, kDecPlacesSize))
        dec_places[address] = static_cast<byte_t>(places);
}

int inp_dec_places(int input_type)
{
    return input_type >= 0 && input_type < kInpDecTableSize ? inp_dec_table[input_type] : -1;
}
