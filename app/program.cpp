#include "program.h"

#include "apperror.h"
#include "batchrun.h"
#include "browsersetup.h"
#include "devezozuvorapplication.h"
#include "launcharguments.h"
#include "systemlocale.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

// The list of "--lote", from its arguments or, with none there, standard input; told on standard error when unusable.
std::optional<BatchArguments> readList(const QStringList &arguments)
{
    try {
        QString input;
        if (batchClientsFromInput(arguments)) {
            QFile in;
            if (in.open(stdin, QIODevice::ReadOnly))
                input = QString::fromUtf8(in.readAll());
        }
        return readBatchArguments(arguments, input);
    } catch (const AppError &error) {
        std::fprintf(stderr, "DeveZozuvor --lote: %s\n", qPrintable(error.message()));
        return std::nullopt;
    }
}

} // namespace

void prepareBrowserProcess()
{
    BrowserSetup::prepareGraphics();
    // The engine reads its flags from the environment when it starts.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", BrowserSetup::engineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
}

int runProgram(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    std::optional<BatchArguments> list;
    if (isBatchLaunch(arguments)) {
        list = readList(arguments);
        if (!list)
            return BatchRun::CouldNotStart;
        // No window goes on screen: the browser is drawn offscreen, unless the caller chose a platform.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION")) {
        // The window and the browser draw in software (the capture reads the
        // software frame), so the window system's OpenGL is not loaded: that
        // alone took some 40 ms of every start. An administrator may still choose one.
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    }
    prepareBrowserProcess();
    DevezozuvorApplication app(argc, argv);
    installQtTranslations();
    const ProgramEnd end = list ? DevezozuvorApplication::runList(*list) : DevezozuvorApplication::runWindow();
    if (end.databaseStuck) {
        // A database that stopped answering holds a thread that cannot be
        // joined; its unfinished work is rolled back by the engine.
        std::fflush(nullptr);
        std::_Exit(end.status);
    }
    return end.status;
}
