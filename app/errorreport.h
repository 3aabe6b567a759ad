#pragma once

#include <QString>

#include <exception>

// The application's default error report: what the user sees when a failure
// leaves an event handler unhandled. No exception may cross Qt's event loop,
// so every entry point from Qt runs its work through ErrorReport::guard.
namespace ErrorReport {

// The message with "." appended when it is not empty and its last character
// sorts above ".", so "falhou" gets a full stop and "falhou!" does not.
QString withFullStop(const QString &message);

// Shows the message in the report box (stop icon, application title).
void show(const QString &message);

// Reports the exception in flight; call it only inside a catch block.
void showCurrentException();

template<typename Fn>
void guard(Fn &&fn) noexcept
{
    try {
        fn();
    } catch (...) {
        showCurrentException();
    }
}

} // namespace ErrorReport
