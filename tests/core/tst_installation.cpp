// The installation's folders and identity file, found from the executable's folder.
#include "core/application_directory.hpp"
#include "core/installation_config.hpp"
#include "core/status.hpp"
#include "support/test_environment.hpp"

#include <QTest>

namespace core = brano::core::v6;

namespace {

// "category code argument" of the first item; empty for a success.
QString report(core::result::stack const& stack, char const* argument) {
    if (!stack.has_failed()) {
        return {};
    }
    std::string const* value = stack.begin()->find_argument(argument);
    return QString("%1 %2 ").arg(stack.begin()->get_category().name()).arg(stack.get_value()) +
           (value ? QString::fromStdString(*value) : "<missing>");
}

} // namespace

class tst_installation : public QObject {
    Q_OBJECT

private slots:
    // The sessions folder is looked up, never created (the store makes it
    // private); the session tests check the other folders through the store.
    void missing_sessions_folder() {
        kelvra::testing::install_root root;
        QVERIFY(QDir(root.file("var/sessions")).removeRecursively());
        core::result::stack status;
        kelvra::detail::sessions_directory(root.bin(), status);
        QCOMPARE(report(status, "path"),
                 "kelvra-application-directories 1 " + root.file("var/sessions"));
        QVERIFY(!QFileInfo::exists(root.file("var/sessions")));
    }

    // A null content: no etc/config.json at all. A malformed file keeps the defaults.
    void config_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("codigo");
        QTest::addColumn<QString>("nome");
        auto row = [](char const* name, char const* content, qint64 codigo, QString const& nome) {
            QTest::newRow(name) << QByteArray(content) << codigo << nome;
        };
        row("both", R"({"codigo": 42, "nomeFantasia": "Padaria São João"})", 42,
            "Padaria São João");
        row("fraction toward zero", R"({"codigo": -7.8})", -7, {});
        row("huge codigo saturates", R"({"codigo": 1e300})", std::numeric_limits<qint64>::max(),
            {});
        row("wrong types", R"({"codigo": "1234", "nomeFantasia": 5})", 0, {});
        // Edited by hand: the last of repeated members holds.
        row("repeated members",
            R"({"codigo": {"a": 1}, "nomeFantasia": "A", "codigo": 7, "nomeFantasia": "B"})", 7,
            "B");
        row("not json", "{codigo: 1", 0, {});
        row("no file", nullptr, 0, {});
    }

    void config() {
        QFETCH(QByteArray, content);
        QFETCH(qint64, codigo);
        QFETCH(QString, nome);
        kelvra::testing::install_root root;
        QVERIFY(content.isNull() || root.write("etc/config.json", content));
        auto const config = kelvra::installation_config::load(root.bin());
        QCOMPARE(report(config.status, "filename"),
                 content.isNull() ? "kelvra-persist-session 3 " + root.file("etc/config.json")
                                  : QString());
        QCOMPARE(qint64(config.codigo), codigo);
        QCOMPARE(config.nome_fantasia, nome);
        QCOMPARE(config.nome_fantasia.isNull(), nome.isNull());
    }
};

QTEST_GUILESS_MAIN(tst_installation)
#include "tst_installation.moc"
