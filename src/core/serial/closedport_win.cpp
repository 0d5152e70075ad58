#include "core/serial/closedport.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

namespace {
// Far longer than a cancelled request takes to complete, even on a loaded machine.
constexpr int heldAfterCloseMs = 10000;
} // namespace

void releaseClosedPort(QSerialPort *port)
{
    // Qt's close() cancels the port's overlapped read, write and event wait but does not wait
    // for them: the system completes each later, writing into the OVERLAPPED structures and the
    // read buffer that live in the port object. Deleted at once, that memory may be another
    // object's by then (seen as a corrupted heap after some hundred closes).
    // On a thread of its own, it stays there: the thread ends with the application.
    const bool here = port->thread() == QCoreApplication::instance()->thread();
    port->setParent(here ? QCoreApplication::instance() : nullptr);
    QTimer::singleShot(heldAfterCloseMs, port, &QObject::deleteLater);
}
