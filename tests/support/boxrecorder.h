#pragma once

#include "messagebox.h"

#include <QEventLoop>
#include <QList>
#include <QTimer>
#include <QPointer>
#include <QWidget>

#include <functional>

// Takes the tool's message boxes instead of the screen while it lives, and
// remembers each one together with whether the watched window was visible.
class BoxRecorder
{
public:
    struct Box
    {
        MessageBox::Kind kind;
        QString title;
        QString text;
        bool windowVisible;
    };

    BoxRecorder()
    {
        MessageBox::setPresenter([this](MessageBox::Kind kind, const QString &title, const QString &text) {
            boxes.append({kind, title, text, watched && watched->isVisible()});
            if (onBox)
                onBox(boxes.last());
        });
    }
    ~BoxRecorder() { MessageBox::setPresenter({}); }

    QStringList texts() const
    {
        QStringList result;
        for (const Box &box : boxes)
            result.append(box.text);
        return result;
    }

    // Runs the event loop until more than `before` boxes were shown. A real
    // event loop, not QTest::qWait: the browser's own work runs on this thread
    // too, and qWait's naps between rounds slow every page load down.
    bool waitForBox(qsizetype before, int timeoutMs)
    {
        if (boxes.size() > before)
            return true;
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto previous = onBox;
        onBox = [&](const Box &box) {
            if (previous)
                previous(box);
            loop.quit();
        };
        timeout.start(timeoutMs);
        loop.exec();
        onBox = previous;
        return boxes.size() > before;
    }

    QList<Box> boxes;
    QPointer<QWidget> watched;
    // Runs while the box stands open, as the user's reading time would.
    std::function<void(const Box &)> onBox;
};
