// The poll cycle and both ends of the line: one read of code 0 per tick to the
// next enabled address, the send with its pause, and the receive handler.
#include "convert.h"
#include "form1.h"
#include "frame_codec.h"
#include "public_set.h"
#include "scomm.h"
#include "ttimer.h"
#include "iIntegerOutput.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <chrono>
#include <thread>

// The highest address the poll and the scan may use: a typed limit above 90 is
// taken as 90, so no address table is read beyond its entries; a negative limit
// leaves nothing to poll or probe.
int TForm1::address_limit() const
{
    const int n = str_to_int(ComboBox10->currentText().toStdString());
    return n > kMaxAddress ? kMaxAddress : n;
}

// The sampling period in seconds; a negative period (possible only from the
// settings file) counts as 0.
int TForm1::poll_period() const
{
    const int period = iIntegerOutput1->Value();
    return period < 0 ? 0 : period;
}

void TForm1::Timer1Timer(QObject*)
{
    if (setup_write_pending) {
        // An address or baud-rate write went out since the last tick: whether or
        // not it was answered, monitoring resumes now.
        setup_write_pending = false;
        write_pending = 0;
    }
    if (!reply_ok)
        set_comm_led(true);
    sv_value = 0;
    pv_value = 0;
    para_value = 0;
    alarm_byte = 0;
    mv_raw = 0;

    const int first = (cur_addr + 1) % 256;
    const int last = address_limit();
    int taken = -1;
    for (int a = first; a <= last; ++a) {
        if (address_in(a, kAddrTableSize) && addr_enabled[a]) {
            taken = a;
            break;
        }
    }
    if (taken >= 0) {
        cur_addr = taken;
        Label28->setText(QString::number(cur_addr));
        ++cur_slot;
        addr_slot[cur_addr] = cur_slot;
        if (!read_all_running()) {
            cur_code = 0;
            scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), 0));
        }
    }
    if (chart_running)
        chart_clock = static_cast<std::uint16_t>((chart_clock + poll_period()) % 65536);
    if (taken < 0) {
        cur_addr = -1;
        cur_slot = 0;
        chart_running = run_seen;
        run_seen = 0;
    }
}

bool TForm1::scomm485_write_command(const std::string& frame)
{
    set_comm_led(false);
    // The frame's bytes as characters, up to the first zero byte (a text line
    // cannot hold one).
    const size_t shown = frame.find('\0');
    Memo1->appendPlainText(QString::fromLatin1(frame.data(), static_cast<qsizetype>(
                                                                 shown == std::string::npos ? frame.size() : shown)));
    Label28->setText(QString::number(cur_addr));
    if (on_frame_sent)
        on_frame_sent(frame);
    if (!SComm1_485->SendData(frame.data(), static_cast<unsigned short>(frame.size())))
        set_comm_led(false);
    if (send_pause_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(send_pause_ms));
    return false;
}

void TForm1::SComm1_485ReceiveData(TSComm*, const char* Buffer, unsigned short BufferLength)
{
    rx_buf.assign(static_cast<size_t>(BufferLength) + 1, 0);
    if (BufferLength != kReplyLength)
        return;
    set_comm_led(true);
    for (int i = 0; i < kReplyLength; ++i)
        rx_buf[static_cast<size_t>(i) + 1] = static_cast<byte_t>(Buffer[i]);
    Memo2->appendPlainText(QString::fromStdString(to_hex(rx_buf.data() + 1, kReplyLength)));
    command_dispose();
}
