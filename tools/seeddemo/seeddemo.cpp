// Seeds the demo database: client 1001 with two archived queries, client 1002 with
// an alphanumeric CNPJ and no query yet, and the ten company parameters pointing at
// a running sample site. Run again, it keeps the clients and their archive and only
// points the parameters at the new site.

#include "apperror.h"
#include "dbengine.h"
#include "jpegcodec.h"
#include "tervikseed.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSqlError>
#include <QSqlQuery>

namespace {

constexpr int DemoFilial = 1;
constexpr int DemoClient = 1001;
constexpr int DemoAlphanumericClient = 1002;

QByteArray demoImage(const QString &title, const QColor &color)
{
    QImage image(760, 1200, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int row = 0; row < 12; ++row)
        painter.fillRect(0, row * 100, 760, 90, row % 2 ? color.lighter(150) : color);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("Sans"), 20, QFont::Bold));
    painter.drawText(QRect(40, 0, 700, 90), Qt::AlignVCenter, title);
    painter.end();
    return Jpeg::encode(image, 30);
}

void seedClient(const QSqlDatabase &db)
{
    TervikSeed::addClient(db, DemoFilial, DemoClient, QStringLiteral("Comercial Exemplo Ltda"),
                          QStringLiteral("11222333000181"));
    const QDate today = QDate::currentDate();
    TervikSeed::addArchive(db, DemoFilial, DemoClient, today.addDays(-30), QTime(9, 15, 0),
                           demoImage(QStringLiteral("Consulta de exemplo 1 (antiga)"), QColor(0x80, 0x20, 0x20)));
    TervikSeed::addArchive(db, DemoFilial, DemoClient, today.addDays(-7), QTime(14, 40, 0),
                           demoImage(QStringLiteral("Consulta de exemplo 2 (recente)"), QColor(0x20, 0x40, 0x90)));
    TervikSeed::addClient(db, DemoFilial, DemoAlphanumericClient, QStringLiteral("Alfanumérica Exemplo Ltda"),
                          QStringLiteral("12ABC34501DE35"));
}

void seedParameters(const QSqlDatabase &db, const QString &site)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM ParametrosEmpresa WHERE filial = ?"));
    query.addBindValue(DemoFilial);
    if (!query.exec())
        throw AppError(QStringLiteral("Falha ao preparar o banco de demonstração: ") + query.lastError().text());
    TervikSeed::addSiteParameters(db, DemoFilial, site, QStringLiteral("demo"), QStringLiteral("demo123"));
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv); // fonts for the demo pictures

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Seeds the DeveZozuvor demo database."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("database"), QStringLiteral("SQLite file to seed."), QStringLiteral("file")});
    parser.addOption({QStringLiteral("site"), QStringLiteral("Sample site address, e.g. http://127.0.0.1:8080."),
                      QStringLiteral("url")});
    parser.addOption({QStringLiteral("config"), QStringLiteral("dbengine.ini to write for the alias tervik."),
                      QStringLiteral("file")});
    parser.process(app);
    if (!parser.isSet(QStringLiteral("database")) || !parser.isSet(QStringLiteral("site"))
        || !parser.isSet(QStringLiteral("config"))) {
        parser.showHelp(2);
    }

    const QString database = QFileInfo(parser.value(QStringLiteral("database"))).absoluteFilePath();
    QString site = parser.value(QStringLiteral("site"));
    while (site.endsWith(u'/'))
        site.chop(1);

    QFile config(parser.value(QStringLiteral("config")));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCritical("Cannot write %s: %s", qPrintable(config.fileName()), qPrintable(config.errorString()));
        return 1;
    }
    config.write(QStringLiteral("[tervik]\ndriver=sqlite\npath=%1\n").arg(database).toUtf8());
    config.close();

    try {
        const bool fresh = !QFile::exists(database);
        qputenv("DEVEZOZUVOR_DBENGINE_INI", QFile::encodeName(config.fileName()));
        TervikSeed::createSchema(QStringLiteral("tervik"));
        {
            QSqlDatabase db = DbEngine::database(QStringLiteral("tervik"));
            if (fresh)
                seedClient(db);
            seedParameters(db, site);
        }
        DbEngine::reset();
        QTextStream(stdout) << "Demo database " << database << (fresh ? " created" : " updated")
                            << ": branch 1, clients 1001 and 1002, site " << site << "/\n";
    } catch (const AppError &error) {
        qCritical("%s", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
