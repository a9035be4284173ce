#include "net/http/QPromise.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <atomic>

// The promise on its own: settled once, continuations always later and on the GUI thread.
class TestQPromise : public QObject
{
    Q_OBJECT

private slots:
    void resolveSettlesOnceAndIgnoresLaterCalls();
    void rejectSettlesOnceAndIgnoresLaterResolve();
    void continuationsNeverRunInsideResolveOrThen();
    void continuationsRunInRegistrationOrder();
    void onlyTheMatchingKindOfContinuationRuns();
    void settledFromAWorkerThreadDeliversOnTheGuiThread();
    void copiesShareState();
};

void TestQPromise::resolveSettlesOnceAndIgnoresLaterCalls()
{
    QPromiseResolve<int>* keptResolve = nullptr;
    QPromiseReject<int>* keptReject = nullptr;
    QPromise<int> promise([&](const QPromiseResolve<int>& resolve, const QPromiseReject<int>& reject) {
        keptResolve = new QPromiseResolve<int>(resolve);
        keptReject = new QPromiseReject<int>(reject);
    });
    QVERIFY(promise.isPending());
    (*keptResolve)(7);
    (*keptResolve)(8);
    (*keptReject)(ZebPromiseError{QStringLiteral("late"), 3});
    QVERIFY(promise.isFulfilled());
    QVERIFY(!promise.isRejected());

    QList<int> values;
    int failures = 0;
    promise.then([&](const int& v) { values.append(v); }).fail([&](const ZebPromiseError&) { ++failures; });
    QTRY_COMPARE(values.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(values, QList<int>{7});
    QCOMPARE(failures, 0);
    delete keptResolve;
    delete keptReject;
}

void TestQPromise::rejectSettlesOnceAndIgnoresLaterResolve()
{
    std::function<void()> settle;
    QPromise<QByteArray> promise(
        [&](const QPromiseResolve<QByteArray>& resolve, const QPromiseReject<QByteArray>& reject) {
            settle = [resolve, reject]() {
                reject(ZebPromiseError{QStringLiteral("first"), 5});
                reject(ZebPromiseError{QStringLiteral("second"), 6});
                resolve(QByteArrayLiteral("late"));
            };
        });
    QList<ZebPromiseError> errors;
    int values = 0;
    promise.fail([&](const ZebPromiseError& e) { errors.append(e); });
    promise.then([&](const QByteArray&) { ++values; });
    settle();
    QVERIFY(promise.isRejected());
    QTRY_COMPARE(errors.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors[0].text, QStringLiteral("first"));
    QCOMPARE(errors[0].code, 5);
    QCOMPARE(values, 0);
    QCOMPARE(promise.error().text, QStringLiteral("first"));
}

void TestQPromise::continuationsNeverRunInsideResolveOrThen()
{
    int calls = 0;
    std::function<void(int)> resolveLater;
    QPromise<int> pending([&](const QPromiseResolve<int>& resolve, const QPromiseReject<int>&) {
        resolveLater = [resolve](int v) { resolve(v); };
    });
    pending.then([&](const int&) { ++calls; });
    resolveLater(1);
    QCOMPARE(calls, 0); // not inside resolve
    QTRY_COMPARE(calls, 1);

    // Already settled: registering does not run it at once either.
    QPromise<int> settled = QPromise<int>::resolved(2);
    settled.then([&](const int&) { ++calls; });
    QCOMPARE(calls, 1);
    QTRY_COMPARE(calls, 2);
}

void TestQPromise::continuationsRunInRegistrationOrder()
{
    QStringList order;
    QPromise<int> promise = QPromise<int>::resolved(1);
    promise.then([&](const int&) { order << QStringLiteral("a"); })
        .then([&](const int&) { order << QStringLiteral("b"); })
        .then([&](const int&) { order << QStringLiteral("c"); });
    QTRY_COMPARE(order.size(), 3);
    QCOMPARE(order, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

void TestQPromise::onlyTheMatchingKindOfContinuationRuns()
{
    int thens = 0;
    int fails = 0;
    QPromise<int>::rejected(ZebPromiseError{QStringLiteral("x"), 1})
        .then([&](const int&) { ++thens; })
        .fail([&](const ZebPromiseError&) { ++fails; });
    QPromise<int>::resolved(1).fail([&](const ZebPromiseError&) { ++fails; }).then([&](const int&) {
        ++thens;
    });
    QTRY_COMPARE(thens + fails, 2);
    QCoreApplication::processEvents();
    QCOMPARE(thens, 1);
    QCOMPARE(fails, 1);
}

void TestQPromise::settledFromAWorkerThreadDeliversOnTheGuiThread()
{
    QThread* guiThread = QThread::currentThread();
    std::atomic<QThread*> ranOn{nullptr};
    QPromise<int> promise([](const QPromiseResolve<int>& resolve, const QPromiseReject<int>&) {
        QThread* worker = QThread::create([resolve]() { resolve(42); });
        QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
        worker->start();
    });
    int value = 0;
    promise.then([&](const int& v) {
        value = v;
        ranOn = QThread::currentThread();
    });
    QTRY_COMPARE(value, 42);
    QCOMPARE(ranOn.load(), guiThread);

    // Continuations registered on a worker thread still run on the GUI thread.
    std::atomic<QThread*> failRanOn{nullptr};
    QPromise<int> rejected = QPromise<int>::rejected(ZebPromiseError{QStringLiteral("e"), 2});
    QThread* registrar = QThread::create(
        [&]() { rejected.fail([&](const ZebPromiseError&) { failRanOn = QThread::currentThread(); }); });
    registrar->start();
    QVERIFY(registrar->wait(5000));
    delete registrar;
    QTRY_VERIFY(failRanOn.load() != nullptr);
    QCOMPARE(failRanOn.load(), guiThread);
}

void TestQPromise::copiesShareState()
{
    std::function<void()> settle;
    QPromise<QString> original([&](const QPromiseResolve<QString>& resolve, const QPromiseReject<QString>&) {
        settle = [resolve]() { resolve(QStringLiteral("shared")); };
    });
    QPromise<QString> copy = original;
    QString seen;
    copy.then([&](const QString& v) { seen = v; });
    settle();
    QVERIFY(original.isFulfilled());
    QVERIFY(copy.isFulfilled());
    QTRY_COMPARE(seen, QStringLiteral("shared"));
    QCOMPARE(original.value(), QStringLiteral("shared"));
}

QTEST_GUILESS_MAIN(TestQPromise)
#include "tst_qpromise.moc"
