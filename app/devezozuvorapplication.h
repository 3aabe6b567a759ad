#pragma once

#include <QApplication>

// The application object: the last stop for a failure that leaves an event
// handler, so that no exception crosses Qt's event loop.
class DevezozuvorApplication : public QApplication
{
    Q_OBJECT

public:
    DevezozuvorApplication(int &argc, char **argv);

    // Call before the application exists: the browser engine set up as
    // BrowserSetup tells, its flags put in this process's environment.
    static void prepareGraphics();

    bool notify(QObject *receiver, QEvent *event) override;

    // The whole program: the window for the launch arguments, shown, until it
    // closes. Returns 0; a database job still stuck then does not hold the
    // process, which ends at once.
    static int run(int &argc, char **argv);

private:
    // "--lote BRANCH [CLIENT ...]": the list queried without a window; returns the exit status.
    static int runBatch(int &argc, char **argv, const QStringList &arguments);
};
