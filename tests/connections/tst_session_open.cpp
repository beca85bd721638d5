// Opening sessions for real: the installation key comes from a private bus
// with the UDisks2 stand-in, the session key text is renewed and handed to
// the recording terminal program.
#include "connections/manager.hpp"
#include "crypto/installation_key.hpp"
#include "crypto/session_key.hpp"
#include "sessions/putty_session_path.hpp"
#include "sessions/session_json.hpp"
#include "support/machine_identity.hpp"
#include "support/recorded_calls.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

namespace core = brano::core::v6;
using kelvra::connection;
using kelvra::manager;

namespace {

core::byte_array process_key() {
    core::result::stack status;
    return kelvra::crypto::get_installation_key(status);
}

QString seal(core::byte_array const& installation_key, QString const& secret,
             QString const& command, QString const& path) {
    kelvra::crypto::session_key key;
    key.device_key = installation_key;
    key.secret = core::byte_array(secret.toStdString());
    key.command = command.toStdString();
    key.path = path.toStdString();
    core::result::stack status;
    return QString::fromStdString(kelvra::crypto::encrypt_session_key(key, status));
}

// A text sealed for another installation that this one refuses (about one in
// 256 passes the padding check and decrypts to noise), so the refusal is tested.
QString sealed_elsewhere(QString const& command, QString const& path) {
    for (;;) {
        QString const text = seal(core::byte_array("another-drive"), "x", command, path);
        core::result::stack status;
        kelvra::crypto::decrypt_session_key(text.toStdString(), process_key(), status);
        if (status.has_failed()) {
            return text;
        }
    }
}

} // namespace

class tst_session_open : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    kelvra::testing::install_root root_;
    std::unique_ptr<kelvra::testing::machine_identity> identity_;
    QTemporaryDir records_;

    connection sample() {
        connection c;
        c.name = "Vendas";
        c.host = "mirtel";
        c.port = 22;
        c.user = "op";
        c.session_key = seal(process_key(), "s3nh@", "mirtel", "/srv/mirtel");
        return c;
    }

    QStringList open_and_record(connection const& c, core::result::stack& status) {
        QSignalSpy finished(&manager::instance(), &manager::all_finished);
        manager::instance().open_from(root_.bin(), c, status);
        if (status.has_failed() || !manager::instance().has_running()) {
            return {};
        }
        finished.wait(30000);
        return kelvra::testing::take_recorded_calls(records_.path()).value(0);
    }

private slots:
    void initTestCase() {
        identity_ = std::make_unique<kelvra::testing::machine_identity>();
        QVERIFY2(identity_->is_ready(), qPrintable(identity_->error()));
        qputenv("KELVRA_RECORD_DIR", records_.path().toLocal8Bit());
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/../recording_putty",
                            root_.file("libexec/putty")));
        QVERIFY(!process_key().empty());
    }

    void opening_renews_the_session_key_text() {
        connection const c = sample();
        core::result::stack status;
        qint64 const before = QDateTime::currentMSecsSinceEpoch();
        QStringList const first = open_and_record(c, status);
        QStringList const second = open_and_record(c, status);
        qint64 const after = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(!status.has_failed());
        QCOMPARE(first.size(), 6);
        QCOMPARE(first[2], "-pw");
        QVERIFY(first[3] != c.session_key);
        QVERIFY(first[3] != second[3]);

        for (QString const& text : {first[3], second[3]}) {
            kelvra::crypto::session_key const key =
                kelvra::crypto::decrypt_session_key(text.toStdString(), process_key(), status);
            QVERIFY(!status.has_failed());
            QCOMPARE(key.secret.to_string(), std::string("s3nh@"));
            QCOMPARE(key.command, std::string("mirtel"));
            QCOMPARE(key.path, std::string("/srv/mirtel"));
            QVERIFY(key.timestamp.to_msecs_since_epoch() >= before);
            QVERIFY(key.timestamp.to_msecs_since_epoch() <= after);
        }
    }

    void failures_before_launch_register_and_write_nothing_data() {
        QTest::addColumn<QString>("session_key");
        QTest::addColumn<QByteArray>("category");
        QTest::newRow("other installation")
            << sealed_elsewhere("c", "p") << QByteArray("kelvra-openssl-errors");
        QTest::newRow("not a session key") << "AAE=" << QByteArray("kelvra-generic-errors");
        QTest::newRow("no identity")
            << sample().session_key << QByteArray("kelvra-crypto-linux-dbus");
    }

    void failures_before_launch_register_and_write_nothing() {
        QFETCH(QString, session_key);
        QFETCH(QByteArray, category);
        bool const no_identity = QTest::currentDataTag() == QByteArray("no identity");
        if (no_identity) {
            identity_->stop();
        }
        auto restart = qScopeGuard([&] { QVERIFY(!no_identity || identity_->restart()); });
        connection c = sample();
        c.name = QStringLiteral("Falha %1").arg(QTest::currentDataTag());
        c.session_key = session_key;
        core::result::stack status;
        manager::instance().open_from(root_.bin(), c, status);
        QVERIFY(status.has_failed());
        QCOMPARE(QByteArray(status.begin()->get_category().name()), category);
        QVERIFY(!QFile::exists(kelvra::putty_session_path(c.name)));
        QVERIFY(!manager::instance().has_running());
    }

    // A version 1 file sealed elsewhere fails, and recovers nothing.
    void version_1_file_of_another_installation() {
        QByteArray const v1 =
            "{\"versao\": 1, \"nome\": \"Antiga\", \"host\": \"h\", \"porta\": 22, "
            "\"usuario\": \"u\", \"autostart\": false, \"maximized\": true, \"key\": \"" +
            sealed_elsewhere("menu", "/").toLatin1() + "\"}";
        core::result::stack status;
        kelvra::session const foreign =
            kelvra::session_from_json(QJsonDocument::fromJson(v1), status);
        QVERIFY(status.has_failed());
        QVERIFY(foreign.comando.isEmpty() && foreign.caminho.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_session_open)
#include "tst_session_open.moc"
