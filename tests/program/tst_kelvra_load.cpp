// bin/kelvra --load NAME, run as a user runs it, from a temporary
// installation with the recording terminal program as libexec/putty.
#include "connections/putty_profile.hpp"
#include "crypto/session_key.hpp"
#include "sessions/session_store.hpp"
#include "support/machine_identity.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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
        kelvra::detail::session_store(root_.bin()).save_session(s, status);
        return s;
    }

    QStringList recorded() const {
        for (QFileInfo const& info :
             QDir(records_.path()).entryInfoList({QStringLiteral("*.args")}, QDir::Files)) {
            QFile f(info.filePath());
            f.open(QIODevice::ReadOnly);
            QList<QByteArray> parts = f.readAll().split('\0');
            parts.removeLast();
            QStringList args;
            for (auto const& p : parts) {
                args << QString::fromUtf8(p);
            }
            return args;
        }
        return {};
    }

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
                    .contains(QRegularExpression(QStringLiteral(
                        "\nEnvironment=KELVRA_CONNECTION_ID=7b[0-9a-f]{72}7d,KELVRA_VERSION=1.3.3\n"))));
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
};

QTEST_GUILESS_MAIN(tst_kelvra_load)
#include "tst_kelvra_load.moc"
