#pragma once

#include "engine/flash/jobtext.h"
#include "records/boardrecord.h"
#include "records/shifttally.h"

#include <QString>

// How vantyx-flash says what happened on each port, and at the end, in plain lines.

// The line for a port that has just finished; with its reason when `withReason`.
QString finishedLine(const BoardRecord &board, bool withReason);
// One line when the board's replies came late enough to slow it, saying by how much and what
// fixes it; empty otherwise.
QString latencyAdvice(const BoardRecord &board);
// What fixes an adapter on this machine that holds replies (latencyfix_unix.cpp,
// latencyfix_win.cpp).
QString adapterLatencyFix(const QString &port);
// --watch between boards: the count so far.
QString waitingLine(const ShiftTally &tally);
// The totals and the yield, cancelled boards apart; the image as it went out (its padding and a
// large gap said) and how long the transfer took apart from the settling.
QString summaryLine(const ShiftTally &tally, const ImageRecord &image);
// A HEX or S-record image as it is sent: its format, size, base, hashes, and a large gap.
QString imageLine(const ImageRecord &image);
