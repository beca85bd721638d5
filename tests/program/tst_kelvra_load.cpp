// bin/kelvra --load NAME, run as a user runs it, from a temporary
// installation with the recording terminal program as libexec/putty.
#include "crypto/session_key.hpp"
#include "sessions/putty_session_path.hpp"
#include "sessions/session_store.hpp"
#include "support/machine_identity.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QUuid>

namespace core = brano::core::v6;

class tst_kelvra_load : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    kelvra::testing::install_root root_;
    std::unique_ptr<kelvra::testing::machine_identity> identity_;
    QTemporaryDir records_;

    QString kelvra() const { return root_.file(QStringLiteral("bin/kelvra")); }

    kelvra::session saved(QString const& name, kelvra::authentication_type auth) {
        kelvra::crypto::session_key key;
        key.device_key = kelvra::testing::machine_identity::key_for(kelvra());
        key.secret = core::byte_array(std::string("/home/op/.ssh/id_ed25519"));
        key.command = "mirtel";
        key.path = "/srv/mirtel";
        core::result::stack status;
        kelvra::session s;
        s.id = QUuid::createUuid().toString();
        s.nome = name;
        s.host = QStringLiteral("mirtel.example.com");
        s.porta = 22;
        s.usuario = QStringLiteral("op");
        s.tipo_autenticacao = auth;
        s.key = QString::fromStdString(kelvra::crypto::encrypt_session_key(key, status));
        s.impressoras = {{QStringLiteral("EPSON-1"), QStringLiteral("Balcão"), 2}};
        kelvra::detail::session_store(root_.bin()).save_session(s, status);
        return s;
    }

    QList<QStringList> take_recorded() const {
        return kelvra::testing::take_recorded_calls(records_.path());
    }

    QStringList recorded() const {
        QList<QStringList> const calls = take_recorded();
        return calls.isEmpty() ? QStringList() : calls.first();
    }

    static QByteArray frame(QByteArray const& body) {
        QByteArray out(4, '\0');
        auto const n = static_cast<quint32>(body.size());
        out[0] = static_cast<char>(n >> 24);
        out[1] = static_cast<char>(n >> 16);
        out[2] = static_cast<char>(n >> 8);
        out[3] = static_cast<char>(n);
        return out + body;
    }

    // One request to the running program's tunnel; the reply frame.
    static QByteArray tunnel_exchange(QByteArray const& body) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress(QHostAddress::LocalHost), 59565);
        if (!socket.waitForConnected(10000)) {
            return "no connection: " + socket.errorString().toUtf8();
        }
        socket.write(frame(body));
        QByteArray reply;
        while (socket.waitForReadyRead(10000)) {
            reply += socket.readAll();
            if (reply.size() >= 4) {
                auto const* p = reinterpret_cast<unsigned char const*>(reply.constData());
                qint64 const n = (qint64(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
                if (reply.size() >= n + 4) {
                    break;
                }
            }
        }
        return reply;
    }

    // The connection id the launcher put in the session's profile.
    static QString connection_id(QString const& session_name) {
        QFile profile(kelvra::putty_session_path(session_name));
        profile.open(QIODevice::ReadOnly);
        auto const match = QRegularExpression(QStringLiteral("KELVRA_CONNECTION_ID=([0-9a-f]{76})"))
                               .match(QString::fromUtf8(profile.readAll()));
        return match.captured(1);
    }

    bool has_recorded() const { return kelvra::testing::has_recorded_calls(records_.path()); }

private slots:
    void initTestCase() {
        identity_ = std::make_unique<kelvra::testing::machine_identity>();
        QVERIFY2(identity_->is_ready(), qPrintable(identity_->error()));
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_EXECUTABLE), kelvra()));
        QVERIFY(QFile::copy(QStringLiteral(KELVRA_RECORDING_PUTTY),
                            root_.file(QStringLiteral("libexec/putty"))));
        QVERIFY(!kelvra::testing::machine_identity::key_for(kelvra()).empty());
    }

    void load_opens_the_session_and_exits_when_the_terminal_ends() {
        saved(QStringLiteral("Produção 1"), kelvra::authentication_type::key_file);
        QProcess process;
        process.start(kelvra(), {QStringLiteral("--load"), QStringLiteral("Produção 1")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        // The terminal program writes to kelvra's own output, not to a pipe
        // nobody reads.
        QVERIFY(process.readAllStandardError().contains("recording_putty: started\n"));

        QStringList const args = recorded();
        QCOMPARE(args.size(), 6);
        QCOMPARE(args.mid(0, 3), (QStringList{"-load", "Produção 1", "-i"}));
        QCOMPARE(args.mid(4), (QStringList{"-R", "kelvra:127.0.0.1:59565"}));
        core::result::stack status;
        auto const key = kelvra::crypto::decrypt_session_key(
            args[3].toStdString(), kelvra::testing::machine_identity::key_for(kelvra()), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(key.secret.to_string(), std::string("/home/op/.ssh/id_ed25519"));
        QCOMPARE(key.command, std::string("mirtel"));
        QCOMPARE(key.path, std::string("/srv/mirtel"));

        QFile profile(kelvra::putty_session_path(QStringLiteral("Produção 1")));
        QVERIFY(profile.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(profile.readAll())
                    .contains(
                        QRegularExpression(QStringLiteral("\nEnvironment=KELVRA_CONNECTION_ID=7b[0-"
                                                          "9a-f]{72}7d,KELVRA_VERSION=1.3.3\n"))));
    }

    void unknown_session_exits_1_with_its_report() {
        QProcess process;
        process.start(kelvra(), {QStringLiteral("--open-connection"), QStringLiteral("Nenhuma")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QByteArray const err = process.readAllStandardError();
        QVERIFY2(err.contains("kelvra-load-session: A sessão não foi encontrada\n"
                              "    session-name: Nenhuma\n"),
                 err.constData());
    }

    // A second start hands its session to the running instance and ends.
    void second_start_hands_over_to_the_instance() {
        saved(QStringLiteral("A"), kelvra::authentication_type::password);
        saved(QStringLiteral("B"), kelvra::authentication_type::password);
        QString const hold = records_.filePath(QStringLiteral("hold"));
        QVERIFY(QFile(hold).open(QIODevice::WriteOnly));
        qputenv("KELVRA_RECORD_HOLD", hold.toLocal8Bit());
        auto release = qScopeGuard([&] {
            QFile::remove(hold);
            qunsetenv("KELVRA_RECORD_HOLD");
        });

        QProcess first;
        first.start(kelvra(), {QStringLiteral("--load"), QStringLiteral("A")});
        QList<QStringList> calls;
        QTRY_VERIFY_WITH_TIMEOUT(has_recorded(), 60000);
        calls = take_recorded();
        QCOMPARE(calls.first().mid(0, 2), (QStringList{"-load", "A"}));

        // While the session runs, the tunnel answers on the forward's port
        // with the printers of the session the connection was opened from.
        QString const id = connection_id(QStringLiteral("A"));
        QVERIFY(!id.isEmpty());
        QByteArray const request = "{\"connection_id\":\"" + id.toLatin1() +
                                   "\",\"kind\":\"PrinterListRequest\",\"version\":1}";
        QByteArray const expected_reply =
            "{\"connection_id\":\"" + id.toLatin1() +
            "\",\"kind\":\"PrinterListResponse\",\"printers\":[{\"identificador\":\"EPSON-1\","
            "\"nome\":\"Balcão\",\"tipo\":2}],\"version\":1}";
        QCOMPARE(tunnel_exchange(request), frame(expected_reply));

        QProcess second;
        second.start(kelvra(), {QStringLiteral("--load"), QStringLiteral("B")});
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(has_recorded(), 60000);
        calls = take_recorded();
        QCOMPARE(calls.first().mid(0, 2), (QStringList{"-load", "B"}));

        // A bare start only asks the instance to show itself.
        QProcess bare;
        bare.start(kelvra(), QStringList());
        QVERIFY(bare.waitForFinished(60000));
        QCOMPARE(bare.exitCode(), 0);
        // A malformed command line is reported even with an instance running.
        QProcess malformed;
        malformed.start(kelvra(), {QStringLiteral("--foo")});
        QVERIFY(malformed.waitForFinished(60000));
        QCOMPARE(malformed.exitCode(), 1);

        QCOMPARE(first.state(), QProcess::Running);
        QFile::remove(hold);
        QVERIFY(first.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(take_recorded().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_kelvra_load)
#include "tst_kelvra_load.moc"
