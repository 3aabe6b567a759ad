#include "queryarchive.h"

#include "apperror.h"
#include "jpegcodec.h"
#include "table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

namespace {

const QString imageField = QStringLiteral("ResultCons");
constexpr int keptPerClient = 2;

QByteArray readCapture(const QString &path)
{
    const auto fail = [&path](const QString &reason) {
        return AppError(QStringLiteral("Não foi possível ler o arquivo de captura '%1': %2")
                            .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), reason));
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw fail(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw fail(file.errorString());
    return bytes;
}

} // namespace

QueryArchive::QueryArchive(Table *archive, Table *clifor)
    : m_archive(archive)
    , m_clifor(clifor)
{
}

void QueryArchive::store(const QString &captureFile, const QDateTime &now)
{
    const QByteArray bytes = readCapture(captureFile);
    Jpeg::readHeader(bytes);

    if (!m_archive->isActive() || !m_clifor->isActive())
        throw AppError((m_archive->isActive() ? m_clifor : m_archive)->objectName()
                       + QStringLiteral(": Cannot perform this operation on a closed dataset"));
    if (!m_clifor->hasRecord())
        throw AppError(QStringLiteral("Nenhum cliente selecionado para arquivar a consulta"));

    const QVariant previous = m_archive->bookmark();
    m_archive->beginWrite();
    try {
        const int count = m_archive->recordCount();
        if (count < 0)
            throw AppError(QStringLiteral("Não foi possível contar as consultas do cliente"));
        if (count < keptPerClient) {
            m_archive->insert();
            m_archive->setValue(QStringLiteral("Filial"), m_clifor->value(QStringLiteral("Filial")).toInt());
            m_archive->setValue(QStringLiteral("Cod_Clifor"), m_clifor->value(QStringLiteral("Cod_Clifor")).toInt());
        } else {
            m_archive->first();
            m_archive->edit();
            m_archive->clearValue(imageField);
        }
        m_archive->setValue(QStringLiteral("DataCons"), now.date());
        m_archive->setValue(QStringLiteral("HoraCons"), now.time());

        const std::unique_ptr<QIODevice> stream = m_archive->createBlobStream(imageField, QIODevice::WriteOnly);
        if (stream->write(bytes) != bytes.size())
            throw AppError(m_archive->objectName()
                           + QStringLiteral(": Não foi possível gravar a imagem da consulta: ") + stream->errorString());
        stream->close();

        m_archive->post();
        m_archive->saveChanges();
    } catch (const AppError &) {
        m_archive->cancel();
        try {
            if (previous.isValid())
                m_archive->gotoBookmark(previous);
        } catch (const AppError &e) {
            qWarning().noquote() << e.message();
        }
        throw;
    }
}

QByteArray QueryArchive::currentImage() const
{
    if (!m_archive->isActive())
        throw AppError(m_archive->objectName() + QStringLiteral(": Cannot perform this operation on a closed dataset"));
    return m_archive->value(imageField).toByteArray();
}
