#pragma once

#include <QApplication>

// The application object: the last stop for a failure that leaves an event
// handler, so that no exception crosses Qt's event loop.
class DevezozuvorApplication : public QApplication
{
    Q_OBJECT

public:
    DevezozuvorApplication(int &argc, char **argv);

    // Call before the application exists. The browser view is then drawn in
    // software: a GPU render target cannot hold a page capture taller than
    // the graphics card's texture limit (often 16,384 px).
    static void prepareGraphics();

    bool notify(QObject *receiver, QEvent *event) override;
};
