#include "messagebox.h"

#include "apptitle.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

namespace MessageBox {

namespace {

Presenter &presenter()
{
    static Presenter current;
    return current;
}

QMessageBox::Icon iconOf(Kind kind)
{
    switch (kind) {
    case Kind::Error:
    case Kind::Report: return QMessageBox::Critical;
    case Kind::Information: return QMessageBox::Information;
    case Kind::Plain: break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString title(Kind kind)
{
    switch (kind) {
    case Kind::Error: return QStringLiteral("Error");
    case Kind::Information: return QStringLiteral("Information");
    case Kind::Plain:
    case Kind::Report: break;
    }
    return applicationTitle(QCoreApplication::applicationFilePath());
}

void show(Kind kind, const QString &text)
{
    if (presenter()) {
        presenter()(kind, title(kind), text);
        return;
    }

    QMessageBox box(iconOf(kind), title(kind), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = box.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        box.move(frame.topLeft());
    }
    box.exec();
}

void setPresenter(Presenter newPresenter)
{
    presenter() = std::move(newPresenter);
}

} // namespace MessageBox
