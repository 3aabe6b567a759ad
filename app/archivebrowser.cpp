#include "archivebrowser.h"

#include "apperror.h"
#include "backgroundwork.h"
#include "databasethread.h"
#include "futurereply.h"
#include "jpegcodec.h"
#include "messagebox.h"
#include "pictureview.h"
#include "comparisondialog.h"
#include "logcategories.h"
#include "reportcomparison.h"
#include "systemlocale.h"

#include <QElapsedTimer>
#include <QLineEdit>

#include <utility>

ArchiveBrowser::ArchiveBrowser(DatabaseThread *database, PictureView *picture, QLineEdit *date, QLineEdit *time,
                               QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_picture(picture)
    , m_date(date)
    , m_time(time)
{
}

void ArchiveBrowser::open(const Client &client, const QList<ArchiveEntry> &entries, int current)
{
    m_client = client;
    m_entries = entries;
    emit comparableChanged(entries.size() >= 2);
    showEntry(current);
    ListaImagem();
}

void ArchiveBrowser::step(int delta)
{
    if (!isOpen())
        throw AppError(QStringLiteral("TDeveZozuvor: Cannot perform this operation on a closed dataset"));
    const int last = int(m_entries.size()) - 1;
    showEntry(last < 0 ? -1 : std::clamp(m_current + delta, 0, last));
    ListaImagem();
}

void ArchiveBrowser::showEntry(int index)
{
    m_current = index;
    const ArchiveEntry *entry = index >= 0 && index < m_entries.size() ? &m_entries.at(index) : nullptr;
    m_date->setText(entry ? archiveDateText(entry->date) : QString());
    m_time->setText(entry ? archiveTimeText(entry->time) : QString());
}

void ArchiveBrowser::ListaImagem()
{
    // The shown picture goes before the next is decoded: a tall report is
    // hundreds of megabytes, and two of them need not exist at once.
    m_picture->setPicture(QImage());
    const quint64 request = ++m_request;
    if (!m_client || m_current < 0) {
        emit pictureShown();
        return;
    }
    const ArchiveEntry entry = m_entries.at(m_current);
    const ReportInfo info{QString::number(m_client->codClifor), m_client->nome, m_client->cgc, entry.date, entry.time};
    auto read = [client = *m_client, entry] {
        return QueryArchive(client).image(entry);
    };
    // The database thread reads the record; the pool decodes it.
    auto decode = [](const QByteArray &bytes) {
        return std::make_pair(bytes, bytes.isEmpty() ? QImage() : Jpeg::decode(bytes));
    };
    whenReady(
        BackgroundWork::then(m_database->post(QStringLiteral("leitura da imagem da consulta"), std::move(read)),
                             std::move(decode)),
        this,
        [this, info, request](const std::pair<QByteArray, QImage> &image) {
            // A later entry asked for meanwhile shows instead.
            if (request != m_request)
                return;
            m_picture->setReport(image.second, image.first, info);
            emit pictureShown();
        },
        [this, request](const QString &message) {
            if (request != m_request)
                return;
            // No picture rather than the previous entry's under this entry's date.
            m_picture->setPicture(QImage());
            MessageBox::error(QStringLiteral("Erro ao abrir ultima pesquisa... \r\r") + message);
            emit pictureShown();
        });
}

void ArchiveBrowser::compareWithPrevious()
{
    if (!m_client || m_entries.size() < 2)
        return;
    const ArchiveEntry older = m_entries.at(m_entries.size() - 2);
    const ArchiveEntry newer = m_entries.last();
    // The database thread only reads: a store queued meanwhile does not wait for the comparison.
    auto read = [client = *m_client, older, newer] {
        const QueryArchive archive(client);
        return std::make_pair(archive.image(older), archive.image(newer));
    };
    const auto failed = [](const QString &message) {
        MessageBox::error(QStringLiteral("Erro ao comparar as consultas... \r\r") + message);
    };
    whenReady(
        m_database->post(QStringLiteral("leitura das consultas a comparar"), std::move(read)), this,
        [this, older, newer, failed](const std::pair<QByteArray, QByteArray> &reports) {
            auto work = [reports, older, newer] {
                QElapsedTimer timer;
                timer.start();
                Comparison result = ReportComparison::compare(reports.first, reports.second);
                result.olderDate = older.date;
                result.olderTime = older.time;
                result.newerDate = newer.date;
                result.newerTime = newer.time;
                qCInfo(lcStore).noquote() << "consultas comparadas" << (result.byPicture ? "pelas imagens:" : "pelo texto:")
                                          << result.changes.size() << "mudanças em" << timer.elapsed() << "ms";
                return result;
            };
            whenReady(
                BackgroundWork::run(std::move(work)), this,
                [this](const Comparison &comparison) {
                    auto *dialog = new ComparisonDialog(comparison, m_picture->window());
                    dialog->setAttribute(Qt::WA_DeleteOnClose);
                    dialog->show();
                },
                failed);
        },
        failed);
}
