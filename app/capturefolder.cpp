#include "capturefolder.h"

#include "apperror.h"
#include "logcategories.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString folderName = QStringLiteral("DeveZozuvorWebBrowser");

// Makes the folder and leaves it to its owner alone; false where it cannot be
// made, tightened (the folder is someone else's) or written.
bool prepareOwnerOnly(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

} // namespace

QString userCaptureFolder()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    const QString base = QStandardPaths::writableLocation(QStandardPaths::StateLocation);
#else
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#endif
    return QDir::cleanPath(base + u'/' + folderName);
}

QString prepareCaptureFolder(const QString &programDirectory)
{
    const QString beside = QDir::cleanPath(programDirectory + u'/' + folderName);
    if (prepareOwnerOnly(beside)) {
        qCDebug(lcCapture).noquote() << "pasta de capturas:" << QDir::toNativeSeparators(beside);
        return beside + u'/';
    }
    const QString own = userCaptureFolder();
    if (prepareOwnerOnly(own)) {
        qCDebug(lcCapture).noquote() << "pasta de capturas:" << QDir::toNativeSeparators(own)
                                     << "(a pasta do programa não aceita gravação)";
        return own + u'/';
    }
    qCWarning(lcCapture).noquote() << "nenhuma pasta de capturas pôde ser preparada:"
                                   << QDir::toNativeSeparators(beside) << "nem" << QDir::toNativeSeparators(own);
    return beside + u'/';
}

void runLoggedCapture(const QString &file, const std::function<void()> &capture)
{
    QElapsedTimer timer;
    timer.start();
    try {
        capture();
    } catch (const Cancelled &) {
        qCInfo(lcCapture).noquote() << "captura" << QDir::toNativeSeparators(file) << "interrompida pelo usuário em"
                                    << timer.elapsed() << "ms";
        throw;
    } catch (...) {
        qCWarning(lcCapture).noquote() << "captura" << QDir::toNativeSeparators(file) << "falhou em" << timer.elapsed()
                                       << "ms:" << currentFailureMessage();
        throw;
    }
    qCInfo(lcCapture).noquote() << "captura" << QDir::toNativeSeparators(file) << "gravada:" << QFileInfo(file).size()
                                << "bytes em" << timer.elapsed() << "ms";
}
