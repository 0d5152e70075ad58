#pragma once

#include "core/image/firmwareimage.h"
#include "records/boardrecord.h"

#include <QElapsedTimer>
#include <QList>
#include <QSerialPortInfo>
#include <QString>

// What the window keeps of each download: the record vantyx-flash and the bench keep, in the
// same daily file, so that a board flashed from the window leaves its trace too.
class DownloadRecord
{
public:
    // A download starts on `port`; `listed` says what the system knows of it.
    void begin(const QString &port, const QList<QSerialPortInfo> &listed);
    void imageRead(const QString &path, const PaddedImage &image);
    void resent() { ++m_board.resends; }
    // Appends the download's record to the day's file in `folder` ("" for the user's records
    // folder); false with the reason when it did not reach the disk. Nothing without begin().
    bool end(BoardResult result, qint64 bytesSent, const QString &message, const QString &folder,
             QString *why);

private:
    BoardRecord m_board;
    ImageRecord m_image;
    QElapsedTimer m_clock;
    bool m_begun = false;
};
