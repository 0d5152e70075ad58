#include "core/serial/closedport.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QThread>

void releaseClosedPort(QSerialPort *port)
{
    // Reads and writes here are plain calls made by Qt itself: nothing is pending after close.
    // On a thread of its own, it stays there: the thread ends with the application.
    const bool here = port->thread() == QCoreApplication::instance()->thread();
    port->setParent(here ? QCoreApplication::instance() : nullptr);
    port->deleteLater();
}
