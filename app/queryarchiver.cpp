#include "queryarchiver.h"

#include "capturefolder.h"
#include "databasethread.h"
#include "futurereply.h"
#include "pagecapture.h"

#include <utility>

QueryArchiver::QueryArchiver(DatabaseThread *database, QObject *parent) : QObject(parent), m_database(database) { }

void QueryArchiver::archive(QWebEngineView *view, const QString &captureFile, const Client &client)
{
    try {
        runLoggedCapture(captureFile, [view, &captureFile] { PageCapture(view).captureTo(captureFile); });
    } catch (const Cancelled &) {
        return;
    } catch (...) {
        emit failed(currentFailureMessage());
        return;
    }
    emit storing();
    auto job = [client, captureFile] {
        QueryArchive archive(client);
        const ArchiveEntry entry = archive.store(captureFile);
        return std::make_pair(archive.entries(), entry);
    };
    whenReady(
        m_database->post(QStringLiteral("gravação da consulta"), std::move(job)), this,
        [this](const std::pair<QList<ArchiveEntry>, ArchiveEntry> &done) {
            const auto &[entries, entry] = done;
            int index = int(entries.size()) - 1;
            for (int i = 0; i < entries.size(); ++i) {
                if (entries.at(i).address == entry.address)
                    index = i;
            }
            emit stored(entries, index);
        },
        [this](const QString &message) { emit failed(message); });
}
