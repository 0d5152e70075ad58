#pragma once

#include "records/boardrecord.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>

// The records as JSON: one object per board and per image, and a board's line of the log.
namespace recordjson {

QJsonObject board(const BoardRecord &board);
QJsonObject image(const ImageRecord &image);
// One finished board as a line of its own: the board, the image, this program's version and
// the host's name.
QByteArray logLine(const BoardRecord &board, const ImageRecord &image);

// The field names in the order the objects have them, for a program's --help.
QList<const char *> boardFields();
QList<const char *> imageFields();

} // namespace recordjson
