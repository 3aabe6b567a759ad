#include "startup.h"

#include "archivebrowser.h"
#include "companyparameters.h"
#include "databasethread.h"
#include "errorreport.h"
#include "futurereply.h"
#include "leparametro.h"
#include "messagebox.h"
#include "queryarchive.h"

StartUp::StartUp(DatabaseThread *database, ArchiveBrowser *archive, std::optional<LaunchArguments> launch,
                 QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_archive(archive)
    , m_launch(launch)
{
}

void StartUp::run()
{
    // Arguments that did not convert name no client: none is looked up.
    if (!m_launch) {
        emit finished(false);
        return;
    }
    whenReady(m_database->post(QStringLiteral("leitura do cliente"),
                               [launch = *m_launch] { return findClient(launch.FilialAtual, launch.CodCliforAtual); }),
              this, [this](const std::optional<Client> &client) { lookedUp(client); },
              [this](const QString &message) { fail(message); });
}

void StartUp::fail(const QString &message)
{
    ErrorReport::show(message);
    emit finished(false);
}

void StartUp::lookedUp(const std::optional<Client> &client)
{
    if (!client) {
        MessageBox::error(QStringLiteral("Erro ao localizar cliente para pesquisar..."));
        emit finished(false);
        return;
    }
    m_client = *client;
    emit clientFound(m_client);

    auto readAll = [branch = QString::number(m_launch->FilialAtual)] { return readSiteParameters(branch); };
    whenReady(
        m_database->post(QStringLiteral("leitura dos parâmetros"), std::move(readAll)), this,
        [this](const QList<ParameterRead> &reads) { readParameters(reads); },
        [this](const QString &message) {
            reportParameterFailure(QString::number(m_launch->FilialAtual), QStringLiteral("(todos)"), message);
            readParameters({});
        });
}

void StartUp::readParameters(const QList<ParameterRead> &reads)
{
    const QString branch = QString::number(m_launch->FilialAtual);
    SiteParameters site;
    for (qsizetype i = 0; i < reads.size() && i < qsizetype(std::size(siteParameterFields)); ++i) {
        if (!reads.at(i).failure.isEmpty())
            reportParameterFailure(branch, parameterKeys().at(i), reads.at(i).failure);
        site.*siteParameterFields[i] = trimControl(reads.at(i).value);
    }
    emit parametersRead(site);
    whenReady(m_database->post(QStringLiteral("abertura do arquivo de consultas"),
                               [client = m_client] { return QueryArchive(client).entries(); }),
              this, [this](const QList<ArchiveEntry> &entries) { archiveOpened(entries); },
              [this](const QString &message) {
                  // The client is known: a query can still be made and archived.
                  ErrorReport::show(message);
                  emit finished(true);
              });
}

void StartUp::archiveOpened(const QList<ArchiveEntry> &entries)
{
    if (entries.isEmpty()) {
        m_archive->open(m_client, entries, -1);
        MessageBox::information(QStringLiteral("Nenhuma consulta realizada para o cnpj ") + m_client.cgc
                                + QStringLiteral(", clique em CONSULTA CNPJ para prosseguir..."));
        emit finished(true);
        return;
    }
    connect(m_archive, &ArchiveBrowser::pictureShown, this, [this] { emit finished(true); },
            Qt::SingleShotConnection);
    m_archive->open(m_client, entries, int(entries.size()) - 1);
}
