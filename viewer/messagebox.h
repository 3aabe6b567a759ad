#pragma once

#include <QString>

#include <functional>

// The tool's modal message boxes: one "OK" button, centred on the screen.
namespace MessageBox {

enum class Kind {
    Error,       // "Error", stop icon: failures the tool handles itself
    Information, // "Information", information icon
    Plain,       // application title, no icon
    Report,      // application title, stop icon: the default error report
};

QString title(Kind kind);
void show(Kind kind, const QString &text);

inline void error(const QString &text)
{
    show(Kind::Error, text);
}
inline void information(const QString &text)
{
    show(Kind::Information, text);
}
inline void plain(const QString &text)
{
    show(Kind::Plain, text);
}

// While set, boxes go to the presenter instead of the screen: the unattended
// run writes them out, tests record them. The presenter may run the event
// loop to stand for the box's own modal loop.
using Presenter = std::function<void(Kind kind, const QString &title, const QString &text)>;
void setPresenter(Presenter presenter);

} // namespace MessageBox
