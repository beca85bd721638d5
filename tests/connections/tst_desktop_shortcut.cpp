#include "commandline/arguments.hpp"
#include "connections/desktop_shortcut.hpp"
#include "core/status.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QTest>

namespace core = brano::core::v6;

class tst_desktop_shortcut : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;

private slots:
    // Every session name gets a launcher file of its own whose Exec line
    // hands "--load=NAME" whole to the command line, which reads it back:
    // names starting with "-", holding "=", the characters the quoting
    // escapes, or differing only in "/" and "_". The line is quoted, then
    // escaped again as a string value.
    void every_name_opens_its_own_session_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("argument");
        auto row = [](char const* name, char const* file, char const* argument) {
            QTest::newRow(name) << name << file << argument;
        };
        row("Caixa \\1", "Caixa \\1", "\"--load=Caixa \\\\\\\\1\"");
        row("-x", "-x", "\"--load=-x\"");
        row("a=b", "a=b", "\"--load=a=b\"");
        row("a/b", "a%2Fb", "\"--load=a/b\"");
        row("a_b", "a_b", "\"--load=a_b\"");
        row("a%2Fb", "a%252Fb", "\"--load=a%%2Fb\"");
        row("a\"b`c$d", "a\"b`c$d", "\"--load=a\\\\\"b\\\\`c\\\\$d\"");
    }

    void every_name_opens_its_own_session() {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(QString, argument);
        auto const d = kelvra::describe_session_shortcut(name);
        core::result::stack status;
        kelvra::write_shortcut(d, status);
        QVERIFY(!status.has_failed());
        QVERIFY(!QFile::exists(d.shortcut_file));
        QFile entry(home_.home() + "/Desktop/" + file + ".desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.permissions() & QFile::ExeOwner);
        QString const text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.startsWith("[Desktop Entry]\nType=Application\n"));
        QString const shown = QString(name).replace("\\", "\\\\");
        QVERIFY(text.contains("\nName=" + shown + QLatin1Char('\n')));
        QString const exec = "\nExec=\"" + QCoreApplication::applicationFilePath() + "\" " +
                             argument + QLatin1Char('\n');
        QVERIFY2(text.contains(exec), qPrintable(text));
        QVERIFY(text.contains("\nIcon="));

        QByteArray program = "kelvra", option = ("--load=" + name).toUtf8();
        char* argv[] = {program.data(), option.data(), nullptr};
        kelvra::commandline::arguments parsed;
        parsed.parse(2, argv, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(parsed.session_name(), name);
    }

    void unwritable_desktop_is_reported() {
        auto d = kelvra::describe_session_shortcut("X");
        QVERIFY(QFile(home_.home() + "/blocker").open(QIODevice::WriteOnly));
        d.shortcut_file = home_.home() + "/blocker/X.lnk";
        core::result::stack status;
        kelvra::write_shortcut(d, status);
        QCOMPARE(status.get_value(), int(kelvra::status::persist_session_category::file_error));
        QCOMPARE(QString::fromStdString(*status.begin()->find_argument("filename")),
                 home_.home() + "/blocker/X.desktop");
    }
};

QTEST_GUILESS_MAIN(tst_desktop_shortcut)
#include "tst_desktop_shortcut.moc"
