#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// Which boards to flash as they are plugged in: the ports that appeared since the last look,
// and those with another device behind them (a board swapped between two looks). A board that
// stays is not taken again.
class PortWatcher
{
public:
    // Which of the ports the system lists are watched besides the named ones.
    enum class Listed { None, All, Usb };
    // Watches the `named` ports and the `listed` ones.
    explicit PortWatcher(const QStringList &named = {}, Listed listed = Listed::None);

    // Looks once; the ports that arrived, of those `busy` does not hold.
    QStringList look(const std::function<bool(const QString &port)> &busy);
    // A job starts on `port`: the device behind it now is the one flashed.
    void started(const QString &port);

private:
    QSet<QString> present() const;

    QStringList m_named;
    Listed m_listed;
    QSet<QString> m_present;               // at the last look
    QHash<QString, QString> m_flashedNode; // the device node each port's last job started on
};
