#include "testdatabase.h"

#include "jpegcodec.h"
#include "samplesite.h"

#include <QAtomicInt>
#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

QAtomicInt counter;

// A connection of that name to a database of the test server, opened once.
QSqlDatabase pgConnection(const QString &name, const QString &dbname)
{
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
    db.setHostName(qEnvironmentVariable("TERVIK_TEST_PGHOST"));
    db.setPort(qEnvironmentVariable("TERVIK_TEST_PGPORT").toInt());
    db.setUserName(qEnvironmentVariable("TERVIK_TEST_PGUSER"));
    db.setDatabaseName(dbname);
    db.open();
    return db;
}

} // namespace

TestDatabase::~TestDatabase()
{
    DbEngine::reset();
    if (!m_otherName.isEmpty()) {
        QSqlDatabase::database(m_otherName, false).close();
        QSqlDatabase::removeDatabase(m_otherName);
    }
    if (m_pg && !m_pgName.isEmpty()) {
        if (QSqlQuery q(pgConnection(u"tervik-test-admin"_s, u"postgres"_s));
            !q.exec(u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_pgName)))
            qWarning("could not drop %s: %s", qPrintable(m_pgName), qPrintable(q.lastError().text()));
    }
}

void TestDatabase::addDriverRows()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("sqlite") << u"sqlite"_s;
    QTest::newRow("postgresql") << u"postgresql"_s;
}

bool TestDatabase::postgresRequired()
{
    return qEnvironmentVariable("TERVIK_TEST_REQUIRE_PG") == u"1";
}

QString TestDatabase::writeFile(const QString &name, const QByteArray &bytes) const
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw AppError(u"cannot write "_s + path + u": "_s + f.errorString());
    return path;
}

QString TestDatabase::create(const QString &driver)
{
    DbEngine::reset();
    if (!m_dir.isValid())
        return m_dir.errorString();
    m_pg = driver == u"postgresql";
    QString ini = u"[TERVIK]\ndriver=sqlite\npath=%1\n"_s.arg(sqlitePath());
    if (m_pg) {
        if (qEnvironmentVariable("TERVIK_TEST_PGHOST").isEmpty() || qEnvironmentVariable("TERVIK_TEST_PGPORT").isEmpty()
            || qEnvironmentVariable("TERVIK_TEST_PGUSER").isEmpty())
            return u"no PostgreSQL server: set TERVIK_TEST_PGHOST, TERVIK_TEST_PGPORT and "
                   "TERVIK_TEST_PGUSER (scripts/start-test-postgres.sh starts one)"_s;
        QSqlDatabase admin = pgConnection(u"tervik-test-admin"_s, u"postgres"_s);
        if (!admin.isOpen())
            return u"cannot reach the PostgreSQL server: "_s + admin.lastError().text();
        const QString name = u"tervik_test_%1_%2_%3"_s.arg(QCoreApplication::applicationPid())
                                 .arg(counter.fetchAndAddRelaxed(1))
                                 .arg(QRandomGenerator::global()->bounded(1000000));
        if (QSqlQuery q(admin); !q.exec(u"CREATE DATABASE "_s + name))
            return u"cannot create a test database: "_s + q.lastError().text();
        m_pgName = name;
        // The section name's case differs from the alias on purpose.
        ini = u"; test database\n[Tervik]\ndriver=postgresql\nhost=%1\nport=%2\ndbname=%3\nuser=%4\n"_s.arg(
            qEnvironmentVariable("TERVIK_TEST_PGHOST"), qEnvironmentVariable("TERVIK_TEST_PGPORT"), m_pgName,
            qEnvironmentVariable("TERVIK_TEST_PGUSER"));
    }
    try {
        writeFile(u"dbengine.ini"_s, ini.toUtf8());
        qputenv("DEVEZOZUVOR_DBENGINE_INI", QFile::encodeName(iniPath()));
        TervikSeed::createSchema(u"tervik"_s);
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

QSqlDatabase TestDatabase::otherConnection()
{
    if (m_otherName.isEmpty()) {
        m_otherName = u"tervik-test-other-%1"_s.arg(counter.fetchAndAddRelaxed(1));
        if (m_pg)
            return pgConnection(m_otherName, m_pgName);
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_otherName);
        db.setDatabaseName(sqlitePath());
        db.open();
    }
    return QSqlDatabase::database(m_otherName);
}

void TestDatabase::exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(DbEngine::database(u"tervik"_s));
    // PostgreSQL prepares no DDL: a statement without values runs as it is.
    bool ok = values.isEmpty() ? q.exec(sql) : q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!ok || (!values.isEmpty() && !q.exec()))
        throw AppError(sql + u": "_s + q.lastError().text());
}

void TestDatabase::addSiteParameters(int filial, const SampleSite &site)
{
    QString url = site.url(u"/"_s).toString();
    url.chop(1);
    TervikSeed::addSiteParameters(DbEngine::database(u"tervik"_s), filial, url, site.user(), site.password());
}

QList<ArchiveRow> TestDatabase::readRows(const QString &where, const QVariantList &values)
{
    QSqlQuery q(otherConnection());
    q.setForwardOnly(true);
    q.prepare(u"SELECT Filial, Cod_Clifor, DataCons, HoraCons, ResultCons FROM CliforDeveZozuvor "_s + where
              + u" ORDER BY Filial, Cod_Clifor, DataCons, HoraCons, "_s + (m_pg ? u"ctid"_s : u"rowid"_s));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        throw AppError(q.lastError().text());
    QList<ArchiveRow> rows;
    while (q.next()) {
        const QVariant date = q.value(2), time = q.value(3);
        rows.append({q.value(0).toInt(), q.value(1).toInt(),
                     m_pg ? date.toDate() : QDate::fromString(date.toString(), Qt::ISODate),
                     m_pg ? time.toTime() : QTime::fromString(time.toString(), Qt::ISODateWithMs),
                     q.value(4).toByteArray()});
    }
    return rows;
}

QList<QByteArray> TestDatabase::archiveImages(int filial, int cod)
{
    QList<QByteArray> images;
    for (const ArchiveRow &row : archiveRows(filial, cod))
        images.append(row.image);
    return images;
}

void TestDatabase::loseToolConnections()
{
    if (!m_pg) {
        const QString copy = sqlitePath() + u".copia"_s;
        if (!QFile::copy(sqlitePath(), copy) || !QFile::remove(sqlitePath()) || !QFile::rename(copy, sqlitePath()))
            throw AppError(u"cannot replace "_s + sqlitePath());
        return;
    }
    QSqlQuery end(otherConnection());
    if (!end.exec(u"SELECT count(*) FILTER (WHERE pg_terminate_backend(pid, 10000)) FROM pg_stat_activity"
                  " WHERE datname = current_database() AND pid <> pg_backend_pid()"_s)
        || !end.next() || end.value(0).toInt() < 1)
        throw AppError(u"no backend of the tool ended: "_s + end.lastError().text());
}

void TestDatabase::refuseArchiveWrites()
{
    if (m_pg) {
        exec(u"CREATE FUNCTION recusa_gravacao() RETURNS trigger LANGUAGE plpgsql AS "
             "$$ BEGIN RAISE EXCEPTION 'gravação recusada pelo banco'; END $$"_s);
        exec(u"CREATE TRIGGER recusa BEFORE INSERT OR UPDATE ON CliforDeveZozuvor "
             "FOR EACH ROW EXECUTE FUNCTION recusa_gravacao()"_s);
        return;
    }
    for (const QString &event : {u"INSERT"_s, u"UPDATE"_s})
        exec(u"CREATE TRIGGER recusa_%1 BEFORE %1 ON CliforDeveZozuvor "
             "BEGIN SELECT RAISE(ABORT, 'gravação recusada pelo banco'); END"_s.arg(event));
}

void TestDatabase::allowArchiveWrites()
{
    if (m_pg)
        return exec(u"DROP TRIGGER recusa ON CliforDeveZozuvor"_s);
    exec(u"DROP TRIGGER recusa_INSERT"_s);
    exec(u"DROP TRIGGER recusa_UPDATE"_s);
}

void DriverTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
}

QByteArray solidJpeg(int width, int height, const QColor &color)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(color);
    return Jpeg::encode(image, 30);
}

QByteArray makeJpeg(int seed, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            line[x * 3] = uchar(x * 4 + seed * 37);
            line[x * 3 + 1] = uchar(y * 5 + seed * 11);
            line[x * 3 + 2] = uchar((x ^ y) + seed * 53);
        }
    }
    return Jpeg::encode(image, 90);
}
