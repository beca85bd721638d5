#include "core/application_directory.hpp"
#include "core/installation_config.hpp"
#include "core/status.hpp"
#include "support/test_environment.hpp"

#include <QTest>

namespace core = brano::core::v6;

namespace {

using directories = kelvra::status::application_directories_category;
using persist = kelvra::status::persist_session_category;

// "category code argument" of the first item; empty for a success.
QString report(core::result::stack const& stack, char const* argument) {
    if (!stack.has_failed()) {
        return {};
    }
    std::string const* value = stack.begin()->find_argument(argument);
    return QString("%1 %2 ").arg(stack.begin()->get_category().name()).arg(stack.get_value()) +
           (value ? QString::fromStdString(*value) : "<missing>");
}

template <class Category> QString report(typename Category::code code, QString const& argument) {
    return QString("%1 %2 %3").arg(Category::category_name).arg(code).arg(argument);
}

} // namespace

class tst_installation : public QObject {
    Q_OBJECT

private slots:
    // "var/sessions": the sessions folder. A failure reports the missing path.
    void lookup_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QString>("missing");
        auto row = [](char const* case_name, char const* name, char const* removed,
                      char const* missing) {
            QTest::newRow(case_name) << name << removed << missing;
        };
        row("the root itself", ".", "", "");
        row("sessions", "var/sessions", "", "");
        row("no such folder", "nowhere", "", "<root>/nowhere");
        row("no sessions folder, not created", "var/sessions", "var/sessions",
            "<root>/var/sessions");
        row("no var folder", "var/sessions", "var", "<root>/var");
        row("executable in /, no parent", "etc", "", "//..");
    }

    void lookup() {
        QFETCH(QString, name);
        QFETCH(QString, removed);
        QFETCH(QString, missing);
        kelvra::testing::install_root root;
        QVERIFY(removed.isEmpty() || QDir(root.file(removed)).removeRecursively());
        core::result::stack status;
        QString const executable_dir = missing == "//.." ? "/" : root.bin();
        QDir const dir = name == "var/sessions"
                             ? kelvra::detail::sessions_directory(executable_dir, status)
                             : kelvra::detail::application_directory(executable_dir, name, status);
        QCOMPARE(report(status, "path"),
                 missing.isEmpty() ? QString()
                                   : report<directories>(directories::directory_not_found,
                                                         missing.replace("<root>", root.path())));
        // A failure gives the directory of an empty path.
        QCOMPARE(dir.canonicalPath(),
                 QDir(missing.isEmpty() ? root.file(name) : QString()).canonicalPath());
        QVERIFY(removed.isEmpty() || !QFileInfo::exists(root.file(removed)));
    }

    // A null content: no etc/config.json at all.
    void config_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("codigo");
        QTest::addColumn<QString>("nome");
        auto row = [](char const* name, char const* content, qint64 codigo, QString const& nome) {
            QTest::newRow(name) << QByteArray(content) << codigo << nome;
        };
        row("both", R"({"codigo": 42, "nomeFantasia": "Padaria São João"})", 42,
            "Padaria São João");
        row("fraction truncated", R"({"codigo": 1234.9})", 1234, {});
        row("negative fraction toward zero", R"({"codigo": -7.8})", -7, {});
        row("codigo as text", R"({"codigo": "1234"})", 0, {});
        row("nome as number", R"({"nomeFantasia": 5})", 0, {});
        row("huge codigo saturates", R"({"codigo": 1e300})", std::numeric_limits<qint64>::max(),
            {});
        // Edited by hand: the last of repeated members holds.
        row("repeated members",
            R"({"codigo": {"a": 1}, "nomeFantasia": "A", "codigo": 7, "nomeFantasia": "B"})", 7,
            "B");
        row("empty file", "", 0, {});
        row("not json", "{codigo: 1", 0, {});
        row("array", "[1, 2]", 0, {});
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
                 content.isNull()
                     ? report<persist>(persist::file_error, root.file("etc/config.json"))
                     : QString());
        QCOMPARE(qint64(config.codigo), codigo);
        QCOMPARE(config.nome_fantasia, nome);
        QCOMPARE(config.nome_fantasia.isNull(), nome.isNull());
    }
};

QTEST_GUILESS_MAIN(tst_installation)
#include "tst_installation.moc"
