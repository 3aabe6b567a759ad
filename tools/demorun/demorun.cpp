// The demo without hands: opens the tool's window for the client given on the
// command line, presses "Consultar CNPJ", prints every message box instead of
// waiting for OK, and saves a picture of the window when the query ends: a stored
// one once its report is shown on the archive tab.

#include "databasethread.h"
#include "devezozuvorapplication.h"
#include "program.h"
#include "messagebox.h"
#include "pictureview.h"
#include "udevezozuvor.h"

#include <QAbstractButton>
#include <QDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    prepareBrowserProcess();
    DevezozuvorApplication app(argc, argv);
    TfoDeveZozuvor window(QCoreApplication::arguments());
    const QString picture
        = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../demo-archive.png"));

    int exitCode = 1;
    const auto save = [&window, &picture] {
        window.grab().save(picture);
        QTextStream(stdout) << "Window saved to " << QDir::cleanPath(picture) << Qt::endl;
        window.close();
    };
    // The picture is saved once the query has succeeded and its report is shown on the archive tab, in either order.
    bool succeeded = false;
    bool reportShown = false;
    MessageBox::setPresenter([&](MessageBox::Kind kind, const QString &title, const QString &text) {
        QTextStream(stdout) << "[" << title << "] " << text << Qt::endl;
        const bool done = text == QStringLiteral("Consulta realizada com sucesso para este cnpj!");
        succeeded = succeeded || done;
        if (kind == MessageBox::Kind::Report || done) {
            exitCode = done ? 0 : 1;
            if (!done || reportShown)
                QTimer::singleShot(0, &window, save);
        }
    });

    // Once start-up has found the client and shown its newest report, as a user would wait for it.
    QObject::connect(&window, &TfoDeveZozuvor::startUpFinished, &window, [&] {
        auto *button = window.findChild<QAbstractButton *>(QStringLiteral("BotaoConsultar"));
        if (!button || !button->isEnabled()) {
            QCoreApplication::exit(1);
            return;
        }
        QObject::connect(window.findChild<PictureView *>(QStringLiteral("Image1")), &PictureView::reportShown,
                         &window, [&] {
                             reportShown = true;
                             if (succeeded)
                                 QTimer::singleShot(0, &window, save);
                         });
        QTimer::singleShot(0, button, &QAbstractButton::click);
    });
    window.show();
    const int loopExit = app.exec();
    const int code = loopExit ? loopExit : exitCode;
    // As the program itself ends: a database job still out (the archive tab's
    // picture read after the store) is not waited for.
    if (window.database()->anyStuck()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
