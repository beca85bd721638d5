#include "support/all_categories.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <atomic>
#include <set>
#include <thread>

using kelvra::testing::all_categories;

class tst_status_categories : public QObject {
    Q_OBJECT

private slots:
    // Runs first, before anything else built the category.
    void instance_is_one_object_across_threads() {
        using category = kelvra::status::suporte_session_category;
        constexpr int thread_count = 8;
        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        std::vector<category const*> seen(thread_count, nullptr);
        std::vector<std::thread> threads;
        for (int i = 0; i < thread_count; ++i) {
            threads.emplace_back([&, i] {
                ready.fetch_add(1);
                while (!go.load()) {
                    std::this_thread::yield();
                }
                seen[static_cast<std::size_t>(i)] = &category::instance();
            });
        }
        while (ready.load() != thread_count) {
            std::this_thread::yield();
        }
        go.store(true);
        for (auto& t : threads) {
            t.join();
        }
        for (auto const* p : seen) {
            QCOMPARE(p, &category::instance());
        }
    }

    void messages_match_expected_tables_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        QFile file(kelvra::testing::data_file(QStringLiteral("status_categories.tsv")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        int rows = 0;
        while (!file.atEnd()) {
            QString const line = QString::fromUtf8(file.readLine()).chopped(1);
            if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
                continue;
            }
            QStringList const f = line.split(QLatin1Char('\t'));
            QCOMPARE(f.size(), 3);
            QTest::addRow("%s/%s", qPrintable(f[0]), qPrintable(f[1]))
                << f[0] << f[1].toInt() << f[2];
            ++rows;
        }
        QCOMPARE(rows, 81);
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

    // Fifteen distinct objects and names, and no code beyond the expected tables.
    void fifteen_distinct_categories_without_extra_codes() {
        std::set<void const*> objects;
        std::set<std::string> names;
        int total = 0;
        for (auto const& entry : all_categories()) {
            objects.insert(entry.category);
            names.insert(entry.category->name());
            total += entry.size;
        }
        QCOMPARE(total, 81);
        QCOMPARE(objects.size(), std::size_t(15));
        QCOMPARE(names.size(), std::size_t(15));
        // Equal texts in different classes stay different categories.
        QVERIFY(static_cast<void const*>(&kelvra::status::config_category::instance()) !=
                static_cast<void const*>(&kelvra::status::load_style_category::instance()));
        QCOMPARE(QByteArray(kelvra::status::config_category::instance().message(2)),
                 QByteArray(kelvra::status::load_style_category::instance().message(2)));
    }

    void out_of_table_code_ends_process_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        QTest::newRow("zero") << "kelvra-manager"
                              << "0";
        QTest::newRow("negative") << "kelvra-tunnel-json"
                                  << "-1";
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
