#pragma once

class QSerialPort;

// 115200 baud both ways, 8N1, no flow control: the line every host of this program uses.
void applyLineSettings(QSerialPort &port);
