#pragma once

#include "launcharguments.h"

#include <QApplication>

// How a run of the program ended: its exit status, and whether a database job
// was still stuck then (its thread cannot be joined).
struct ProgramEnd
{
    int status = 0;
    bool databaseStuck = false;
};

// The application object: the last stop for a failure that leaves an event
// handler, so that no exception crosses Qt's event loop.
class DevezozuvorApplication : public QApplication
{
    Q_OBJECT

public:
    DevezozuvorApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // The window for the launch arguments, shown, until it closes; status 0.
    static ProgramEnd runWindow();

    // The list queried without a window; its status as BatchRun tells it.
    static ProgramEnd runList(const BatchArguments &batch);
};
