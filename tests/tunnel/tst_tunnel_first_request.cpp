// Its own program: the request is the first thing to reach the connection manager, which,
// made on the tunnel thread, would run the terminal programs' finish handlers there.

#include "tunnel/tunnel_fixtures.hpp"

#include <QTest>

using namespace kelvra::testing::tunnel;

class tst_tunnel_first_request : public QObject {
    Q_OBJECT

private slots:
    void manager_stays_on_the_creating_thread() {
        kelvra::tunnel::tunnel_thread tunnel(0);
        client c;
        QVERIFY(c.connect_to(port_of(tunnel)));
        QByteArray const unknown(76, '0');
        QVERIFY(c.send(frame_of(request_json(unknown, "PrinterListRequest"))));
        QByteArray const reply = error_reply(unknown, 1, connection_unknown);
        QCOMPARE(c.read(reply.size()), reply);
        QCOMPARE(kelvra::manager::instance().thread(), QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(tst_tunnel_first_request)
#include "tst_tunnel_first_request.moc"
