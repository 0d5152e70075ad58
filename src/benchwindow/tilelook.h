#pragma once

#include <QColor>
#include <QString>

class BenchModel;

// What a board's tile on the wall says, and in which colours: a pure rule of the row, so that
// what an operator reads from two metres is tested without a window. Every state has its word
// as well as its colour; every pair of colours reads at 4.5:1 or more, light or dark.
struct TileLook
{
    enum class Kind { Waiting, Working, Passed, Failed, Cancelled, Absent, Ignored };
    Kind kind = Kind::Waiting;
    QString title;        // the slot's name, or the port
    QString word;         // "Waiting", "Flashing 63 %", "Passed", "Failed"...
    QString detail;       // the reason of a failure, or the time left
    QString boardId;      // "" none
    double progress = -1; // 0..1 while the image goes out; -1 for none
    QColor background, text;

    static TileLook of(const BenchModel &model, int row, bool dark);
    // The colours of a kind of tile in a light or dark window.
    static void colours(Kind kind, bool dark, QColor *background, QColor *text);
};

// The contrast ratio of two colours, as the web's accessibility guidelines define it: 1 to 21.
double contrastRatio(const QColor &a, const QColor &b);
