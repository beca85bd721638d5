#include "core/application_directory.hpp"
#include "core/file_error.hpp"
#include "core/installation_config.hpp"
#include "core/status.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QProcess>
#include <QTest>

namespace core = brano::core::v6;
using kelvra::testing::install_root;

namespace {

std::string argument(core::result::stack const& stack, char const* name) {
    std::string const* value = stack.begin()->find_argument(name);
    return value == nullptr ? std::string("<missing>") : *value;
}

} // namespace

class tst_installation : public QObject {
    Q_OBJECT

private slots:
    void directories_resolve_below_the_root() {
        install_root root;
        core::result::stack status;
        QDir const etc =
            kelvra::detail::application_directory(root.bin(), QStringLiteral("etc"), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(etc.canonicalPath(), QDir(root.file(QStringLiteral("etc"))).canonicalPath());
        QDir const self =
            kelvra::detail::application_directory(root.bin(), QStringLiteral("."), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(self.canonicalPath(), QDir(root.path()).canonicalPath());
        QDir const sessions = kelvra::detail::sessions_directory(root.bin(), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(sessions.canonicalPath(),
                 QDir(root.file(QStringLiteral("var/sessions"))).canonicalPath());
    }

    void missing_directories_fail_with_their_path() {
        install_root root;
        QVERIFY(QDir(root.file(QStringLiteral("var/sessions"))).removeRecursively());

        core::result::stack status;
        QDir const sessions = kelvra::detail::sessions_directory(root.bin(), status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.size(), std::size_t(1));
        QCOMPARE(&status.begin()->get_category(),
                 static_cast<core::result::category const*>(
                     &kelvra::status::application_directories_category::instance()));
        QCOMPARE(status.get_value(), 1);
        QCOMPARE(QString::fromStdString(argument(status, "path")),
                 root.file(QStringLiteral("var/sessions")));
        QCOMPARE(sessions.path(), QDir(QString()).path());
        QVERIFY2(!QDir(root.file(QStringLiteral("var/sessions"))).exists(), "must not be created");

        status.reset();
        kelvra::detail::application_directory(root.bin(), QStringLiteral("nowhere"), status);
        QCOMPARE(QString::fromStdString(argument(status, "path")),
                 root.path() + QStringLiteral("/nowhere"));
    }

    void root_beyond_filesystem_top_fails() {
        core::result::stack status;
        kelvra::detail::application_directory(QStringLiteral("/"), QStringLiteral("etc"), status);
        QVERIFY(status.has_failed());
        QCOMPARE(argument(status, "path"), std::string("//.."));
    }

    void config_values_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("codigo");
        QTest::addColumn<QString>("nome");
        QTest::newRow("both") << QByteArray(R"({"codigo": 42, "nomeFantasia": "Padaria São João"})")
                              << qint64(42) << QStringLiteral("Padaria São João");
        QTest::newRow("fraction truncated")
            << QByteArray(R"({"codigo": 1234.9})") << qint64(1234) << QString();
        QTest::newRow("negative fraction toward zero")
            << QByteArray(R"({"codigo": -7.8})") << qint64(-7) << QString();
        QTest::newRow("codigo as text")
            << QByteArray(R"({"codigo": "1234"})") << qint64(0) << QString();
        QTest::newRow("nome as number")
            << QByteArray(R"({"nomeFantasia": 5})") << qint64(0) << QString();
        QTest::newRow("huge codigo saturates") << QByteArray(R"({"codigo": 1e300})")
                                               << std::numeric_limits<qint64>::max() << QString();
        QTest::newRow("empty file") << QByteArray() << qint64(0) << QString();
        QTest::newRow("not json") << QByteArray("{codigo: 1") << qint64(0) << QString();
        QTest::newRow("array") << QByteArray("[1, 2]") << qint64(0) << QString();
    }

    void config_values() {
        QFETCH(QByteArray, content);
        QFETCH(qint64, codigo);
        QFETCH(QString, nome);
        install_root root;
        QVERIFY(root.write(QStringLiteral("etc/config.json"), content));
        auto const config = kelvra::installation_config::load(root.bin());
        QVERIFY(!config.status.has_failed());
        QCOMPARE(qint64(config.codigo), codigo);
        QCOMPARE(config.nome_fantasia, nome);
        QCOMPARE(config.nome_fantasia.isNull(), nome.isNull());
    }

    void missing_config_is_a_file_failure() {
        install_root root;
        auto const config = kelvra::installation_config::load(root.bin());
        QVERIFY(config.status.has_failed());
        QCOMPARE(&config.status.begin()->get_category(),
                 static_cast<core::result::category const*>(
                     &kelvra::status::persist_session_category::instance()));
        QCOMPARE(config.status.get_value(), 3);
        QCOMPARE(QString::fromStdString(argument(config.status, "filename")),
                 root.file(QStringLiteral("etc/config.json")));
        QCOMPARE(argument(config.status, "code"), std::to_string(QFileDevice::OpenError));
        QVERIFY(argument(config.status, "description") != "<missing>");
    }

    // get() in a real process, run from a copy placed in a temporary
    // installation's bin/: it reads etc/config.json once, then writes a new
    // one and asks again. Both answers are the first one, failure included.
    void get_reads_once_per_process_data() {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("missing file kept as failure")
            << QByteArray() << QByteArray("failed=1 codigo=0 nome=");
        QTest::newRow("read once") << QByteArray(R"({"codigo": 9, "nomeFantasia": "Loja"})")
                                   << QByteArray("failed=0 codigo=9 nome=Loja");
    }

    void get_reads_once_per_process() {
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, expected);
        install_root root;
        if (!config.isEmpty()) {
            QVERIFY(root.write(QStringLiteral("etc/config.json"), config));
        }
        QString const probe = root.file(QStringLiteral("bin/config_probe"));
        QVERIFY(QFile::copy(
            QCoreApplication::applicationDirPath() + QStringLiteral("/config_probe"), probe));
        QProcess process;
        process.start(probe, QStringList());
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        QByteArray first;
        QByteArray second;
        for (QByteArray const& line : process.readAllStandardOutput().split('\n')) {
            if (line.startsWith("first")) {
                first = line;
            } else if (line.startsWith("second")) {
                second = line;
            }
        }
        QVERIFY2(first.endsWith(expected), first.constData());
        // The same object, unchanged although the file now says "codigo": 77.
        QCOMPARE(first.mid(first.indexOf("object=")), second.mid(second.indexOf("object=")));
    }

    void file_error_arguments() {
        core::result::stack stack;
        auto& item = stack.push_item(kelvra::status::persist_session_category::instance(), 3);
        kelvra::set_file_error_arguments(item, QStringLiteral("/x/sessão.json"), 0,
                                         QStringLiteral("Sem permissão"));
        QCOMPARE(argument(stack, "filename"), std::string("/x/sessão.json"));
        QCOMPARE(argument(stack, "code"), std::string("0"));
        QCOMPARE(argument(stack, "description"), std::string("Sem permissão"));
        kelvra::set_file_error_arguments(item, QString(), 4294967295u, QString());
        QCOMPARE(argument(stack, "code"), std::string("4294967295"));
    }
};

QTEST_GUILESS_MAIN(tst_installation)
#include "tst_installation.moc"
