#include "capturefile.h"

#include "apperror.h"
#include "jpegcodec.h"

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

void writeCaptureFile(const QImage &image, const ReportText &text, const QString &fileName)
{
    writeWhole(fileName, [&](QSaveFile &file) { Jpeg::encode(image, JpegQuality, &file, text); });
}
