// Sessions shared between installations: the export document and its reading.
#include "core/status.hpp"
#include "sessions/session_json.hpp"
#include "sessions/session_transfer.hpp"
#include "support/test_environment.hpp"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>

namespace core = brano::core::v6;
using kelvra::session;

namespace {

session sample(QString const& name) {
    session s;
    s.id = "{id-of-" + name + "}";
    s.nome = name;
    s.maximized = true;
    return s;
}

session rich_sample() {
    session s = sample("Produção");
    s.tipo_autenticacao = kelvra::authentication_type::key_file;
    s.host = "mirtel.example.com";
    s.porta = 2222;
    s.usuario = "joão";
    s.key = "AAECAwQ=";
    s.caminho = "/srv/mirtel";
    s.comando = "menu \"principal\"";
    s.impressoras = {{"HP-1", "Balcão", 3}};
    s.autostart = true;
    s.maximized = false;
    return s;
}

// "category code argument-value" of the first item; empty for a success.
QString report(core::result::stack const& status, char const* argument) {
    if (!status.has_failed()) {
        return {};
    }
    auto const* value = status.begin()->find_argument(argument);
    return QStringLiteral("%1 %2 %3")
        .arg(QString::fromUtf8(status.begin()->get_category().name()))
        .arg(status.get_value())
        .arg(value ? QString::fromStdString(*value) : QStringLiteral("<none>"));
}

} // namespace

class tst_session_transfer : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(QString const& name) const { return dir_.filePath(name); }

private slots:
    // The bytes of the document, and the file that replaces an older one:
    // private to its user whatever the older one's mode. Reading it gives
    // the records back in order, without the ids they had.
    void export_file_is_exact_private_and_read_back() {
        QString const file = path(QStringLiteral("sessoes.json"));
        QVERIFY(kelvra::testing::write_file(file, "old"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
        core::result::stack status;
        kelvra::write_export_document(file, {rich_sample(), sample(QStringLiteral("Caixa"))},
                                      status);
        QVERIFY(!status.has_failed());
        // Written out by hand, in the layout the session files have.
        QCOMPARE(kelvra::testing::read_file(file),
                 kelvra::testing::read_file(kelvra::testing::data_file("export_document.json")));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0600u);
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
        QString const folder = path(QStringLiteral("mounted"));
        QVERIFY(QDir().mkpath(folder));
        QByteArray const where = QFile::encodeName(folder);
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0) {
            QSKIP("mounting needs root");
        }
        auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
        QString const file = folder + QStringLiteral("/sessoes.json");
        QVERIFY(kelvra::testing::write_file(file, "old"));
        if (read_only) {
            QCOMPARE(::mount(nullptr, where.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
                     0);
        } else {
            // Fill what is left of the disk.
            QFile filler(folder + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
            }
        }
        session big = sample("big");
        big.comando.fill(QLatin1Char('x'), 100000);
        core::result::stack status;
        kelvra::write_export_document(file, {big}, status);
        QCOMPARE(report(status, "filename"), QStringLiteral("kelvra-persist-session 3 ") + file);
        QCOMPARE(kelvra::testing::read_file(file), QByteArray("old"));
        QVERIFY(QDir(folder).entryList({QStringLiteral("sessoes.json*")}, QDir::Files).size() == 1);
    }

    void import_failures_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // not written when null
        QTest::addColumn<QString>("expected");   // with "campo", or "description"
        QTest::addColumn<int>("count");
        QByteArray const good = kelvra::session_json_text(sample(QStringLiteral("a")));
        QByteArray no_host = good;
        no_host.replace("\"host\"", "\"hots\"");
        QTest::newRow("missing file") << "none.json" << QByteArray()
                                      << "kelvra-persist-session 3 No such file or directory" << 0;
        QTest::newRow("huge file")
            << "huge.json" << QByteArray("[") << "kelvra-persist-session 3 File too large" << 0;
        QTest::newRow("endless device")
            << "/dev/zero" << QByteArray() << "kelvra-persist-session 3 File too large" << 0;
        QTest::newRow("not json") << "a.json" << QByteArray("[{")
                                  << "kelvra-load-session 7 document" << 0;
        QTest::newRow("top-level object")
            << "a.json" << good << "kelvra-load-session 7 document" << 0;
        QTest::newRow("number in the array") << "a.json"
                                             << "[" + good + ", 3]"
                                             << "kelvra-load-session 7 session#object" << 0;
        QTest::newRow("invalid session") << "a.json"
                                         << "[" + no_host + ", " + good + "]"
                                         << "kelvra-load-session 13 host" << 2;
        QTest::newRow("empty array") << "a.json" << QByteArray("[]") << "" << 0;
    }

    void import_failures() {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QFETCH(int, count);
        QString const name = file.startsWith(QLatin1Char('/')) ? file : path(file);
        if (!content.isNull()) {
            QVERIFY(kelvra::testing::write_file(name, content));
        }
        if (QTest::currentDataTag() == QByteArray("huge file")) { // sparse, all zeros
            QVERIFY(QFile::resize(name, kelvra::detail::max_import_document_size + 1));
        }
        core::result::stack status;
        QVector<session> const found = kelvra::load_import_document(name, status);
        bool const file_error = expected.startsWith(QStringLiteral("kelvra-persist"));
        QCOMPARE(report(status, file_error ? "description" : "campo"), expected);
        QCOMPARE(found.size(), count);
    }
};

QTEST_GUILESS_MAIN(tst_session_transfer)
#include "tst_session_transfer.moc"
