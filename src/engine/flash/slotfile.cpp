#include "engine/flash/slotfile.h"

#include "core/files/filenames.h"
#include "core/files/replacedfile.h"
#include "core/serial/portname.h"
#include "core/serial/remoteport.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace slotfile {

namespace {

// The line without a comment after it: a # or ; after a blank starts one, except inside a
// value in quotes, which runs from the quote after = to the line's last quote (so that what the
// editor writes between quotes reads back whole, quotes and all).
QString withoutComment(const QString &line)
{
    qsizetype quoteFrom = -1, quoteTo = -1;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals >= 0) {
        qsizetype start = equals + 1;
        while (start < line.size() && line.at(start).isSpace())
            ++start;
        const qsizetype last = line.lastIndexOf(QLatin1Char('"'));
        if (start < line.size() && line.at(start) == QLatin1Char('"') && last > start) {
            quoteFrom = start;
            quoteTo = last;
        }
    }
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (i == quoteFrom) {
            i = quoteTo;
            continue;
        }
        const QChar c = line.at(i);
        if ((c == QLatin1Char('#') || c == QLatin1Char(';')) &&
            (i == 0 || line.at(i - 1).isSpace()))
            return line.left(i);
    }
    return line;
}

bool hasControl(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

QString unquoted(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    return value;
}

} // namespace

bool isUsbId(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}$"));
    return pattern.match(text).hasMatch();
}

std::optional<Station> parse(const QString &text, QString *error)
{
    Station station;
    QString section;
    QHash<QString, int> names; // slot name -> its line
    QHash<QString, int> ports; // port's device -> its line
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        auto fail = [&](const QString &why) {
            *error = QStringLiteral("%1: %2").arg(number).arg(why);
            return std::nullopt;
        };
        const QString line = withoutComment(lines.at(i)).trimmed(); // CR too
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return fail(QStringLiteral("a section's name ends with ]"));
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            if (section != QStringLiteral("station") && section != QStringLiteral("slots"))
                return fail(QStringLiteral("unknown section [%1]; there are [station] and [slots]")
                                .arg(section));
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(QStringLiteral("expected NAME = VALUE"));
        const QString key = line.left(equals).trimmed();
        const QString value = unquoted(line.mid(equals + 1));
        if (key.isEmpty())
            return fail(QStringLiteral("a name is missing before ="));
        // Names and ports reach terminals and windows: no escape sequence rides in on them.
        if (hasControl(key))
            return fail(QStringLiteral("a control character in a name"));
        if (section.isEmpty())
            return fail(QStringLiteral("%1 is outside a section ([station] or [slots])").arg(key));
        if (section == QStringLiteral("station") &&
            key.toLower() == QStringLiteral("trusted-keys")) {
            if (value.isEmpty())
                return fail(QStringLiteral("trusted-keys: a file of public keys"));
            station.trustedKeys = value;
            continue;
        }
        if (section == QStringLiteral("station") &&
            key.toLower() == QStringLiteral("require-job")) {
            const QString answer = value.toLower();
            if (answer != QStringLiteral("yes") && answer != QStringLiteral("no"))
                return fail(QStringLiteral("require-job: yes or no"));
            station.requireJob = answer == QStringLiteral("yes");
            continue;
        }
        if (section == QStringLiteral("station")) {
            if (key.toLower() != QStringLiteral("usb"))
                return fail(QStringLiteral("unknown setting %1 in [station]; there are usb, "
                                           "trusted-keys and require-job")
                                .arg(key));
            const QStringList ids = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (QString id : ids) {
                id = id.trimmed();
                if (!isUsbId(id))
                    return fail(
                        QStringLiteral("usb: %1 is not VID:PID (four hex digits each)").arg(id));
                if (!station.adapters.contains(id.toLower()))
                    station.adapters << id.toLower();
            }
            continue;
        }
        if (value.isEmpty())
            return fail(QStringLiteral("slot %1 has no port").arg(key));
        if (hasControl(value))
            return fail(QStringLiteral("slot %1: a control character in the port's name").arg(key));
        QString why;
        if (RemotePort::isRemote(value) && !RemotePort::parse(value, &why))
            return fail(QStringLiteral("slot %1: %2").arg(key, why));
        if (const int other = names.value(key))
            return fail(QStringLiteral("slot %1 is named on line %2 too").arg(key).arg(other));
        const QString device = portKey(value);
        if (const int other = ports.value(device))
            return fail(QStringLiteral("slot %1 is the port of line %2 too").arg(key).arg(other));
        names.insert(key, number);
        ports.insert(device, number);
        station.benchSlots << Station::Slot{key, value};
    }
    return station;
}

std::optional<Station> read(const QString &path, QString *error)
{
    // Opening a pipe nobody writes would wait for ever.
    if (files::kindOf(path) == files::Kind::Pipe || files::kindOf(path) == files::Kind::Device) {
        *error = QStringLiteral("%1 is a pipe or a device, not a file").arg(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    constexpr qint64 largest = 1 << 20; // a bench's slots are a few lines
    if (file.size() > largest) {
        *error = QStringLiteral("%1: larger than a slot file can be").arg(path);
        return std::nullopt;
    }
    QString why;
    std::optional<Station> station = parse(QString::fromUtf8(file.read(largest)), &why);
    if (!station)
        *error = QStringLiteral("%1:%2").arg(path, why);
    return station;
}

QString format(const Station &station)
{
    QString text =
        QStringLiteral("# A station's bench: each slot's name and the port it is.\n"
                       "# Written by Vantyx Bench; lines may be edited by hand.\n\n[station]\n");
    text += QStringLiteral("usb = %1\n").arg(station.adapters.join(QStringLiteral(", ")));
    if (!station.trustedKeys.isEmpty())
        text += QStringLiteral("trusted-keys = \"%1\"\n").arg(station.trustedKeys);
    if (station.requireJob)
        text += QStringLiteral("require-job = yes\n");
    text += QStringLiteral("\n[slots]\n");
    for (const Station::Slot &slot : station.benchSlots)
        text += QStringLiteral("%1 = \"%2\"\n").arg(slot.name, slot.port); // kept whole
    return text;
}

bool write(const QString &path, const Station &station, QString *error)
{
    return files::replaceWhole(path, format(station).toUtf8(), error);
}

} // namespace slotfile
