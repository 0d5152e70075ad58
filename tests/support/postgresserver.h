#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own, as a line would run it: Debian's initdb and pg_ctl in
// a folder of its own, on a free loopback port, with a database for the line's store; stopped
// and removed with the object. Run as the postgres user when the test runs as root (the server
// refuses root).
class PostgresServer
{
public:
    ~PostgresServer();
    // Where initdb and pg_ctl are; empty when no server is installed.
    static QString programs();
    // Empty once it runs, else why not. The first start makes the cluster and its database.
    QString start();
    // As a server taken down: its connections close.
    QString stop();
    // postgresql://vantyx@127.0.0.1:PORT/vantyx
    QString url() const;
    quint16 port() const { return m_port; }

private:
    QString run(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    bool m_made = false;
    bool m_running = false;
};
