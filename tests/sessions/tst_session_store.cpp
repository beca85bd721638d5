#include "connections/putty_profile.hpp"
#include "core/status.hpp"
#include "sessions/session_json.hpp"
#include "sessions/session_store.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <sys/mount.h>

namespace core = brano::core::v6;
using kelvra::session;
using kelvra::detail::session_store;
using kelvra::testing::install_root;

namespace {

session named(QString const& name, QString const& id) {
    session s;
    s.id = id;
    s.nome = name;
    s.host = QStringLiteral("servidor");
    s.porta = 22;
    s.usuario = QStringLiteral("usuario");
    s.key = QStringLiteral("chave");
    return s;
}

QStringList names(QVector<session> const& sessions) {
    QStringList out;
    for (auto const& s : sessions) {
        out << s.nome;
    }
    return out;
}

std::string argument(core::result::stack const& status, char const* name) {
    auto const* value = status.begin()->find_argument(name);
    return value == nullptr ? std::string("<missing>") : *value;
}

} // namespace

class tst_session_store : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;

private slots:
    void listing_is_sorted_and_ids_come_from_file_names() {
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        store.save_session(named(QStringLiteral("beta"), QStringLiteral("1")), status);
        store.save_session(named(QStringLiteral("alpha"), QStringLiteral("2")), status);
        store.save_session(named(QStringLiteral("Alpha"), QStringLiteral("3")), status);
        QVERIFY(!status.has_failed());
        QVERIFY(root.write(QStringLiteral("var/sessions/a.b.json"),
                           kelvra::session_to_json(named(QStringLiteral("Zeta"), {})).toJson()));
        QVERIFY(root.write(QStringLiteral("var/sessions/notes.txt"), "not a session"));

        QVector<session> const sessions = store.load_sessions(status);
        QVERIFY(!status.has_failed());
        QCOMPARE(names(sessions), (QStringList{"Alpha", "alpha", "beta", "Zeta"}));
        QCOMPARE(sessions[3].id, QStringLiteral("a"));

        store.save_session(sessions[3], status);
        QVERIFY(QFile::exists(root.file(QStringLiteral("var/sessions/a.json"))));
    }

    void one_bad_file_hides_every_session_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("code");
        QTest::newRow("truncated json") << QByteArray("{\"versao\": 2, \"nome\": \"x") << 12;
        QTest::newRow("empty file") << QByteArray() << 12;
        QTest::newRow("invalid member") << QByteArray("{\"versao\": 9}") << 7;
        // Qt 5's parser would leak the replaced value of a repeated name.
        QTest::newRow("repeated member name")
            << QByteArray("{\"versao\": 2, \"impressoras\": [{}], \"impressoras\": []}") << 12;
    }

    void one_bad_file_hides_every_session() {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        store.save_session(named(QStringLiteral("boa"), QStringLiteral("ok")), status);
        QVERIFY(root.write(QStringLiteral("var/sessions/bad.json"), content));

        QVERIFY(store.load_sessions(status).isEmpty());
        QCOMPARE(status.get_value(), code);
        if (code == 12) {
            QCOMPARE(QString::fromStdString(argument(status, "filename")),
                     root.file(QStringLiteral("var/sessions/bad.json")));
        }
        status.reset();
        store.find_session(QStringLiteral("boa"), status);
        QCOMPARE(status.get_value(), code);
    }

    void missing_folder_lists_nothing_and_first_save_creates_it() {
        install_root root;
        QVERIFY(QDir(root.file(QStringLiteral("var/sessions"))).removeRecursively());
        session_store const store(root.bin());
        core::result::stack status;
        QVERIFY(store.load_sessions(status).isEmpty());
        QVERIFY(!status.has_failed());
        QVERIFY(!store.sessions_directory_exists(status));

        store.save_session(named(QStringLiteral("nova"), QStringLiteral("n")), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(names(store.load_sessions(status)), QStringList{"nova"});
    }

    // The secrets inside are only encrypted with the drives' serials, which
    // any local user can look up: the files are the user's alone.
    void sessions_are_private_to_their_user() {
        install_root root;
        QString const folder = root.file(QStringLiteral("var/sessions"));
        QVERIFY(QDir(folder).removeRecursively());
        session_store const store(root.bin());
        core::result::stack status;
        store.save_session(named(QStringLiteral("s"), QStringLiteral("p")), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(QFileInfo(folder).permissions() & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(QFileInfo(folder + QStringLiteral("/p.json")).permissions() & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner);
    }

    // Removing the session read from "x.old.json" removes that file, not
    // "x.json", which holds another session.
    void removal_takes_the_file_the_session_came_from() {
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        store.save_session(named(QStringLiteral("Alpha"), QStringLiteral("x")), status);
        QVERIFY(root.write(QStringLiteral("var/sessions/x.old.json"),
                           kelvra::session_to_json(named(QStringLiteral("Beta"), {})).toJson()));
        session const beta = store.find_session(QStringLiteral("Beta"), status);
        QCOMPARE(beta.id, QStringLiteral("x"));

        store.remove_session(beta, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(names(store.load_sessions(status)), QStringList{"Alpha"});

        QVERIFY(root.write(QStringLiteral("var/sessions/x.old.json"),
                           kelvra::session_to_json(named(QStringLiteral("Beta"), {})).toJson()));
        session old_beta = store.find_session(QStringLiteral("Beta"), status);
        session edited = old_beta;
        edited.id = QStringLiteral("y");
        edited.nome = QStringLiteral("Gama");
        store.replace_session(old_beta, edited, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(names(store.load_sessions(status)), (QStringList{"Alpha", "Gama"}));
    }

    void find_is_exact() {
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        store.save_session(named(QStringLiteral("Alpha"), QStringLiteral("1")), status);
        QCOMPARE(store.find_session(QStringLiteral("Alpha"), status).id, QStringLiteral("1"));
        QVERIFY(!status.has_failed());
        store.find_session(QStringLiteral("alpha"), status);
        QCOMPARE(status.get_value(), 8);
        QCOMPARE(argument(status, "session-name"), std::string("alpha"));
    }

    void removal_deletes_profile_and_file() {
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        session const s = named(QStringLiteral("Produção 1"), QStringLiteral("x"));
        store.save_session(s, status);
        QString const profile = kelvra::putty_session_path(s.nome);
        QVERIFY(QDir().mkpath(QFileInfo(profile).path()));
        QFile(profile).open(QIODevice::WriteOnly);
        QVERIFY(QFile::exists(profile));

        store.remove_session(s, status);
        QVERIFY(!status.has_failed());
        QVERIFY(!QFile::exists(profile));
        QVERIFY(!QFile::exists(root.file(QStringLiteral("var/sessions/x.json"))));
        // Already gone: still a success.
        store.remove_session(s, status);
        QVERIFY(!status.has_failed());
    }

    void profile_that_cannot_be_deleted_fails_removal() {
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        session const s = named(QStringLiteral("teimosa"), QStringLiteral("t"));
        store.save_session(s, status);
        // A folder where the profile file should be cannot be removed as a file.
        QString const profile = kelvra::putty_session_path(s.nome);
        QVERIFY(QDir().mkpath(profile + QStringLiteral("/inside")));

        store.remove_session(s, status);
        QVERIFY(status.has_failed());
        QCOMPARE(QByteArray(status.begin()->get_category().name()),
                 QByteArray("kelvra-persist-session"));
        QCOMPARE(status.get_value(), 3);
        QCOMPARE(argument(status, "id"), std::string("t"));
        QCOMPARE(argument(status, "nome"), std::string("teimosa"));
        QCOMPARE(QString::fromStdString(argument(status, "filename")), profile);
        // The session itself is kept.
        QVERIFY(QFile::exists(root.file(QStringLiteral("var/sessions/t.json"))));
        QVERIFY(QDir(profile).removeRecursively());
    }

    void replacing_writes_first_and_keeps_both_when_removal_fails() {
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        session const old_session = named(QStringLiteral("velha"), QStringLiteral("old"));
        store.save_session(old_session, status);
        session edited = old_session;
        edited.id = QStringLiteral("new");
        edited.nome = QStringLiteral("nova");

        QString const profile = kelvra::putty_session_path(old_session.nome);
        QVERIFY(QDir().mkpath(profile + QStringLiteral("/inside")));
        store.replace_session(old_session, edited, status);
        QCOMPARE(status.get_value(), 3);
        QCOMPARE(names(store.load_sessions(status)), (QStringList{"nova", "velha"}));
        QVERIFY(QDir(profile).removeRecursively());

        status.reset();
        store.replace_session(old_session, edited, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(names(store.load_sessions(status)), QStringList{"nova"});
    }

    void replacing_with_failed_write_changes_nothing() {
        install_root root;
        session_store const store(root.bin());
        core::result::stack status;
        session const old_session = named(QStringLiteral("velha"), QStringLiteral("old"));
        store.save_session(old_session, status);
        session edited = old_session;
        edited.id = QStringLiteral("new");
        // A folder in the way of the new file makes the write fail.
        QVERIFY(QDir().mkpath(root.file(QStringLiteral("var/sessions/new.json/x"))));
        store.replace_session(old_session, edited, status);
        QCOMPARE(QByteArray(status.begin()->get_category().name()),
                 QByteArray("kelvra-persist-session"));
        QCOMPARE(status.get_value(), 3);
        QVERIFY(QFile::exists(root.file(QStringLiteral("var/sessions/old.json"))));
    }

    // A process killed while saving never leaves a file that cannot be read.
    void killed_saves_never_leave_a_broken_file() {
        install_root root;
        QString const file = root.file(QStringLiteral("var/sessions/s.json"));
        for (int round = 0; round < 25; ++round) {
            QProcess saver;
            saver.start(QCoreApplication::applicationDirPath() + QStringLiteral("/session_saver"),
                        {root.bin(), QStringLiteral("s")});
            QVERIFY(saver.waitForReadyRead(30000));
            // Let it get into a save; the kill lands at a different point each round.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).exists(), 30000);
            QTest::qWait(round % 7);
            saver.kill();
            QVERIFY(saver.waitForFinished(30000));

            QFile in(file);
            QVERIFY(in.open(QIODevice::ReadOnly));
            QJsonParseError error{};
            QJsonDocument const doc = QJsonDocument::fromJson(in.readAll(), &error);
            QCOMPARE(error.error, QJsonParseError::NoError);
            core::result::stack status;
            kelvra::session_from_json(doc, status);
            QVERIFY(!status.has_failed());
        }
    }

    // A full disk fails the save with code 3 and leaves the old file as it was.
    void full_disk_keeps_the_old_file() {
        install_root root;
        QString const folder = root.file(QStringLiteral("var/sessions"));
        if (::mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs", 0, "size=256k") != 0) {
            QSKIP("mounting a small file system needs root");
        }
        auto unmount =
            qScopeGuard([&] { ::umount2(folder.toLocal8Bit().constData(), MNT_DETACH); });

        session_store const store(root.bin());
        core::result::stack status;
        session s = named(QStringLiteral("pequena"), QStringLiteral("s"));
        store.save_session(s, status);
        QVERIFY(!status.has_failed());
        QFile old_file(folder + QStringLiteral("/s.json"));
        QVERIFY(old_file.open(QIODevice::ReadOnly));
        QByteArray const before = old_file.readAll();
        old_file.close();

        QFile filler(folder + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        QByteArray const block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();

        s.nome = QString(100 * 1024, QLatin1Char('g'));
        store.save_session(s, status);
        QVERIFY(status.has_failed());
        QCOMPARE(QByteArray(status.begin()->get_category().name()),
                 QByteArray("kelvra-persist-session"));
        QCOMPARE(status.get_value(), 3);
        QVERIFY(old_file.open(QIODevice::ReadOnly));
        QCOMPARE(old_file.readAll(), before);
    }
};

QTEST_GUILESS_MAIN(tst_session_store)
#include "tst_session_store.moc"
