#include "errorreport.h"

#include "apperror.h"
#include "messagebox.h"

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
    } catch (const Cancelled &) {
    } catch (...) {
        show(currentFailureMessage());
    }
}

} // namespace ErrorReport
