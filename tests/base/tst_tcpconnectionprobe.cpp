// The system's view of a TCP connection another part of the process opened, on loopback sockets.
#include "base/TcpConnectionProbe.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

class tst_TcpConnectionProbe : public QObject
{
    Q_OBJECT

private slots:
    // The one new connection to the port is found, held by one probe only, read until it closes;
    // two new ones cannot be told apart.
    void findsReadsAndLetsGo()
    {
#ifndef Q_OS_LINUX
        QSKIP("the system tells nothing here");
#endif
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        const auto dial = [&server, port] {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, port);
            return socket->waitForConnected(5000) && server.waitForNewConnection(5000) ? std::move(socket)
                                                                                         : nullptr;
        };
        const TcpConnectionProbe::SocketIds before = TcpConnectionProbe::openSockets();
        QVERIFY(TcpConnectionProbe::claim(port, before) == nullptr); // nothing new yet
        std::unique_ptr<QTcpSocket> first = dial();
        QVERIFY(first);
        std::unique_ptr<TcpConnectionProbe> probe = TcpConnectionProbe::claim(port, before);
        QVERIFY(probe);
        QVERIFY(TcpConnectionProbe::claim(port, before) == nullptr); // held already

        first->write(QByteArray(3000, 'x'));
        QVERIFY(first->waitForBytesWritten(5000));
        TcpConnectionProbe::Counts counts;
        QTRY_VERIFY(probe->read(counts) && counts.ackedBytes >= 3000 && counts.waitingBytes == 0);
        QVERIFY(counts.windowBytes > 0);

        std::unique_ptr<QTcpSocket> second = dial(), third = dial();
        QVERIFY(second && third);
        QVERIFY(TcpConnectionProbe::claim(port, before) == nullptr); // two candidates
        third.reset();
        QTRY_VERIFY(TcpConnectionProbe::claim(port, before) != nullptr);

        first->abort();
        QVERIFY(!probe->read(counts));
        probe.reset();
    }
};

QTEST_MAIN(tst_TcpConnectionProbe)
#include "tst_tcpconnectionprobe.moc"
