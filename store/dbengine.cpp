#include "dbengine.h"

#include "apperror.h"
#include "logcategories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>

#include <sys/stat.h>

namespace {

const QString configName = QStringLiteral("dbengine.ini");

const QString connectionPrefix = QStringLiteral("devezozuvor:");

// Where a SQLite connection keeps the identity of the file it opened.
const char fileIdentityProperty[] = "devezozuvor.file";

QString programDir()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
}

QString nativeList(const QStringList &files)
{
    QStringList quoted;
    for (const QString &file : files)
        quoted.append(QLatin1Char('\'') + QDir::toNativeSeparators(file) + QLatin1Char('\''));
    return quoted.join(QStringLiteral(", "));
}

QString threadSuffix()
{
    return u':' + QString::number(reinterpret_cast<quintptr>(QThread::currentThread()), 16);
}

// Connections belong to the thread that made them.
QString connectionName(const QString &alias)
{
    return connectionPrefix + alias.toLower() + threadSuffix();
}

QString aliasOf(const QSqlDatabase &db)
{
    const QString name = db.connectionName();
    return name.mid(connectionPrefix.size(), name.lastIndexOf(u':') - connectionPrefix.size());
}

// Device and inode: a file moved, removed or replaced under an open SQLite
// connection leaves it on a file nobody else sees.
QString fileIdentity(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !QFileInfo(path).isReadable())
        return QString();
    return QStringLiteral("%1:%2").arg(info.st_dev).arg(info.st_ino);
}

// Whether an open connection still reaches its database as far as can be
// told without a round trip.
bool stillReaches(const QSqlDatabase &db)
{
    if (!db.isOpen())
        return false;
    if (db.driverName() != QLatin1String("QSQLITE"))
        return true;
    const QString identity = fileIdentity(db.databaseName());
    return !identity.isEmpty() && identity == db.driver()->property(fileIdentityProperty).toString();
}

// PostgreSQL's SQLSTATE classes 08 (connection exception) and 57P (the
// server ending the session).
bool endsTheConnection(const QSqlDatabase &db, const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    return db.driverName() == QLatin1String("QPSQL")
           && (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")));
}

QString unquote(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    return value;
}

// Reads the keys of one section (names folded to lower case); found tells
// whether the section exists at all.
QHash<QString, QString> readSection(const QString &file, const QString &alias, bool *found)
{
    QHash<QString, QString> keys;
    *found = false;
    QFile f(file);
    if (!f.exists())
        return keys;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        throw AppError(QStringLiteral("Não foi possível ler a configuração de bancos de dados '%1': %2")
                           .arg(QDir::toNativeSeparators(file), f.errorString()));
    bool inSection = false;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2).trimmed().compare(alias, Qt::CaseInsensitive) == 0;
            *found = *found || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        keys.insert(line.left(eq).trimmed().toLower(), unquote(line.mid(eq + 1)));
    }
    return keys;
}

} // namespace

// The environment, not a variable of ours, so that every thread and a
// program started by a test read the same binding without a lock.
QStringList DbEngine::configFiles()
{
    const QString single = qEnvironmentVariable("DEVEZOZUVOR_DBENGINE_INI");
    if (!single.isEmpty())
        return {single};
    QString system = qEnvironmentVariable("DEVEZOZUVOR_CONFIG_DIR");
    if (system.isEmpty())
        system = QStringLiteral("/etc/devezozuvor");
    return {QDir(programDir()).filePath(configName), QDir(system).filePath(configName)};
}

void DbEngine::reset()
{
    const QString suffix = threadSuffix();
    for (const QString &name : QSqlDatabase::connectionNames()) {
        if (!name.startsWith(connectionPrefix) || !name.endsWith(suffix))
            continue;
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
}

DbEngine::Settings DbEngine::settings(const QString &alias)
{
    Settings s;
    s.tried = configFiles();
    QHash<QString, QString> keys;
    for (const QString &candidate : std::as_const(s.tried)) {
        bool found = false;
        keys = readSection(candidate, alias, &found);
        if (found) {
            s.source = candidate;
            break;
        }
    }
    if (s.source.isEmpty()) {
        s.path = QDir(programDir()).filePath(QStringLiteral("tervik.sqlite"));
        return s;
    }
    const QString &file = s.source;
    const QString driver = keys.value(QStringLiteral("driver"), QStringLiteral("sqlite")).toLower();
    if (driver == QLatin1String("sqlite") || driver == QLatin1String("sqlite3")) {
        s.driver = Driver::SQLite;
        const QString path = keys.value(QStringLiteral("path"), QStringLiteral("tervik.sqlite"));
        s.path = QDir::cleanPath(QDir(programDir()).absoluteFilePath(path));
    } else if (driver == QLatin1String("postgresql") || driver == QLatin1String("postgres")) {
        s.driver = Driver::PostgreSQL;
        s.host = keys.value(QStringLiteral("host"));
        s.dbname = keys.value(QStringLiteral("dbname"), alias);
        s.user = keys.value(QStringLiteral("user"));
        const QString port = keys.value(QStringLiteral("port"));
        if (!port.isEmpty()) {
            bool ok = false;
            s.port = port.toInt(&ok);
            if (!ok || s.port <= 0 || s.port > 65535)
                throw AppError(QStringLiteral("Porta '%1' inválida para o banco de dados '%2' em '%3'")
                                   .arg(port, alias, QDir::toNativeSeparators(file)));
        }
    } else {
        throw AppError(QStringLiteral("Driver '%1' desconhecido para o banco de dados '%2' em '%3'")
                           .arg(keys.value(QStringLiteral("driver")), alias, QDir::toNativeSeparators(file)));
    }
    return s;
}

QSqlDatabase DbEngine::database(const QString &alias, OpenMode mode)
{
    const QString name = connectionName(alias);
    if (QSqlDatabase::contains(name)) {
        if (stillReaches(QSqlDatabase::database(name, false)))
            return QSqlDatabase::database(name, false);
        // Lost: it is made afresh from the settings, as at its first use.
        qCWarning(lcStore).noquote() << "banco de dados" << alias << "com a conexão perdida: abrindo outra";
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }

    Settings s;
    try {
        s = settings(alias);
    } catch (const AppError &error) {
        qCWarning(lcStore).noquote() << "banco de dados" << alias << "sem configuração válida:" << error.message();
        throw;
    }
    const auto fail = [&alias](const QString &reason) {
        return AppError(QStringLiteral("Não foi possível abrir o banco de dados '%1': %2").arg(alias, reason));
    };

    QSqlDatabase db;
    if (s.driver == Driver::SQLite) {
        // The SQLite driver would create a missing file as an empty database.
        if (QFileInfo(s.path).isDir())
            throw fail(QStringLiteral("'%1' é uma pasta, não um arquivo de banco de dados")
                           .arg(QDir::toNativeSeparators(s.path)));
        if (mode == OpenMode::MustExist && !QFileInfo(s.path).isFile()) {
            QString reason = QStringLiteral("o arquivo '%1' não existe").arg(QDir::toNativeSeparators(s.path));
            if (s.source.isEmpty()) {
                reason += QStringLiteral(" e nenhum destes arquivos de configuração o define: %1")
                              .arg(nativeList(s.tried));
            }
            qCWarning(lcStore).noquote() << "banco de dados" << alias << "indisponível:" << reason;
            throw fail(reason);
        }
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(s.path);
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(s.host);
        if (s.port > 0)
            db.setPort(s.port);
        db.setDatabaseName(s.dbname);
        db.setUserName(s.user);
        // Bounded by the server too: a dead host is given up after 10 s, a
        // statement (a lock wait included) after 30 s.
        db.setConnectOptions(QStringLiteral("connect_timeout=10;options='-c statement_timeout=30000'"));
    }

    const auto discard = [&db, &name]() {
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    };

    if (!db.isValid()) {
        discard();
        qCWarning(lcStore).noquote() << "banco de dados" << alias << "indisponível: driver"
                                     << (s.driver == Driver::SQLite ? "QSQLITE" : "QPSQL") << "ausente";
        throw fail(QStringLiteral("driver de banco de dados indisponível"));
    }
    if (!db.open()) {
        const QString reason = engineText(db.lastError());
        discard();
        qCWarning(lcStore).noquote() << "banco de dados" << alias << "indisponível:" << reason;
        throw fail(reason);
    }
    if (s.driver == Driver::SQLite) {
        const QStringList pragmas
            = {QStringLiteral("PRAGMA busy_timeout = 30000"), QStringLiteral("PRAGMA synchronous = FULL")};
        for (const QString &pragma : pragmas) {
            QSqlQuery q(db);
            if (!q.exec(pragma)) {
                const QString reason = engineText(q.lastError());
                q = QSqlQuery();
                db.close();
                discard();
                throw fail(reason);
            }
        }
    }
    if (s.driver == Driver::SQLite)
        db.driver()->setProperty(fileIdentityProperty, fileIdentity(s.path));
    const QString where
        = s.driver == Driver::SQLite
              ? QStringLiteral("SQLite %1").arg(QDir::toNativeSeparators(s.path))
              : QStringLiteral("PostgreSQL %1@%2:%3/%4")
                    .arg(s.user, s.host, s.port > 0 ? QString::number(s.port) : QStringLiteral("-"), s.dbname);
    qCInfo(lcStore).noquote() << "banco de dados" << alias << "aberto:" << where << "configurado por"
                              << (s.source.isEmpty() ? QStringLiteral("(padrão: nenhum de %1)").arg(nativeList(s.tried))
                                                     : QDir::toNativeSeparators(s.source));
    return db;
}

QString DbEngine::failure(QSqlDatabase db, const QSqlError &error)
{
    const QString words = engineText(error);
    if (stillReaches(db) && !endsTheConnection(db, error))
        return words;
    db.close();
    const QString lost = QStringLiteral("a conexão com o banco de dados '%1' foi perdida").arg(aliasOf(db));
    return words.isEmpty() ? lost : lost + QStringLiteral(": ") + words;
}

QSqlDatabase DbEngine::answering(const QString &alias)
{
    for (int attempt = 1;; ++attempt) {
        const QSqlDatabase db = database(alias);
        QSqlQuery probe(db);
        // SQLite answers SELECT 1 without reading its file; the catalogue is in it.
        if (probe.exec(db.driverName() == QLatin1String("QSQLITE") ? QStringLiteral("SELECT count(*) FROM sqlite_master")
                                                                   : QStringLiteral("SELECT 1")))
            return db;
        const QString reason = failure(db, probe.lastError());
        // A connection that died unnoticed is opened once more.
        if (attempt == 2 || db.isOpen()) {
            qCWarning(lcStore).noquote() << "banco de dados" << alias << "não responde:" << reason;
            throw AppError(db.isOpen() ? QStringLiteral("O banco de dados '%1' não respondeu: %2").arg(alias, reason)
                                       : reason.left(1).toUpper() + reason.mid(1));
        }
    }
}

void checkDatabase()
{
    DbEngine::database(QStringLiteral("tervik"));
}

QString DbEngine::engineText(const QSqlError &error)
{
    QString database = error.databaseText().trimmed();
    // libpq's text of a failure the server never answered ends in an empty SQLSTATE.
    if (database.endsWith(QLatin1String("\n()")))
        database = database.chopped(3).trimmed();
    return database.isEmpty() ? error.driverText().trimmed() : database;
}
