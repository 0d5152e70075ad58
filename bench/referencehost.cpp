#include "referencehost.h"

#include "wire.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Reads exactly `count` bytes, or fewer if the line stays quiet for 2 s.
QByteArray readExactly(int fd, int count)
{
    QByteArray bytes;
    while (bytes.size() < count) {
        char chunk[16];
        const ssize_t n = ::read(fd, chunk, size_t(count - bytes.size()));
        if (n <= 0)
            break;
        bytes.append(chunk, n);
    }
    return bytes;
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

QString runReferenceHost(const QString &port, const QByteArray &paddedImage)
{
    const int fd = ::open(port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("cannot open ") + port + QStringLiteral(": ") +
               QString::fromLocal8Bit(std::strerror(errno));
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 20; // tenths of a second
    tcsetattr(fd, TCSANOW, &tio);

    QString failure;
    const QByteArray sizeWord = devicesim::sizeWord(quint32(paddedImage.size()));
    if (!writeAll(fd, devicesim::startCommand.constData(), 4) || readExactly(fd, 2) != "OK")
        failure = QStringLiteral("no OK to the start command");
    else if (!writeAll(fd, sizeWord.constData(), 4) || readExactly(fd, 2) != "OK")
        failure = QStringLiteral("no OK to the size word");
    for (qsizetype offset = 0; failure.isEmpty() && offset < paddedImage.size();) {
        QByteArray frame = paddedImage.mid(offset, devicesim::imageBlockSize);
        frame.append(char(devicesim::checksum(frame)));
        if (!writeAll(fd, frame.constData(), frame.size())) {
            failure = QStringLiteral("write failed");
            break;
        }
        const QByteArray reply = readExactly(fd, 1);
        if (reply == devicesim::ack)
            offset += devicesim::imageBlockSize;
        else if (reply != devicesim::resend)
            failure = QStringLiteral("bad reply at offset %1").arg(offset);
    }
    ::close(fd);
    return failure;
}
