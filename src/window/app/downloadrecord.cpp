#include "window/app/downloadrecord.h"

#include "core/protocol/quenlark.h"
#include "core/serial/portlist.h"
#include "records/boardlog.h"
#include "records/recordjson.h"

#include <QUuid>

void DownloadRecord::begin(const QString &port, const QList<QSerialPortInfo> &listed)
{
    m_board = BoardRecord();
    m_image = ImageRecord();
    m_board.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_board.port = port;
    m_board.started = QDateTime::currentDateTime();
    for (const QSerialPortInfo &info : listed)
        if (info.portName() == port) {
            m_board.serialNumber = info.serialNumber();
            m_board.usb = usbId(info);
            m_board.location = info.systemLocation();
        }
    m_clock.start();
    m_begun = true;
}

void DownloadRecord::imageRead(const QString &path, const PaddedImage &image)
{
    m_image = ImageRecord::of(path, image);
}

bool DownloadRecord::end(BoardResult result, qint64 bytesSent, const QString &message,
                         const QString &folder, QString *why)
{
    if (!m_begun)
        return true;
    m_begun = false;
    m_board.result = result;
    m_board.bytesSent = bytesSent;
    m_board.blocks = int(bytesSent / quenlark::blockSize);
    m_board.message = message;
    m_board.ended = QDateTime::currentDateTime();
    m_board.seconds = double(m_clock.elapsed()) / 1000;
    BoardLog log;
    return log.openDaily(folder.isEmpty() ? BoardLog::dailyFolder() : folder, why) &&
           log.append(recordjson::logLine(m_board, m_image), why);
}
