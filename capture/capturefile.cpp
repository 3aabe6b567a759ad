#include "capturefile.h"

#include "apperror.h"
#include "jpegcodec.h"
#include "textlayer.h"

#include <QFile>
#include <QImage>
#include <QSaveFile>

namespace {

constexpr int JpegQuality = 30;

// Opens, fills through write(file) and commits fileName, owner-only.
template<typename Write>
void writeWhole(const QString &fileName, Write &&write)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser criado: %2").arg(fileName, file.errorString()));
    // A credit report is for its user's eyes only, whatever an older file allowed.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw AppError(
            QStringLiteral("o arquivo \"%1\" não pôde ser reservado ao usuário: %2").arg(fileName, file.errorString()));
    write(file);
    if (!file.commit())
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser gravado: %2").arg(fileName, file.errorString()));
}

} // namespace

void writeCaptureFile(const QImage &image, const QString &fileName)
{
    writeWhole(fileName, [&](QSaveFile &file) { Jpeg::encode(image, JpegQuality, &file); });
}

void writeTextLayer(const QString &fileName, const ReportText &lines)
{
    QFile captured(fileName);
    if (!captured.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser lido: %2").arg(fileName, captured.errorString()));
    const QByteArray layered = Jpeg::withTextLayer(captured.readAll(), lines);
    captured.close();
    writeWhole(fileName, [&](QSaveFile &file) {
        if (file.write(layered) != layered.size())
            throw AppError(
                QStringLiteral("o arquivo \"%1\" não pôde ser gravado: %2").arg(fileName, file.errorString()));
    });
}
