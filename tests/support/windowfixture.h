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

// The tool's window started as the program starts it: made from the launch
// arguments, shown, and its start-up run by the event loop to its end. The
// program's directory is the test's folder; boxes go to the recorder.
class WindowFixture
{
public:
    explicit WindowFixture(QString programDirectory) : m_programDirectory(std::move(programDirectory)) { }

    // Makes and shows the window for the arguments after the program's name;
    // start-up then runs once the event loop does.
    TfoDeveZozuvor *open(const QStringList &arguments
                         = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1001")})
    {
        m_window = std::make_unique<TfoDeveZozuvor>(QStringList{QStringLiteral("DeveZozuvor")} + arguments);
        m_window->setProgramDirectory(m_programDirectory);
        boxes.watched = m_window.get();
        m_started = std::make_unique<QSignalSpy>(m_window.get(), &TfoDeveZozuvor::startUpFinished);
        m_window->show();
        return m_window.get();
    }

    // Opens the window and waits, within the bound, until its start-up has
    // ended; false, saying where it stood, when it did not.
    bool start(const QStringList &arguments = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1001")},
               int timeoutMs = 30000)
    {
        open(arguments);
        if (waitForStartUp(timeoutMs))
            return true;
        qWarning("start-up did not end within %d ms; status: %s", timeoutMs, qPrintable(status()));
        return false;
    }

    bool waitForStartUp(int timeoutMs = 30000)
    {
        return m_started && (!m_started->isEmpty() || m_started->wait(timeoutMs));
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
        QWindow *handle = m_window->windowHandle();
        QWindowSystemInterface::handleMouseEvent<Async>(handle, local, global, Qt::LeftButton, Qt::LeftButton,
                                                        QEvent::MouseButtonPress);
        QWindowSystemInterface::handleMouseEvent<Async>(handle, local, global, Qt::NoButton, Qt::LeftButton,
                                                        QEvent::MouseButtonRelease);
    }

    BoxRecorder boxes;

private:
    QString m_programDirectory;
    std::unique_ptr<TfoDeveZozuvor> m_window;
    std::unique_ptr<QSignalSpy> m_started;
};
