// Work too long for the window's thread, run on a thread of its own while
// the window goes on painting and taking what other threads send it. The
// user's input waits until the work is done, so nothing they do can change
// what the caller holds meanwhile.
#pragma once

#include <QEventLoop>

#include <exception>
#include <optional>
#include <thread>
#include <utility>

template <typename Work>
auto RunBesideWindow(Work work) -> decltype(work()) {
    using TResult = decltype(work());
    std::optional<TResult> result;
    std::exception_ptr failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            result.emplace(work());
        } catch (...) {
            failure = std::current_exception();
        }
        // Queued: taken by the loop even when it has not started yet.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

// Lets the window paint and take what other threads sent between two parts
// of a long piece of work; the user's input still waits.
inline void LetWindowBreathe() { QEventLoop().processEvents(QEventLoop::ExcludeUserInputEvents); }
