#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <new>

// The one exception type of the tool. Its message is what the user reads in
// the error report, so it must name the object and the reason in Portuguese
// (or carry the engine's or codec's own text unchanged).
class AppError : public std::exception
{
public:
    explicit AppError(QString message) : m_message(std::move(message)), m_what(m_message.toUtf8()) { }

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

// The wait was ended because the user is leaving: the work is abandoned and
// nothing is reported.
class Cancelled : public std::exception
{
public:
    const char *what() const noexcept override { return "Operação cancelada"; }
};

// The message of the failure in flight, as the user reads it: AppError's
// own text, or a plain description of any other failure. Call it only inside
// a catch block.
inline QString currentFailureMessage()
{
    try {
        throw;
    } catch (const AppError &error) {
        return error.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("Memória insuficiente");
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("Erro inesperado");
    }
}
