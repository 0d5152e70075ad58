#pragma once

class QObject;

// The threads boards' downloads run on, each with its own event loop: a reply is answered on
// a loop that watches a share of the ports, on every core, and the program's own work (its
// records, its window) never holds one up. Made at the first use, ended with the application.
namespace portthreads {

// An object living on the next thread, by turns: what a job is made on.
QObject *next();
// Deletes `object`, living on a port thread, on its thread once what this thread has queued so
// far has been handled (its signals heard here first), at the latest as the application ends.
void letGo(QObject *object);

} // namespace portthreads
