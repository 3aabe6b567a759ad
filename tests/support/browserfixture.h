#pragma once

#include "devezozuvorapplication.h"
#include "program.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWidget>

#include <memory>

// A browser placed as the tool places it: a view at 88,22, 761 x 465 on a
// page-sized parent, with an off-the-record profile of its own.
class BrowserFixture
{
public:
    BrowserFixture()
    {
        parent.resize(925, 517);
        view->setPage(page.get());
        view->setGeometry(88, 22, 761, 465);
        parent.show();
        exposed = QTest::qWaitForWindowExposed(&parent);
    }

    bool load(const QUrl &url)
    {
        QSignalSpy finished(page.get(), &QWebEnginePage::loadFinished);
        view->load(url);
        return finished.wait(20000) && finished.first().first().toBool();
    }

    std::unique_ptr<QWebEngineProfile> profile = std::make_unique<QWebEngineProfile>();
    std::unique_ptr<QWebEnginePage> page = std::make_unique<QWebEnginePage>(profile.get());
    QWidget parent;
    QWebEngineView *view = new QWebEngineView(&parent);
    bool exposed = false;
};

// main() for a suite that runs the browser: the engine set up by the
// program's own routine, under the program's own application object, so that
// what holds here holds in the program too, its last stop for failures included.
#define BROWSER_TEST_MAIN(TestClass) \
    int main(int argc, char *argv[]) \
    { \
        prepareBrowserProcess(); \
        DevezozuvorApplication app(argc, argv); \
        TestClass test; \
        return QTest::qExec(&test, argc, argv); \
    }
