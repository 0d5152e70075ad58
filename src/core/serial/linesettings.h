#pragma once

#include <QSerialPort>
#include <QString>

// The line every host of this program speaks to the bootloader on: 115200 baud both ways, 8N1,
// no flow control. A local port, a port on another machine and the wire-time figures all take
// it from here.
namespace line {

inline constexpr qint32 baudRate = 115200;
inline constexpr QSerialPort::DataBits dataBits = QSerialPort::Data8;
inline constexpr QSerialPort::Parity parity = QSerialPort::NoParity;
inline constexpr QSerialPort::StopBits stopBits = QSerialPort::OneStop;
inline constexpr QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
// A start bit, the data bits, no parity bit, one stop bit.
inline constexpr int bitsPerByte = 1 + int(dataBits) + 1;

// "115200 8N1 without flow control", as messages say it.
QString described();

} // namespace line

void applyLineSettings(QSerialPort &port);
