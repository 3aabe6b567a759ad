#include "capturefile.h"

#include "apperror.h"
#include "jpegcodec.h"

#include <QImage>
#include <QSaveFile>

namespace {

constexpr int JpegQuality = 30;

} // namespace

void writeCaptureFile(const QImage &image, const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser criado: %2").arg(fileName, file.errorString()));
    // A credit report is for its user's eyes only, whatever an older file allowed.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw AppError(
            QStringLiteral("o arquivo \"%1\" não pôde ser reservado ao usuário: %2").arg(fileName, file.errorString()));
    Jpeg::encode(image, JpegQuality, &file);
    if (!file.commit())
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser gravado: %2").arg(fileName, file.errorString()));
}
