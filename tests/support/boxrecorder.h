#pragma once

#include "messagebox.h"

#include <QEventLoop>
#include <QList>
#include <QPointer>
#include <QTimer>
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
        QString title, text;
        bool windowVisible;
    };

    BoxRecorder()
    {
        MessageBox::setPresenter([this](MessageBox::Kind kind, const QString &title, const QString &text) {
            boxes.append({kind, title, text, watched && watched->isVisible()});
            if (onBox)
                onBox(boxes.last());
            if (m_waiting)
                m_waiting->quit();
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
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        m_waiting = &loop;
        if (boxes.size() <= before)
            loop.exec();
        m_waiting = nullptr;
        return boxes.size() > before;
    }

    QList<Box> boxes;
    QPointer<QWidget> watched;
    // Called as each box is shown, as a user who answers it would act.
    std::function<void(const Box &)> onBox;

private:
    QEventLoop *m_waiting = nullptr;
};
