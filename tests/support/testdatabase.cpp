#include "testdatabase.h"

#include "dbengine.h"
#include "jpegcodec.h"
#include "samplesite.h"
#include "tervikseed.h"
#include "tervikseed.h"

#include <QAtomicInt>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

QAtomicInt counter;

QString env(const char *name)
{
    return qEnvironmentVariable(name);
}

QSqlDatabase adminConnection()
{
    const QString name = QStringLiteral("tervik-test-admin");
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(env("TERVIK_TEST_PGHOST"));
    db.setPort(env("TERVIK_TEST_PGPORT").toInt());
    db.setUserName(env("TERVIK_TEST_PGUSER"));
    db.setDatabaseName(QStringLiteral("postgres"));
    db.open();
    return db;
}

} // namespace

TestDatabase::TestDatabase() = default;

TestDatabase::~TestDatabase()
{
    DbEngine::reset();
    if (!m_otherName.isEmpty()) {
        QSqlDatabase::database(m_otherName, false).close();
        QSqlDatabase::removeDatabase(m_otherName);
    }
    if (m_pg && !m_pgName.isEmpty()) {
        QSqlQuery q(adminConnection());
        if (!q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgName)))
            qWarning("could not drop %s: %s", qPrintable(m_pgName), qPrintable(q.lastError().text()));
    }
}

void TestDatabase::addDriverRows()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

bool TestDatabase::postgresRequired()
{
    return env("TERVIK_TEST_REQUIRE_PG") == QLatin1String("1");
}

QString TestDatabase::iniPath() const
{
    return m_dir.filePath(QStringLiteral("dbengine.ini"));
}

QString TestDatabase::sqlitePath() const
{
    return m_dir.filePath(QStringLiteral("tervik.sqlite"));
}

QString TestDatabase::writeIni(const QString &body)
{
    QFile f(iniPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(body.toUtf8()) < 0)
        return f.errorString();
    f.close();
    qputenv("DEVEZOZUVOR_DBENGINE_INI", QFile::encodeName(iniPath()));
    return QString();
}

QString TestDatabase::create(const QString &driver)
{
    DbEngine::reset();
    if (!m_dir.isValid())
        return m_dir.errorString();
    m_pg = driver == QLatin1String("postgresql");
    QString failure;
    if (m_pg) {
        if (env("TERVIK_TEST_PGHOST").isEmpty() || env("TERVIK_TEST_PGPORT").isEmpty()
            || env("TERVIK_TEST_PGUSER").isEmpty())
            return QStringLiteral("no PostgreSQL server: set TERVIK_TEST_PGHOST, TERVIK_TEST_PGPORT and "
                                  "TERVIK_TEST_PGUSER (scripts/start-test-postgres.sh starts one)");
        QSqlDatabase admin = adminConnection();
        if (!admin.isOpen())
            return QStringLiteral("cannot reach the PostgreSQL server: ") + admin.lastError().text();
        m_pgName = QStringLiteral("tervik_test_%1_%2_%3")
                       .arg(QCoreApplication::applicationPid())
                       .arg(counter.fetchAndAddRelaxed(1))
                       .arg(QRandomGenerator::global()->bounded(1000000));
        QSqlQuery q(admin);
        if (!q.exec(QStringLiteral("CREATE DATABASE %1").arg(m_pgName))) {
            const QString text = q.lastError().text();
            m_pgName.clear();
            return QStringLiteral("cannot create a test database: ") + text;
        }
        // The section name's case differs from the alias on purpose.
        failure = writeIni(
            QStringLiteral("; test database\n[Tervik]\ndriver=postgresql\nhost=%1\nport=%2\n"
                           "dbname=%3\nuser=%4\n")
                .arg(env("TERVIK_TEST_PGHOST"), env("TERVIK_TEST_PGPORT"), m_pgName, env("TERVIK_TEST_PGUSER")));
    } else {
        failure = writeIni(QStringLiteral("[TERVIK]\ndriver=sqlite\npath=%1\n").arg(sqlitePath()));
    }
    if (!failure.isEmpty())
        return failure;
    try {
        TervikSeed::createSchema(QStringLiteral("tervik"));
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

QString TestDatabase::captureFolder() const
{
    return m_dir.filePath(QStringLiteral("DeveZozuvorWebBrowser")) + u'/';
}

QSqlDatabase TestDatabase::connection() const
{
    return DbEngine::database(QStringLiteral("tervik"));
}

QSqlDatabase TestDatabase::otherConnection()
{
    if (m_otherName.isEmpty()) {
        m_otherName = QStringLiteral("tervik-test-other-%1").arg(counter.fetchAndAddRelaxed(1));
        QSqlDatabase db
            = QSqlDatabase::addDatabase(m_pg ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), m_otherName);
        if (m_pg) {
            db.setHostName(env("TERVIK_TEST_PGHOST"));
            db.setPort(env("TERVIK_TEST_PGPORT").toInt());
            db.setUserName(env("TERVIK_TEST_PGUSER"));
            db.setDatabaseName(m_pgName);
        } else {
            db.setDatabaseName(sqlitePath());
        }
        db.open();
    }
    return QSqlDatabase::database(m_otherName);
}

void TestDatabase::exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(connection());
    bool ok = values.isEmpty() ? q.exec(sql) : q.prepare(sql);
    if (ok && !values.isEmpty()) {
        for (const QVariant &v : values)
            q.addBindValue(v);
        ok = q.exec();
    }
    if (!ok)
        throw AppError(sql + QStringLiteral(": ") + q.lastError().text());
}

void TestDatabase::addClient(int filial, int cod, const QString &name, const QString &cgc)
{
    TervikSeed::addClient(connection(), filial, cod, name, cgc);
}

void TestDatabase::addParameter(int filial, const QString &key, const QString &value)
{
    TervikSeed::addParameter(connection(), filial, key, value);
}

void TestDatabase::addSiteParameters(int filial, const SampleSite &site)
{
    QString url = site.url(QStringLiteral("/")).toString();
    url.chop(1);
    TervikSeed::addSiteParameters(connection(), filial, url, site.user(), site.password());
}

void TestDatabase::addArchive(const ArchiveRow &row)
{
    TervikSeed::addArchive(connection(), row.filial, row.cod, row.date, row.time, row.image);
}

static QList<ArchiveRow> readRows(QSqlDatabase db, bool pg, const QString &where, const QVariantList &values)
{
    QList<ArchiveRow> rows;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT Filial, Cod_Clifor, DataCons, HoraCons, ResultCons FROM CliforDeveZozuvor ")
              + where + QStringLiteral(" ORDER BY Filial, Cod_Clifor, DataCons, HoraCons, ")
              + (pg ? QStringLiteral("ctid") : QStringLiteral("rowid")));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        throw AppError(q.lastError().text());
    while (q.next()) {
        ArchiveRow r;
        r.filial = q.value(0).toInt();
        r.cod = q.value(1).toInt();
        r.date = pg ? q.value(2).toDate() : QDate::fromString(q.value(2).toString(), Qt::ISODate);
        r.time = pg ? q.value(3).toTime() : QTime::fromString(q.value(3).toString(), Qt::ISODateWithMs);
        r.image = q.value(4).toByteArray();
        rows.append(r);
    }
    return rows;
}

QList<ArchiveRow> TestDatabase::archiveRows(int filial, int cod)
{
    return readRows(otherConnection(), m_pg, QStringLiteral("WHERE Filial = ? AND Cod_Clifor = ?"), {filial, cod});
}

QList<ArchiveRow> TestDatabase::allArchiveRows()
{
    return readRows(otherConnection(), m_pg, QString(), {});
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
        const QString copy = sqlitePath() + QStringLiteral(".copia");
        if (!QFile::copy(sqlitePath(), copy) || !QFile::remove(sqlitePath()) || !QFile::rename(copy, sqlitePath()))
            throw AppError(QStringLiteral("cannot replace ") + sqlitePath());
        return;
    }
    QSqlQuery end(otherConnection());
    if (!end.exec(QStringLiteral("SELECT count(*) FILTER (WHERE pg_terminate_backend(pid, 10000)) FROM pg_stat_activity"
                                 " WHERE datname = current_database() AND pid <> pg_backend_pid()"))
        || !end.next() || end.value(0).toInt() < 1)
        throw AppError(QStringLiteral("no backend of the tool ended: ") + end.lastError().text());
}

void TestDatabase::refuseArchiveWrites()
{
    if (m_pg) {
        exec(QStringLiteral("CREATE FUNCTION recusa_gravacao() RETURNS trigger LANGUAGE plpgsql AS "
                            "$$ BEGIN RAISE EXCEPTION 'gravação recusada pelo banco'; END $$"));
        exec(QStringLiteral("CREATE TRIGGER recusa BEFORE INSERT OR UPDATE ON CliforDeveZozuvor "
                            "FOR EACH ROW EXECUTE FUNCTION recusa_gravacao()"));
        return;
    }
    exec(QStringLiteral("CREATE TRIGGER recusa_insert BEFORE INSERT ON CliforDeveZozuvor "
                        "BEGIN SELECT RAISE(ABORT, 'gravação recusada pelo banco'); END"));
    exec(QStringLiteral("CREATE TRIGGER recusa_update BEFORE UPDATE ON CliforDeveZozuvor "
                        "BEGIN SELECT RAISE(ABORT, 'gravação recusada pelo banco'); END"));
}

void TestDatabase::allowArchiveWrites()
{
    if (m_pg) {
        exec(QStringLiteral("DROP TRIGGER recusa ON CliforDeveZozuvor"));
        return;
    }
    exec(QStringLiteral("DROP TRIGGER recusa_insert"));
    exec(QStringLiteral("DROP TRIGGER recusa_update"));
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

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (qsizetype i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(gen.generate());
    return bytes;
}
