#pragma once

#include "boxrecorder.h"
#include "udevezozuvor.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <memory>

// The tool's window started as the program starts it, from the launch arguments after the program's name,
// in the test's folder as the program's directory; boxes go to the recorder.
class WindowFixture
{
public:
    explicit WindowFixture(QString programDirectory) : m_programDirectory(std::move(programDirectory)) { }

    // Makes and shows the window; start-up runs once the event loop does.
    void open(const QStringList &arguments = {"0", "1", "1001"})
    {
        m_window = std::make_unique<TfoDeveZozuvor>(QStringList{"DeveZozuvor"} + arguments);
        m_window->setProgramDirectory(m_programDirectory);
        boxes.watched = m_window.get();
        m_started = std::make_unique<QSignalSpy>(m_window.get(), &TfoDeveZozuvor::startUpFinished);
        m_window->show();
    }

    // Opens the window and waits until its start-up has ended; false, saying where it stood, when it did not.
    bool start(const QStringList &arguments = {"0", "1", "1001"})
    {
        open(arguments);
        return waitForStartUp();
    }

    bool waitForStartUp()
    {
        if (!m_started->isEmpty() || m_started->wait(30000))
            return true;
        qWarning("start-up did not end within 30 s; status: %s", qPrintable(status()));
        return false;
    }

    void reset() { m_window.reset(); }
    TfoDeveZozuvor *window() const { return m_window.get(); }

    template<typename T>
    T *child(const char *name) const
    {
        T *widget = m_window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }

    QString status() const { return child<QLabel>("LStatus")->text(); }
    void click(const char *button) { QTest::mouseClick(child<QAbstractButton>(button), Qt::LeftButton); }

    // Clicks the way a user clicks: through the window system's queue, taken
    // up by whatever event loop runs next, a nested one included.
    void clickThroughWindowSystem(const char *button)
    {
        auto *target = child<QAbstractButton>(button);
        const QPointF local = target->mapTo(m_window.get(), target->rect().center());
        const QPointF global = m_window->mapToGlobal(local);
        using Async = QWindowSystemInterface::AsynchronousDelivery;
        for (const auto &[buttons, type] :
             {std::pair{Qt::LeftButton, QEvent::MouseButtonPress}, std::pair{Qt::NoButton, QEvent::MouseButtonRelease}})
            QWindowSystemInterface::handleMouseEvent<Async>(m_window->windowHandle(), local, global, buttons,
                                                            Qt::LeftButton, type);
    }

    BoxRecorder boxes;

private:
    QString m_programDirectory;
    std::unique_ptr<TfoDeveZozuvor> m_window;
    std::unique_ptr<QSignalSpy> m_started;
};
