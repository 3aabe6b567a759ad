#include "tervikfixture.h"

#include "dbengine.h"
#include "jpegcodec.h"
#include "samplesite.h"
#include "tervikschema.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <stdexcept>

namespace {

QSqlDatabase tervik()
{
    return DbEngine::database(QStringLiteral("tervik"));
}

void run(QSqlQuery &query)
{
    if (!query.exec())
        throw std::runtime_error(query.lastError().text().toStdString());
}

} // namespace

TervikFixture::TervikFixture()
{
    const QString ini = m_dir.filePath(QStringLiteral("dbengine.ini"));
    QFile file(ini);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("[Tervik]\ndriver=sqlite\npath=%1\n").arg(databaseFile()).toUtf8());
    file.close();
    DbEngine::reset();
    DbEngine::setConfigFile(ini);
    createSchema(QStringLiteral("tervik"));
}

TervikFixture::~TervikFixture()
{
    DbEngine::reset();
}

QString TervikFixture::databaseFile() const
{
    return m_dir.filePath(QStringLiteral("tervik.sqlite"));
}

QString TervikFixture::captureFolder() const
{
    return m_dir.filePath(QStringLiteral("DeveZozuvorWebBrowser")) + u'/';
}

void TervikFixture::exec(const QString &sql)
{
    QSqlQuery query(tervik());
    query.prepare(sql);
    run(query);
}

void TervikFixture::addClient(int filial, int codClifor, const QString &nome, const QString &cgc)
{
    QSqlQuery query(tervik());
    query.prepare(QStringLiteral("INSERT INTO clifor (Filial, Cod_Clifor, Sistema, NOME, CGC) VALUES (?, ?, 'C', ?, ?)"));
    query.addBindValue(filial);
    query.addBindValue(codClifor);
    query.addBindValue(nome);
    query.addBindValue(cgc);
    run(query);
}

void TervikFixture::addParameter(int filial, const QString &key, const QString &value)
{
    QSqlQuery query(tervik());
    query.prepare(QStringLiteral("INSERT INTO ParametrosEmpresa (filial, NomeParametro, ValorStr) VALUES (?, ?, ?)"));
    query.addBindValue(filial);
    query.addBindValue(key);
    query.addBindValue(value);
    run(query);
}

void TervikFixture::addSiteParameters(int filial, const SampleSite &site)
{
    addParameter(filial, QStringLiteral("eEquifaxAutoURLConsulta"), site.url(QStringLiteral("/")).toString());
    addParameter(filial, QStringLiteral("eEquifaxAutoIdUsu"), site.user());
    addParameter(filial, QStringLiteral("eEquifaxAutoSenhaUsu"), site.password());
    addParameter(filial, QStringLiteral("eEquifaxAutoTagUsu"), QStringLiteral("usuario"));
    addParameter(filial, QStringLiteral("eEquifaxAutoTagSenhaUsu"), QStringLiteral("senha"));
    addParameter(filial, QStringLiteral("eEquifaxAutoTagTipoCons"), QStringLiteral("CNPJ"));
    addParameter(filial, QStringLiteral("eEquifaxAutoURLPagLogin"), site.url(QStringLiteral("/login")).toString());
    addParameter(filial, QStringLiteral("eEquifaxAutoURLPagPreencheCnpj"), site.url(QStringLiteral("/cnpj")).toString());
    addParameter(filial, QStringLiteral("eEquifaxAutoTagBotaoCnsCnpj"), QStringLiteral("consultar"));
    addParameter(filial, QStringLiteral("eEquifaxAutoURLResultConsulta"),
                 site.url(QStringLiteral("/resultado")).toString());
}

void TervikFixture::addArchive(int filial, int codClifor, const QDate &date, const QTime &time,
                               const QByteArray &image)
{
    QSqlQuery query(tervik());
    query.prepare(QStringLiteral(
        "INSERT INTO CliforDeveZozuvor (Filial, Cod_Clifor, DataCons, HoraCons, ResultCons) VALUES (?, ?, ?, ?, ?)"));
    query.addBindValue(filial);
    query.addBindValue(codClifor);
    query.addBindValue(date.toString(Qt::ISODate));
    query.addBindValue(time.toString(QStringLiteral("HH:mm:ss.zzz")));
    query.addBindValue(image);
    run(query);
}

int TervikFixture::archiveCount(int filial, int codClifor)
{
    QSqlQuery query(tervik());
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM CliforDeveZozuvor WHERE Filial = ? AND Cod_Clifor = ?"));
    query.addBindValue(filial);
    query.addBindValue(codClifor);
    run(query);
    return query.next() ? query.value(0).toInt() : -1;
}

QList<QByteArray> TervikFixture::archiveImages(int filial, int codClifor)
{
    QSqlQuery query(tervik());
    query.prepare(QStringLiteral("SELECT ResultCons FROM CliforDeveZozuvor WHERE Filial = ? AND Cod_Clifor = ? "
                                 "ORDER BY DataCons, HoraCons, rowid"));
    query.addBindValue(filial);
    query.addBindValue(codClifor);
    run(query);
    QList<QByteArray> images;
    while (query.next())
        images.append(query.value(0).toByteArray());
    return images;
}

QByteArray solidJpeg(int width, int height, const QColor &color)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(color);
    return Jpeg::encode(image, 30);
}
