#include "net/http/QPromise.h"

#include <QTest>
#include <QThread>

#include <memory>

namespace {

// A pending promise, its settling functions, and what continuations saw ("v<value>", "e<code>").
struct Pending
{
    std::function<void(int)> resolve, reject;
    QPromise<int> promise{[this](const QPromiseResolve<int>& res, const QPromiseReject<int>& rej) {
        resolve = [res](int v) { res(v); };
        reject = [rej](int code) { rej(ZebPromiseError{QStringLiteral("e"), code}); };
    }};
    QStringList seen;
    void record(const QString& what)
    {
        seen << what + (QThread::currentThread() == QCoreApplication::instance()->thread() ? "" : " elsewhere");
    }
    std::function<void(const int&)> onValue = [this](const int& v) { record("v" + QString::number(v)); };
    std::function<void(const ZebPromiseError&)> onError = [this](const ZebPromiseError& e) {
        record("e" + QString::number(e.code));
    };
};

bool onWorkerThread(std::function<void()> job)
{
    std::unique_ptr<QThread> worker(QThread::create(std::move(job)));
    worker->start();
    return worker->wait(5000);
}

} // namespace

class TestQPromise : public QObject
{
    Q_OBJECT

private slots:
    // The first outcome holds, for copies too; continuations run later, in order, never inside the call.
    void settlesOnceAndQueuesInOrder()
    {
        for (const bool resolveFirst : {true, false}) {
            Pending p;
            p.promise.then(p.onValue).fail(p.onError);
            QPromise<int> copy = p.promise;
            resolveFirst ? p.resolve(7) : p.reject(5);
            p.resolve(8);
            p.reject(6);
            QVERIFY(p.seen.isEmpty());
            copy.then([&](const int&) { p.record("second"); }).fail([&](const ZebPromiseError&) {
                p.record("second");
            });
            QVERIFY(p.seen.isEmpty());
            QVERIFY(copy.isFulfilled() == resolveFirst && copy.isRejected() != resolveFirst);
            QTRY_COMPARE(p.seen.size(), 2);
            QTest::qWait(10); // nothing more comes
            QCOMPARE(p.seen, (QStringList{resolveFirst ? "v7" : "e5", "second"}));
        }
    }

    void deliveredOnTheGuiThread()
    {
        Pending settled, registered;
        settled.promise.then(settled.onValue);
        QVERIFY(onWorkerThread([&]() { settled.resolve(42); }));
        QPromise<int> rejected = QPromise<int>::rejected(ZebPromiseError{QStringLiteral("e"), 2});
        QVERIFY(onWorkerThread([&]() { rejected.fail(registered.onError); }));
        QTRY_COMPARE(settled.seen + registered.seen, (QStringList{"v42", "e2"}));
    }
};

QTEST_GUILESS_MAIN(TestQPromise)
#include "tst_qpromise.moc"
