// Every status category against the expected tables, and codes beyond them.
#include "support/all_categories.hpp"
#include "support/processes.hpp"
#include "support/test_environment.hpp"

#include <QTest>

using kelvra::testing::all_categories;

class tst_status_categories : public QObject {
    Q_OBJECT

private slots:
    // Printed one "name<TAB>code<TAB>message" line per code, the tables match the
    // expected file line for line: no text differs, no code is missing or extra,
    // and no two categories share a name.
    void messages_match_expected_tables() {
        QStringList expected;
        QByteArray const file =
            kelvra::testing::read_file(kelvra::testing::data_file("status_categories.tsv"));
        for (QString const& line : QString::fromUtf8(file).split('\n')) {
            if (!line.isEmpty() && !line.startsWith('#')) {
                expected << line;
            }
        }
        QStringList actual;
        for (auto const& entry : all_categories()) {
            for (int code = 1; code <= entry.size; ++code) {
                actual << QString("%1\t%2\t%3")
                              .arg(entry.category->name())
                              .arg(code)
                              .arg(QString::fromUtf8(entry.category->message(code)));
            }
        }
        expected.sort();
        actual.sort();
        QVERIFY(!expected.isEmpty());
        QCOMPARE(actual, expected);
    }

    // A code outside its table ends the process instead of reading past it.
    void out_of_table_code_ends_process() {
        for (QString const probe : {"kelvra-manager 0", "kelvra-load-session 14",
                                    "kelvra-commandline-parser 2147483647"}) {
            QStringList const arguments = probe.split(' ');
            auto const run = kelvra::testing::run_program(
                QCoreApplication::applicationDirPath() + "/status_probe", arguments);
            QVERIFY2(run.code > 0 && run.out.isEmpty() && run.err.contains(arguments[0].toUtf8()) &&
                         run.err.contains(arguments[1].toUtf8()),
                     qPrintable(probe + ": " + run.err));
        }
    }
};

QTEST_GUILESS_MAIN(tst_status_categories)
#include "tst_status_categories.moc"
