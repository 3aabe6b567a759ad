#pragma once

#include "browsersetup.h"
#include "pagecapture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QWebEngineView>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <vector>

// What the benchmarks share: the engine set up as the tool's, the browser placed as on its tab, timings.
namespace Bench {

// The tests' engine set-up unless the caller chose another, then the tool's own; before the application.
inline void prepareEngine()
{
    for (const auto &[name, value] :
         {std::pair("QT_QPA_PLATFORM", "offscreen"), std::pair("QTWEBENGINE_DISABLE_SANDBOX", "1"),
          std::pair("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu")}) {
        if (!qEnvironmentVariableIsSet(name))
            qputenv(name, value);
    }
    BrowserSetup::prepareGraphics();
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", BrowserSetup::engineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
}

// The heights the command line asks for, or the defaults.
inline QList<int> heights(const QStringList &arguments, const QList<int> &defaults)
{
    QList<int> asked;
    for (const QString &argument : arguments)
        asked.append(argument.toInt());
    asked.removeAll(0);
    return asked.isEmpty() ? defaults : asked;
}

// The browser as the tool places it on its tab page, shown.
inline QWebEngineView *placeView(QWidget *tab)
{
    tab->resize(925, 517);
    auto *view = new QWebEngineView(tab);
    view->setGeometry(88, 22, 761, 465);
    tab->show();
    return view;
}

inline bool load(QWebEngineView *view, const QUrl &url)
{
    QSignalSpy loaded(view, &QWebEngineView::loadFinished);
    view->load(url);
    return loaded.wait(60000) && loaded.first().first().toBool();
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A "VmXxx:  1234 kB" line of /proc/<pid>/status, in kB; -1 when unreadable.
inline qint64 statusKb(const QString &pid, const QByteArray &field)
{
    for (const QByteArray &line : readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The view captured into file, and the bytes written.
inline QByteArray capture(QWebEngineView *view, const QString &file)
{
    PageCapture(view).captureTo(file);
    return readAll(file);
}

// The median of reps runs of step, in ms.
template<typename Step>
qint64 medianMs(Step &&step, int reps = 5)
{
    std::vector<qint64> times;
    for (QElapsedTimer timer; int(times.size()) < reps; times.push_back(timer.elapsed())) {
        timer.start();
        step();
    }
    std::sort(times.begin(), times.end());
    return times[reps / 2];
}

} // namespace Bench
