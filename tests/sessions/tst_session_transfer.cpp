// Sessions shared between installations: the export document and its reading.
#include "core/status.hpp"
#include "session_samples.hpp"
#include "sessions/session_json.hpp"
#include "sessions/session_transfer.hpp"
#include "support/test_environment.hpp"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>

namespace core = brano::core::v6;
using kelvra::session;
using kelvra::testing::report;

namespace {

// A bare record, and one with every member set.
session sample(QString const& name) {
    session s;
    s.id = "{id-of-" + name + "}";
    s.nome = name;
    s.maximized = true;
    return s;
}

session rich_sample() {
    session s = kelvra::testing::sample("Produção", "{id-of-Produção}");
    s.comando = "menu \"principal\"";
    s.impressoras.resize(1);
    return s;
}

} // namespace

class tst_session_transfer : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(QString const& name) const { return dir_.filePath(name); }

private slots:
    // The bytes of the document (written out by hand, in the session files'
    // layout), and the file that replaces an older one: private to its user
    // whatever the older one's mode. Reading it gives the records back in
    // order, without the ids they had.
    void export_file_is_exact_private_and_read_back() {
        QString const file = path("sessoes.json");
        QVERIFY(kelvra::testing::write_file(file, "old"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
        core::result::stack status;
        kelvra::write_export_document(file, {rich_sample(), sample("Caixa")}, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(kelvra::testing::read_file(file),
                 kelvra::testing::read_file(kelvra::testing::data_file("export_document.json")));
        QCOMPARE(QFileInfo(file).permissions() & 0x7077, QFile::Permissions(0x6000));
        QVector<session> expected{rich_sample(), sample("Caixa")};
        expected[0].id = expected[1].id = QString();
        QVERIFY(kelvra::load_import_document(file, status) == expected);
    }

    // A folder that cannot take the file, and a disk that fills up in the
    // middle of the write: the failure is reported and the old file stays.
    void failed_export_keeps_the_old_file_data() {
        QTest::addColumn<bool>("read_only");
        QTest::newRow("read-only folder") << true;
        QTest::newRow("full disk") << false;
    }

    void failed_export_keeps_the_old_file() {
        QFETCH(bool, read_only);
        QString const folder = path("mounted");
        QVERIFY(QDir().mkpath(folder));
        QByteArray const where = QFile::encodeName(folder);
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0) {
            QSKIP("mounting needs root");
        }
        auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
        QString const file = folder + "/sessoes.json";
        QVERIFY(kelvra::testing::write_file(file, "old"));
        if (read_only) {
            QCOMPARE(::mount(nullptr, where.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
                     0);
        } else {
            QFile filler(folder + "/filler"); // what is left of the disk
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
            }
        }
        session big = sample("big");
        big.comando.fill('x', 100000);
        core::result::stack status;
        kelvra::write_export_document(file, {big}, status);
        QCOMPARE(report(status, "filename"), "kelvra-persist-session 3 " + file);
        QCOMPARE(kelvra::testing::read_file(file), QByteArray("old"));
        QCOMPARE(QDir(folder).entryList({"sessoes.json*"}, QDir::Files).size(), 1);
    }

    void import_failures_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // not written when null
        QTest::addColumn<QString>("expected");   // with "campo", or "description"
        QTest::addColumn<int>("count");
        auto row = [](char const* name, char const* file, QByteArray const& content,
                      QString const& expected, int count = 0) {
            QTest::newRow(name) << file << content << expected << count;
        };
        QByteArray const good = kelvra::session_json_text(sample("a"));
        QByteArray no_host = good;
        no_host.replace("\"host\"", "\"hots\"");
        QByteArray const persist = "kelvra-persist-session 3 ", load = "kelvra-load-session ";
        row("missing file", "none.json", {}, persist + "No such file or directory");
        row("huge file", "huge.json", "[", persist + "File too large");
        row("endless device", "/dev/zero", {}, persist + "File too large");
        row("not json", "a.json", "[{", load + "7 document");
        row("top-level object", "a.json", good, load + "7 document");
        row("number in the array", "a.json", "[" + good + ", 3]", load + "7 session#object");
        row("invalid session", "a.json", "[" + no_host + ", " + good + "]", load + "13 host", 2);
        row("empty array", "a.json", "[]", "");
    }

    void import_failures() {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QFETCH(int, count);
        QString const name = file.startsWith('/') ? file : path(file);
        if (!content.isNull()) {
            QVERIFY(kelvra::testing::write_file(name, content));
        }
        if (QTest::currentDataTag() == QByteArray("huge file")) { // sparse, all zeros
            QVERIFY(QFile::resize(name, kelvra::detail::max_import_document_size + 1));
        }
        core::result::stack status;
        QVector<session> const found = kelvra::load_import_document(name, status);
        QCOMPARE(report(status, expected.startsWith("kelvra-persist") ? "description" : "campo"),
                 expected);
        QCOMPARE(found.size(), count);
    }
};

QTEST_GUILESS_MAIN(tst_session_transfer)
#include "tst_session_transfer.moc"
