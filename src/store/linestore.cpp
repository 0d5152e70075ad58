#include "store/linestore.h"

#include "store/storeschema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

std::optional<LineStoreUrl> LineStoreUrl::parse(const QString &text, QString *why)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() ||
        (url.scheme() != QStringLiteral("postgresql") &&
         url.scheme() != QStringLiteral("postgres")) ||
        url.host().isEmpty() || url.path().size() < 2 || url.userName().isEmpty()) {
        *why = QStringLiteral("%1: give postgresql://USER@HOST:PORT/DATABASE").arg(text);
        return std::nullopt;
    }
    LineStoreUrl store;
    store.user = url.userName();
    store.password = url.password();
    store.host = url.host();
    store.port = url.port(5432);
    store.database = url.path().mid(1);
    return store;
}

QString LineStoreUrl::shown() const
{
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

bool openLineStore(const LineStoreUrl &url, const QString &name, QString *why)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        *why = QStringLiteral("this build has no database driver (Qt's PostgreSQL driver)");
        return false;
    }
    QSqlDatabase database = QSqlDatabase::contains(name)
                                ? QSqlDatabase::database(name, false)
                                : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    database.setHostName(url.host);
    database.setPort(url.port);
    database.setUserName(url.user);
    database.setPassword(url.password);
    database.setDatabaseName(url.database);
    database.setConnectOptions(QStringLiteral("connect_timeout=3"));
    if (!database.open()) {
        *why = QStringLiteral("%1: %2").arg(url.shown(), database.lastError().text().trimmed());
        return false;
    }
    // The server's notes ("already exists, skipping") are not the operator's business.
    QSqlQuery quiet(database);
    quiet.exec(QStringLiteral("SET client_min_messages TO WARNING"));
    if (!storeschema::prepare(database, storeschema::Dialect::PostgreSQL, false, why)) {
        *why = QStringLiteral("%1: %2").arg(url.shown(), *why);
        database.close();
        return false;
    }
    return true;
}
