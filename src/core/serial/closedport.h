#pragma once

class QSerialPort;

// Lets a closed port's object go, safely from inside one of its own signals. The application
// owns it until it is deleted, so nothing is left behind when the application ends first.
// Where the system may still complete a cancelled read or write into the object after its
// close, it is kept until none can come.
void releaseClosedPort(QSerialPort *port);
