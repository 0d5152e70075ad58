#include "figures.h"

#include <algorithm>

void Figures::add(const QString &name, const QList<double> &runs)
{
    if (!runs.isEmpty())
        values[name] += runs;
}

void Figures::merge(const Figures &other)
{
    for (auto it = other.values.cbegin(); it != other.values.cend(); ++it)
        add(it.key(), it.value());
    for (auto it = other.notes.cbegin(); it != other.notes.cend(); ++it)
        notes.insert(it.key(), it.value());
}

QByteArray Figures::toText() const
{
    QByteArray text;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        text += "figure " + it.key().toUtf8();
        for (double value : it.value())
            text += ' ' + QByteArray::number(value, 'g', 17);
        text += '\n';
    }
    for (auto it = notes.cbegin(); it != notes.cend(); ++it)
        text += "note " + it.key().toUtf8() + ' ' + it.value().simplified().toUtf8() + '\n';
    return text;
}

Figures Figures::fromText(const QByteArray &text)
{
    Figures figures;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() >= 2 && words[0] == "figure") {
            QList<double> runs;
            for (qsizetype i = 2; i < words.size(); ++i)
                runs << words[i].toDouble();
            figures.add(QString::fromUtf8(words[1]), runs);
        } else if (words.size() >= 2 && words[0] == "note") {
            figures.notes.insert(QString::fromUtf8(words[1]),
                                 QString::fromUtf8(words.mid(2).join(' ')));
        }
    }
    return figures;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Spread spreadOf(const QList<double> &values)
{
    if (values.isEmpty())
        return {};
    const auto [low, high] = std::minmax_element(values.cbegin(), values.cend());
    return {*low, median(values), *high};
}
