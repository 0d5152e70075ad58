#pragma once

#include <QString>

// How a board's download ended, as every front end and record says it.
enum class BoardResult { Pending, Ok, Failed, NotDetected, PortError, Cancelled };

// ok, failed, not-detected, port-error, cancelled: as the records say them.
QString resultName(BoardResult result);
