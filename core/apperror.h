#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The one exception type of the tool. Its message is what the user reads in
// the error report, so it must name the object and the reason in Portuguese
// (or carry the engine's or codec's own text unchanged).
class AppError : public std::exception
{
public:
    explicit AppError(QString message)
        : m_message(std::move(message)), m_what(m_message.toUtf8())
    {
    }

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

// The silent kind: it ends a handler like any failure, but the error report
// drops it without a message.
class SilentAbort : public std::exception
{
public:
    const char *what() const noexcept override { return "Operation aborted"; }
};
