#include "support/all_categories.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTest>

#include <set>

using kelvra::testing::all_categories;

class tst_status_categories : public QObject {
    Q_OBJECT

    // The expected tables: category name, code and message, one a line.
    static QList<QStringList> expected_rows() {
        QFile file(kelvra::testing::data_file(QStringLiteral("status_categories.tsv")));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        QList<QStringList> rows;
        while (!file.atEnd()) {
            QString const line = QString::fromUtf8(file.readLine()).chopped(1);
            if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
                rows << line.split(QLatin1Char('\t'));
            }
        }
        return rows;
    }

private slots:
    void messages_match_expected_tables_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QList<QStringList> const rows = expected_rows();
        QVERIFY(!rows.isEmpty());
        for (QStringList const& f : rows) {
            QCOMPARE(f.size(), 3);
            QTest::addRow("%s/%s", qPrintable(f[0]), qPrintable(f[1]))
                << f[0] << f[1].toInt() << f[2];
        }
    }

    void messages_match_expected_tables() {
        QFETCH(QString, name);
        QFETCH(int, code);
        QFETCH(QString, message);
        bool found = false;
        for (auto const& entry : all_categories()) {
            if (QString::fromUtf8(entry.category->name()) == name) {
                QVERIFY2(code <= entry.size, "table shorter than the expected table");
                QCOMPARE(QByteArray(entry.category->message(code)), message.toUtf8());
                found = true;
            }
        }
        QVERIFY2(found, qPrintable(name));
    }

    // Every category is an object and a name of its own, and knows no code
    // beyond its expected table; equal texts in different classes stay
    // different categories.
    void categories_are_distinct_without_extra_codes() {
        QMap<QString, int> highest;
        for (QStringList const& f : expected_rows()) {
            highest[f[0]] = std::max(highest.value(f[0]), f[1].toInt());
        }
        std::set<void const*> objects;
        std::set<std::string> names;
        for (auto const& entry : all_categories()) {
            objects.insert(entry.category);
            names.insert(entry.category->name());
            QCOMPARE(entry.size, highest.value(QString::fromUtf8(entry.category->name())));
        }
        QCOMPARE(objects.size(), all_categories().size());
        QCOMPARE(names.size(), all_categories().size());
        QCOMPARE(names.size(), std::size_t(highest.size()));
    }

    void out_of_table_code_ends_process_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        QTest::newRow("zero") << "kelvra-manager"
                              << "0";
        QTest::newRow("one past table") << "kelvra-load-session"
                                        << "14";
        QTest::newRow("far past table") << "kelvra-commandline-parser"
                                        << "2147483647";
    }

    void out_of_table_code_ends_process() {
        QFETCH(QString, name);
        QFETCH(QString, code);
        QProcess probe;
        probe.start(QCoreApplication::applicationDirPath() + QStringLiteral("/status_probe"),
                    {name, code});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QVERIFY(probe.exitCode() != 0);
        QCOMPARE(probe.readAllStandardOutput(), QByteArray());
        QByteArray const err = probe.readAllStandardError();
        QVERIFY2(err.contains(name.toUtf8()), err.constData());
        QVERIFY2(err.contains(code.toUtf8()), err.constData());
    }
};

QTEST_GUILESS_MAIN(tst_status_categories)
#include "tst_status_categories.moc"
