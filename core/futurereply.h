#pragma once

#include "apperror.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>

#include <type_traits>

// Takes up the future's outcome on context's thread once it is ready: its
// result goes to onResult, a failure's message to onFailure. A future ended by
// Cancelled (the user is leaving) reaches neither, and neither does one whose
// context was deleted first. The outcome is taken by a watcher that is the
// context's child: it never outlives the context, and the thread that ends the
// job never reads a context being deleted.
template<typename T, typename OnResult, typename OnFailure>
void whenReady(QFuture<T> future, QObject *context, OnResult onResult, OnFailure onFailure)
{
    auto *watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, onResult = std::move(onResult), onFailure = std::move(onFailure)]() mutable {
                         QFuture<T> done = watcher->future();
                         try {
                             done.waitForFinished(); // throws the job's failure
                             // Dropped with no outcome: told, so that its work still ends once.
                             if (done.isCanceled())
                                 throw AppError(QStringLiteral("A operação foi interrompida sem resposta"));
                             if constexpr (std::is_void_v<T>)
                                 onResult();
                             else
                                 onResult(done.result());
                         } catch (const Cancelled &) {
                         } catch (...) {
                             onFailure(currentFailureMessage());
                         }
                         watcher->deleteLater();
                     });
    watcher->setFuture(std::move(future));
}
