#include "devezozuvorapplication.h"

#include "batchrun.h"
#include "databasethread.h"
#include "errorreport.h"
#include "messagebox.h"
#include "stopsignals.h"
#include "udevezozuvor.h"

#include <QTimer>

#include <cstdio>

DevezozuvorApplication::DevezozuvorApplication(int &argc, char **argv) : QApplication(argc, argv) { }

bool DevezozuvorApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ErrorReport::showCurrentException();
    }
    return false;
}

ProgramEnd DevezozuvorApplication::runWindow()
{
    TfoDeveZozuvor foDeveZozuvor(QCoreApplication::arguments());
    foDeveZozuvor.show();
    exec();
    return {0, foDeveZozuvor.database()->anyStuck()};
}

ProgramEnd DevezozuvorApplication::runList(const BatchArguments &batch)
{
    // Nobody is there to press OK: a failure that would show a box is written where the progress goes.
    MessageBox::setPresenter([](MessageBox::Kind, const QString &title, const QString &text) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    });
    int status = BatchRun::CouldNotStart;
    BatchRun run(batch);
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::received, &run, &BatchRun::stop);
    connect(&run, &BatchRun::finished, qApp, [&status](int exitStatus) {
        status = exitStatus;
        QCoreApplication::quit();
    });
    QTimer::singleShot(0, &run, &BatchRun::start);
    exec();
    return {status, run.database()->anyStuck()};
}
