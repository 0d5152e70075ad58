#include "core/serial/closedport.h"

#include <QCoreApplication>
#include <QSerialPort>

void releaseClosedPort(QSerialPort *port)
{
    // Reads and writes here are plain calls made by Qt itself: nothing is pending after close.
    port->setParent(QCoreApplication::instance());
    port->deleteLater();
}
