#pragma once

#include "engine/flash/jobtext.h"
#include "records/boardrecord.h"

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
QString waitingLine(const Tally &tally);
// The totals, the image as it went out (its padding said) and how long the transfer took apart
// from the settling.
QString summaryLine(const Tally &tally, const ImageRecord &image);
