#pragma once

#include "core/image/firmwareimage.h"
#include "records/boardresult.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// What is kept of each finished board and of the image it was sent: the same record for the
// log, the report and every front end.

// The approved job a board was flashed under; no name for none.
struct JobStamp
{
    QString name;
    int version = 0;
    QString sha256;          // of the job file
    QString keyId;           // the key that signed it, as minisign prints it
    bool allowOlder = false; // run though the station ran a later version
};

// One finished board.
struct BoardRecord
{
    QString id; // the record's own, a UUID: the same board's record in every store
    QString port;
    BoardResult result = BoardResult::Pending;
    qint64 bytesSent = 0;
    int blocks = 0;
    int resends = 0;
    double seconds = 0;
    double transferSeconds = 0; // from the first block on
    double replyLatencyMs = 0;  // beyond the wire, a block's mean
    bool remote = false;        // on a port on another machine
    QString message;
    QDateTime started, ended;
    // What the system says of the port, where it lists it.
    QString serialNumber, usb, location;
    QString boardId; // typed or scanned by the operator; empty when none was
    QString slot;    // the bench position's name, with a slot file; empty without one
    QString tag;     // the shift's batch, work order or operator; empty when none was given
    JobStamp job;
};

// The slot a record names for a port that a station's slots do not name.
QString unassignedSlot();
// What a board is shown by: its slot's name, else its port, said "unassigned" where a bench's
// slots do not name it.
QString boardLabel(const QString &slot, const QString &port);
inline QString boardLabel(const BoardRecord &board)
{
    return boardLabel(board.slot, board.port);
}

// The image a board was sent.
struct ImageRecord
{
    QString path; // absolute
    qint64 bytes = 0;
    qint64 padded = 0;
    QString sha256; // of the bytes sent, before padding: the file's, for a raw one
    // A HEX or S-record file: its format, the address its bytes start at, the file's SHA-256.
    QString format; // "raw", "ihex", "srec"
    quint32 base = 0;
    QString fileSha256;
    qint64 gap = 0; // the largest run of 0xFF between two records' data
    quint32 gapFrom = 0;

    // "a gap of N bytes at 0x... filled with 0xFF" when the gap is large enough to be a stray
    // record's doing (over 1 MiB); empty otherwise.
    QString largeGapText() const;

    static ImageRecord of(const QString &path, const PaddedImage &image);
};
