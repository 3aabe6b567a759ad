#include "devezozuvorapplication.h"

#include "apperror.h"
#include "batchrun.h"
#include "browsersetup.h"
#include "databasethread.h"
#include "errorreport.h"
#include "launcharguments.h"
#include "messagebox.h"
#include "stopsignals.h"
#include "systemlocale.h"
#include "udevezozuvor.h"

#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

DevezozuvorApplication::DevezozuvorApplication(int &argc, char **argv) : QApplication(argc, argv) { }

void DevezozuvorApplication::prepareGraphics()
{
    BrowserSetup::prepareGraphics();
    // The engine reads its flags from the environment when it starts.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", BrowserSetup::engineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
}

bool DevezozuvorApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ErrorReport::showCurrentException();
    }
    return false;
}

int DevezozuvorApplication::run(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (isBatchLaunch(arguments))
        return runBatch(argc, argv, arguments);

    // The window and the browser draw in software (the capture reads the
    // software frame), so the window system's OpenGL is not loaded: that alone
    // took some 40 ms of every start. An administrator may still choose one.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    prepareGraphics();
    DevezozuvorApplication app(argc, argv);
    installQtTranslations();
    bool stuck = false;
    {
        TfoDeveZozuvor foDeveZozuvor(QCoreApplication::arguments());
        foDeveZozuvor.show();
        app.exec();
        stuck = foDeveZozuvor.database()->anyStuck();
    }
    if (stuck) {
        // A database that stopped answering holds a thread that cannot be
        // joined; its unfinished work is rolled back by the engine.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}

int DevezozuvorApplication::runBatch(int &argc, char **argv, const QStringList &arguments)
{
    BatchArguments batch;
    try {
        QString input;
        if (batchClientsFromInput(arguments)) {
            QFile in;
            if (in.open(stdin, QIODevice::ReadOnly))
                input = QString::fromUtf8(in.readAll());
        }
        batch = readBatchArguments(arguments, input);
    } catch (const AppError &error) {
        std::fprintf(stderr, "DeveZozuvor --lote: %s\n", qPrintable(error.message()));
        return BatchRun::CouldNotStart;
    }
    // No window goes on screen: the browser is drawn offscreen, unless the caller chose a platform.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareGraphics();
    DevezozuvorApplication app(argc, argv);
    installQtTranslations();
    // Nobody is there to press OK: a failure that would show a box is written where the progress goes.
    MessageBox::setPresenter([](MessageBox::Kind, const QString &title, const QString &text) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    });
    int status = BatchRun::CouldNotStart;
    bool stuck = false;
    {
        BatchRun run(batch);
        StopSignals stopSignals;
        connect(&stopSignals, &StopSignals::received, &run, &BatchRun::stop);
        connect(&run, &BatchRun::finished, &app, [&status](int exitStatus) {
            status = exitStatus;
            QCoreApplication::quit();
        });
        QTimer::singleShot(0, &run, &BatchRun::start);
        app.exec();
        stuck = run.database()->anyStuck();
    }
    if (stuck) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
