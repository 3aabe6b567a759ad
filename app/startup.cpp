#include "startup.h"

#include "archivebrowser.h"
#include "databasethread.h"
#include "errorreport.h"
#include "futurereply.h"
#include "leparametro.h"
#include "messagebox.h"
#include "queryarchive.h"
#include "queryroom.h"

StartUp::StartUp(DatabaseThread *database, QueryRoom *room, ArchiveBrowser *archive,
                 std::optional<LaunchArguments> launch, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_room(room)
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

    const QString branch = QString::number(m_launch->FilialAtual);
    connect(m_room, &QueryRoom::parameterFailed, this,
            [branch](const QString &key, const QString &failure) { reportParameterFailure(branch, key, failure); });
    connect(m_room, &QueryRoom::parametersRead, this, &StartUp::openArchive);
    connect(m_room, &QueryRoom::failed, this, [this, branch](const QString &message) {
        reportParameterFailure(branch, QStringLiteral("(todos)"), message);
        openArchive();
    });
    m_room->readParameters(m_launch->FilialAtual, QueryRoom::Check::Parameters);
}

void StartUp::openArchive()
{
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
