#include "commandline/arguments.hpp"
#include "connections/desktop_shortcut.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

namespace core = brano::core::v6;

class tst_desktop_shortcut : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;

private slots:
    void exec_arguments_are_quoted_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "Vendas"
                               << "\"Vendas\"";
        QTest::newRow("space") << "Caixa 2"
                               << "\"Caixa 2\"";
        QTest::newRow("reserved") << "a\"b`c$d\\e"
                                  << "\"a\\\"b\\`c\\$d\\\\e\"";
        QTest::newRow("field code") << "100%"
                                    << "\"100%%\"";
    }

    void exec_arguments_are_quoted() {
        QFETCH(QString, argument);
        QFETCH(QString, quoted);
        QCOMPARE(kelvra::detail::quote_exec_argument(argument), quoted);
    }

    void launcher_file_is_written() {
        auto const d = kelvra::describe_session_shortcut(QStringLiteral("Caixa \\1"));
        core::result::stack status;
        kelvra::write_shortcut(d, status);
        QVERIFY(!status.has_failed());

        QString const path = home_.home() + QStringLiteral("/Desktop/Caixa \\1.desktop");
        QVERIFY(!QFile::exists(d.shortcut_file));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.permissions() & QFile::ExeOwner);
        QString const text = QString::fromUtf8(file.readAll());
        QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n")));
        QVERIFY(text.contains(QStringLiteral("\nName=Caixa \\\\1\n")));
        // The backslash: escaped for the quoted argument, then for the string value.
        QString const exec = QStringLiteral("\nExec=\"") + QCoreApplication::applicationFilePath() +
                             QStringLiteral("\" \"--load=Caixa \\\\\\\\1\"\n");
        QVERIFY2(text.contains(exec), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("\nIcon=")));
    }

    // Every session name gets a launcher of its own that the command line
    // reads back whole: names starting with "-", holding "=", or differing
    // only in "/" and "_".
    void every_name_opens_its_own_session() {
        QStringList const names{"-x", "a=b", "a/b", "a_b", "a%2Fb"};
        QSet<QString> files;
        for (QString const& name : names) {
            auto const d = kelvra::describe_session_shortcut(name);
            core::result::stack status;
            kelvra::write_shortcut(d, status);
            QVERIFY(!status.has_failed());
            files.insert(kelvra::detail::desktop_entry_path(d));

            QString const argument = QStringLiteral("--load=") + name;
            QVERIFY(kelvra::detail::desktop_entry(d, {}).contains(
                ("Exec=" + kelvra::detail::quote_exec_argument(d.target) + ' ' +
                 kelvra::detail::quote_exec_argument(argument) + '\n')
                    .toUtf8()));
            QByteArray program = "kelvra", option = argument.toUtf8();
            char* argv[] = {program.data(), option.data(), nullptr};
            kelvra::commandline::arguments parsed;
            parsed.parse(2, argv, status);
            QVERIFY2(!status.has_failed(), qPrintable(name));
            QCOMPARE(parsed.session_name(), name);
        }
        QCOMPARE(files.size(), names.size());
        for (QString const& file : files) {
            QVERIFY2(QFile::exists(file), qPrintable(file));
        }
    }

    void unwritable_desktop_is_reported() {
        auto d = kelvra::describe_session_shortcut(QStringLiteral("X"));
        QVERIFY(QFile(home_.home() + QStringLiteral("/blocker")).open(QIODevice::WriteOnly));
        d.shortcut_file = home_.home() + QStringLiteral("/blocker/X.lnk");
        core::result::stack status;
        kelvra::write_shortcut(d, status);
        QVERIFY(status.has_failed());
        QVERIFY(status.begin()->find_argument("filename") != nullptr);
    }
};

QTEST_GUILESS_MAIN(tst_desktop_shortcut)
#include "tst_desktop_shortcut.moc"
