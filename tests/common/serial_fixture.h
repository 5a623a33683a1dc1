#pragma once
// A main window for the serial settings tests: what the settings file holds
// after a save, and whether a frame sent through the station's port reaches
// a pseudo-terminal's far end.
#include "form_fixture.h"
#include "pty_port.h"
#include "scomm.h"

#include <QByteArray>
#include <QFile>

#include <string>

class SerialSettings : public FormFixture {
protected:
    QByteArray saved() const
    {
        QFile file(dir.filePath(QStringLiteral("save.txt")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    // A frame sent now reaches the port's far end.
    static bool frame_arrives(TForm1& f, const PtyPort& port)
    {
        const std::string frame = "\x81\x81\xA4\x00\x00\x00\xA5\x00";
        f.SComm1_485->SendData(frame.data(), static_cast<unsigned short>(frame.size()));
        return port.read(frame.size(), 2000) == std::string(frame.data(), frame.size());
    }
};
