#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// A measure's figures by name, each with the values of its runs: what a measure's own process
// hands to the one that prints the table, as lines of text ("figure NAME V V V", "note NAME
// TEXT").
struct Figures
{
    QMap<QString, QList<double>> values;
    QMap<QString, QString> notes;

    QList<double> operator[](const QString &name) const { return values.value(name); }
    void add(const QString &name, const QList<double> &runs);
    void merge(const Figures &other);
    QByteArray toText() const;
    static Figures fromText(const QByteArray &text);
};

double median(QList<double> values);

// The low, middle and high of a figure over full runs, and how far apart they are against
// the middle.
struct Spread
{
    double low = 0, middle = 0, high = 0;
    double relative() const { return middle != 0 ? (high - low) / middle : 0; }
};
Spread spreadOf(const QList<double> &values);
