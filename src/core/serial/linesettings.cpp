#include "core/serial/linesettings.h"

static_assert(line::parity == QSerialPort::NoParity && line::stopBits == QSerialPort::OneStop,
              "bitsPerByte and described() count no parity bit and one stop bit");

QString line::described()
{
    return QStringLiteral("%1 %2N1 without flow control").arg(baudRate).arg(int(dataBits));
}

void applyLineSettings(QSerialPort &port)
{
    port.setBaudRate(line::baudRate, QSerialPort::AllDirections);
    port.setDataBits(line::dataBits);
    port.setParity(line::parity);
    port.setStopBits(line::stopBits);
    port.setFlowControl(line::flowControl);
}
