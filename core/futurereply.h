#pragma once

#include "apperror.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>

#include <type_traits>

// Takes up the future's outcome on context's thread once it is ready: its
// result goes to onResult, a failure's message to onFailure. A future ended by
// Cancelled (the user is leaving) reaches neither, nor does one that outlives
// context (its watcher goes with it).
template<typename T, typename OnResult, typename OnFailure>
void whenReady(QFuture<T> future, QObject *context, OnResult onResult, OnFailure onFailure)
{
    auto *watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, onResult = std::move(onResult), onFailure = std::move(onFailure)]() mutable {
                         watcher->deleteLater();
                         QFuture<T> done = watcher->future();
                         try {
                             if constexpr (std::is_void_v<T>) {
                                 done.waitForFinished(); // throws the job's failure
                                 onResult();
                             } else {
                                 onResult(done.result());
                             }
                         } catch (const Cancelled &) {
                         } catch (...) {
                             onFailure(currentFailureMessage());
                         }
                     });
    watcher->setFuture(future);
}
