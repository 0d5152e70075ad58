#include "postgresserver.h"
#include "testrig.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

QString PostgresServer::programs()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("initdb"));
    if (!onPath.isEmpty())
        return QFileInfo(QFileInfo(onPath).canonicalFilePath()).absolutePath(); // a link on PATH
    // Debian keeps them out of PATH, a folder a version.
    const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto version = versions.crbegin(); version != versions.crend(); ++version) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*version);
        if (QFileInfo::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return QString();
}

QString PostgresServer::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    QString command = QDir(programs()).filePath(program);
    QStringList words = arguments;
    if (::geteuid() == 0) { // the server's programs refuse root
        words = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                            command} +
                arguments;
        command = QStringLiteral("runuser");
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command, words);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("%1: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
    return QString();
}

QString PostgresServer::start()
{
    if (programs().isEmpty())
        return QStringLiteral("no PostgreSQL server here (Debian's postgresql)");
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!m_made) {
        if (::geteuid() == 0) {
            const passwd *postgres = ::getpwnam("postgres");
            if (!postgres)
                return QStringLiteral("running as root and no postgres user to run the server");
            if (::chown(QFile::encodeName(m_dir.path()).constData(), postgres->pw_uid,
                        postgres->pw_gid) != 0)
                return QStringLiteral("cannot give the server its folder");
        }
        m_port = freeLoopbackPort();
        if (const QString why =
                run(QStringLiteral("initdb"),
                    {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("vantyx"),
                     QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                     QStringLiteral("UTF8"), QStringLiteral("--no-locale"),
                     QStringLiteral("--no-sync")});
            !why.isEmpty())
            return why;
    }
    if (const QString why =
            run(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), data, QStringLiteral("-l"),
                 m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                 QStringLiteral("-o"),
                 QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                     .arg(m_port)
                     .arg(m_dir.path()),
                 QStringLiteral("start")});
        !why.isEmpty())
        return why;
    m_running = true;
    if (!m_made) {
        m_made = true;
        if (const QString why =
                run(QStringLiteral("createdb"),
                    {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                     QString::number(m_port), QStringLiteral("-U"), QStringLiteral("vantyx"),
                     QStringLiteral("vantyx")});
            !why.isEmpty())
            return why;
    }
    return QString();
}

QString PostgresServer::stop()
{
    if (!m_running)
        return QString();
    m_running = false;
    return run(QStringLiteral("pg_ctl"),
               {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-w"),
                QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")});
}

PostgresServer::~PostgresServer()
{
    stop();
}

QString PostgresServer::url() const
{
    return QStringLiteral("postgresql://vantyx@127.0.0.1:%1/vantyx").arg(m_port);
}
