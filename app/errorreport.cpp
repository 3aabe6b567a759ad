#include "errorreport.h"

#include "apperror.h"
#include "messagebox.h"

#include <QDebug>

namespace ErrorReport {

QString withFullStop(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void show(const QString &message)
{
    MessageBox::show(MessageBox::Kind::Report, withFullStop(message));
}

void showCurrentException()
{
    try {
        throw;
    } catch (const SilentAbort &) {
    } catch (const AppError &error) {
        show(error.message());
    } catch (const std::bad_alloc &) {
        show(QStringLiteral("Memória insuficiente"));
    } catch (const std::exception &error) {
        show(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        qWarning("Unknown exception dropped by the error report");
    }
}

} // namespace ErrorReport
