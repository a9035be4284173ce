#pragma once

#include "net/http/ZebPromiseError.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QSharedPointer>

#include <functional>
#include <utility>
#include <vector>

// A small promise of one value of type T, settled at most once: resolved with a T or rejected with a
// ZebPromiseError. Copies share the same state. Continuations registered with then/fail never run
// inside resolve/reject or inside then/fail themselves: they are always posted to the thread of the
// application object (the GUI thread) and run there in registration order.

template <typename T> class QPromise;

namespace QPromiseDetail {

template <typename T> class State
{
public:
    enum class Status
    {
        Pending,
        Fulfilled,
        Rejected
    };

    using OnValue = std::function<void(const T&)>;
    using OnError = std::function<void(const ZebPromiseError&)>;

    // Returns false when the promise was already settled (the later call is ignored).
    bool resolve(const T& value)
    {
        std::vector<OnValue> toRun;
        {
            QMutexLocker lock(&m_mutex);
            if (m_status != Status::Pending)
                return false;
            m_status = Status::Fulfilled;
            m_value = value;
            toRun.swap(m_onValue);
            m_onError.clear();
        }
        for (auto& f : toRun)
            post([f, value]() { f(value); });
        return true;
    }

    bool reject(const ZebPromiseError& error)
    {
        std::vector<OnError> toRun;
        {
            QMutexLocker lock(&m_mutex);
            if (m_status != Status::Pending)
                return false;
            m_status = Status::Rejected;
            m_error = error;
            toRun.swap(m_onError);
            m_onValue.clear();
        }
        for (auto& f : toRun)
            post([f, error]() { f(error); });
        return true;
    }

    void addOnValue(OnValue f)
    {
        if (!f)
            return;
        QMutexLocker lock(&m_mutex);
        if (m_status == Status::Pending) {
            m_onValue.push_back(std::move(f));
        } else if (m_status == Status::Fulfilled) {
            T value = m_value;
            lock.unlock();
            post([f, value]() { f(value); });
        }
    }

    void addOnError(OnError f)
    {
        if (!f)
            return;
        QMutexLocker lock(&m_mutex);
        if (m_status == Status::Pending) {
            m_onError.push_back(std::move(f));
        } else if (m_status == Status::Rejected) {
            ZebPromiseError error = m_error;
            lock.unlock();
            post([f, error]() { f(error); });
        }
    }

    Status status() const
    {
        QMutexLocker lock(&m_mutex);
        return m_status;
    }

    T value() const
    {
        QMutexLocker lock(&m_mutex);
        return m_value;
    }

    ZebPromiseError error() const
    {
        QMutexLocker lock(&m_mutex);
        return m_error;
    }

private:
    // Queued on the application object so that the continuation runs on the GUI thread, later.
    // Without an application object there is no event loop that could ever deliver it.
    static void post(std::function<void()> job)
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(app, std::move(job), Qt::QueuedConnection);
    }

    mutable QMutex m_mutex;
    Status m_status = Status::Pending;
    T m_value{};
    ZebPromiseError m_error;
    std::vector<OnValue> m_onValue;
    std::vector<OnError> m_onError;
};

} // namespace QPromiseDetail

// Handed to the resolver function; may be copied and called later from any thread.
template <typename T> class QPromiseResolve
{
public:
    explicit QPromiseResolve(QSharedPointer<QPromiseDetail::State<T>> state) : m_state(std::move(state)) {}
    void operator()(const T& value) const { m_state->resolve(value); }

private:
    QSharedPointer<QPromiseDetail::State<T>> m_state;
};

template <typename T> class QPromiseReject
{
public:
    explicit QPromiseReject(QSharedPointer<QPromiseDetail::State<T>> state) : m_state(std::move(state)) {}
    void operator()(const ZebPromiseError& error) const { m_state->reject(error); }

private:
    QSharedPointer<QPromiseDetail::State<T>> m_state;
};

template <typename T> class QPromise
{
public:
    using Resolver = std::function<void(const QPromiseResolve<T>&, const QPromiseReject<T>&)>;

    // Runs the resolver at once; it may settle the promise now or keep the two functions for later.
    explicit QPromise(const Resolver& resolver) : m_state(QSharedPointer<QPromiseDetail::State<T>>::create())
    {
        if (resolver)
            resolver(QPromiseResolve<T>(m_state), QPromiseReject<T>(m_state));
    }

    static QPromise resolved(const T& value)
    {
        return QPromise(
            [value](const QPromiseResolve<T>& resolve, const QPromiseReject<T>&) { resolve(value); });
    }

    static QPromise rejected(const ZebPromiseError& error)
    {
        return QPromise(
            [error](const QPromiseResolve<T>&, const QPromiseReject<T>& reject) { reject(error); });
    }

    // Both return this promise so that then(...).fail(...) can be chained.
    QPromise& then(std::function<void(const T&)> onValue)
    {
        m_state->addOnValue(std::move(onValue));
        return *this;
    }

    QPromise& fail(std::function<void(const ZebPromiseError&)> onError)
    {
        m_state->addOnError(std::move(onError));
        return *this;
    }

    bool isPending() const { return m_state->status() == QPromiseDetail::State<T>::Status::Pending; }
    bool isFulfilled() const { return m_state->status() == QPromiseDetail::State<T>::Status::Fulfilled; }
    bool isRejected() const { return m_state->status() == QPromiseDetail::State<T>::Status::Rejected; }

    // The settled value (a default T while pending or rejected) and the rejection (empty otherwise).
    T value() const { return m_state->value(); }
    ZebPromiseError error() const { return m_state->error(); }

private:
    QSharedPointer<QPromiseDetail::State<T>> m_state;
};
