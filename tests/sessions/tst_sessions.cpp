// The saved sessions: the session file format and the store on its folder.
#include "core/status.hpp"
#include "crypto/session_key.hpp"
#include "session_samples.hpp"
#include "sessions/putty_session_path.hpp"
#include "sessions/session_json.hpp"
#include "sessions/session_store.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <cstdio>
#include <optional>

#include <sys/mount.h>

namespace core = brano::core::v6;
using kelvra::authentication_type;
using kelvra::session;
using kelvra::detail::session_store;
using directories = kelvra::status::application_directories_category;
using kelvra::testing::report;
using kelvra::testing::sample;

namespace {

QJsonDocument to_json(session const& s) {
    return QJsonDocument::fromJson(kelvra::session_json_text(s));
}

// The sample's object with `key` set to `value`, or removed when undefined.
QJsonDocument with(QString const& key, QJsonValue const& value) {
    QJsonObject o = to_json(sample()).object();
    value.isUndefined() ? void(o.remove(key)) : void(o.insert(key, value));
    return QJsonDocument(o);
}

QStringList names(QVector<session> const& sessions) {
    QStringList out;
    std::transform(sessions.begin(), sessions.end(), std::back_inserter(out),
                   [](session const& s) { return s.nome; });
    return out;
}

// A read-only bind mount over `folder` (modes do not stop root), or its end.
bool set_read_only(QString const& folder, bool read_only) {
    QByteArray const path = QFile::encodeName(folder);
    return read_only
               ? ::mount(path, path, nullptr, MS_BIND, nullptr) == 0 &&
                     ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0
               : ::umount2(path, MNT_DETACH) == 0;
}

} // namespace

class tst_sessions : public QObject {
    Q_OBJECT

    kelvra::testing::isolated_home home_;
    std::optional<kelvra::testing::install_root> root_;
    std::optional<session_store> store_;
    core::result::stack status_;

    QString file(QString const& name) const { return root_->file("var/sessions/" + name); }

    // The failure so far (see report), which is then forgotten.
    QString taken(char const* argument = nullptr) {
        QString const out = report(status_, argument);
        status_.reset();
        return out;
    }

    // Writes the session's file with `extra` members at its end.
    void write(QString const& name, session const& s, QByteArray const& extra = {}) {
        QByteArray json = kelvra::session_json_text(s);
        QVERIFY(root_->write("var/sessions/" + name, json.insert(json.lastIndexOf('}'), extra)));
    }

private slots:
    void init() {
        root_.emplace();
        store_.emplace(root_->bin());
        status_.reset();
    }

    // The file byte for byte, and read back. (The export test writes and reads
    // a record without printers through the same code.)
    void written_byte_exact_and_read_back() {
        QCOMPARE(kelvra::session_json_text(sample()),
                 kelvra::testing::read_file(kelvra::testing::data_file("session_v2.json")));
        QVERIFY(kelvra::session_from_json(to_json(sample()), status_) == sample());
        // Not an object: nothing read, no failure.
        QVERIFY(kelvra::session_from_json(QJsonDocument(QJsonArray{1}), status_) == session{});
        QCOMPARE(report(status_), QString());
        session invalid = sample();
        invalid.tipo_autenticacao = authentication_type::invalid;
        QCOMPARE(to_json(invalid)["tipo_autenticacao"], QJsonValue(-1));
    }

    // One member of the sample changed; "read": porta, auth type, key set.
    void members_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("read");
        auto row = [](char const* name, char const* key, QJsonValue const& value, int code,
                      char const* read) {
            QTest::newRow(name) << QString(key) << value << code << QString(read);
        };
        int const ok = 0, wrong = 7, missing = 13;
        QJsonValue const absent(QJsonValue::Undefined);
        row("porta fraction toward zero", "porta", -3.7, ok, "-3 1 1");
        row("porta huge saturates", "porta", 1e12, ok, "2147483647 1 1");
        row("auth 5 is invalid", "tipo_autenticacao", 5, ok, "2222 2 1");
        row("unknown member ignored", "extra", "x", ok, "2222 1 1");
        row("no versao", "versao", absent, missing, "0 0 0");
        row("versao 3", "versao", 3, wrong, "0 0 0");
        row("versao text", "versao", "2", wrong, "0 0 0");
        row("nome number", "nome", 1, wrong, "0 0 0");
        row("porta text", "porta", "22", wrong, "0 0 0");
        row("auth -1", "tipo_autenticacao", -1, wrong, "2222 2 0");
        row("auth 1.5", "tipo_autenticacao", 1.5, wrong, "2222 2 0");
        row("no comando", "comando", absent, missing, "2222 1 1");
        row("autostart as 1", "autostart", 1, wrong, "2222 1 1");
        row("impressoras object", "impressoras", QJsonObject{}, wrong, "2222 1 1");
        row("printer not an object", "impressoras", QJsonArray{QJsonObject{}, 5}, wrong,
            "2222 1 1");
    }

    void members() {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(int, code);
        QFETCH(QString, read);
        session const s = kelvra::session_from_json(with(key, value), status_);
        QCOMPARE(report(status_, "campo"),
                 code == 0 ? QString() : QString("kelvra-load-session %1 %2").arg(code).arg(key));
        QCOMPARE(QString::asprintf("%d %d %d", s.porta, int(s.tipo_autenticacao), !s.key.isEmpty()),
                 read);
    }

    void listing_sorts_by_name_and_takes_ids_from_file_names() {
        store_->save_session(sample("beta", "1"), status_);
        store_->save_session(sample("alpha", "2"), status_);
        store_->save_session(sample("Alpha", "3"), status_);
        write("a.b.json", sample("Zeta"));
        QVERIFY(root_->write("var/sessions/notes.txt", "not a session"));
        // Edited by hand: a repeated member reads as its last value; a malformed
        // printer costs only itself.
        write("r.json", sample("Repetida"),
              R"(, "host": "velho", "impressoras": [{"identificador": 5, "nome": "A", "tipo": 1},
              {"identificador": "B", "nome": "Bê", "tipo": 2.8}, {"identificador": "C",
              "nome": 1, "tipo": 1}, {"identificador": "D", "nome": "D", "tipo": "1"}])");

        QVector<session> const sessions = store_->load_sessions(status_);
        QCOMPARE(report(status_), QString());
        QCOMPARE(names(sessions), (QStringList{"Alpha", "alpha", "beta", "Repetida", "Zeta"}));
        QCOMPARE(sessions[3].host, QString("velho"));
        kelvra::printer const empty;
        QCOMPARE(sessions[3].impressoras,
                 (QVector<kelvra::printer>{empty, {"B", "Bê", 2}, empty, empty}));
        QCOMPARE(sessions[4].id, QString("a"));
        store_->save_session(sessions[4], status_);
        // Removal takes the file the record came from, not the other "a".
        store_->remove_session(sessions[4], status_);
        QVERIFY(!QFile::exists(file("a.b.json")) && QFile::exists(file("a.json")));

        QCOMPARE(store_->find_session("alpha", status_).id, QString("2"));
        store_->find_session("ALPHA", status_);
        QCOMPARE(taken("session-name"), QString("kelvra-load-session 8 ALPHA"));
    }

    void one_bad_file_hides_every_session_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("failure"); // "filename" argument: the file, or <none>
        QTest::newRow("truncated json") << QByteArray("{\"versao\": 2, \"nome\": \"x") << "12 bad";
        QTest::newRow("invalid member") << QByteArray("{\"versao\": 9}") << "7 <none>";
        QTest::newRow("repeated name, then broken")
            << QByteArray("{\"a\": [1], \"a\": [2], ") << "12 bad";
    }

    void one_bad_file_hides_every_session() {
        QFETCH(QByteArray, content);
        QFETCH(QString, failure);
        store_->save_session(sample("boa", "ok"), status_);
        QVERIFY(root_->write("var/sessions/bad.json", content));
        QVERIFY(store_->load_sessions(status_).isEmpty());
        QCOMPARE(report(status_, "filename"),
                 "kelvra-load-session " + failure.replace("bad", file("bad.json")));
    }

    // No sessions folder is an empty store; no var folder a broken installation.
    void missing_folders() {
        QString const var = root_->file("var");
        QVERIFY(QDir(var + "/sessions").removeRecursively());
        QVERIFY(store_->load_sessions(status_).isEmpty());
        QCOMPARE(report(status_), QString());

        // The first save creates it, private like the files (their secrets).
        store_->save_session(sample("nova", "n"), status_);
        QCOMPARE(names(store_->load_sessions(status_)), QStringList{"nova"});
        QCOMPARE(QFileInfo(var + "/sessions").permissions() & 0x7077, QFile::Permissions(0x7000));
        QCOMPARE(QFileInfo(file("n.json")).permissions() & 0x7077, QFile::Permissions(0x6000));

        QVERIFY(QDir(var).removeRecursively());
        QVERIFY(store_->load_sessions(status_).isEmpty());
        QCOMPARE(taken("path"), "kelvra-application-directories 1 " + var);
        store_->find_session("nova", status_);
        QCOMPARE(taken(), QString("kelvra-application-directories 1"));
        session_store("/").load_sessions(status_); // nothing above the program's folder
        QCOMPARE(taken("path"), QString("kelvra-application-directories 1 //.."));
    }

    void removal_deletes_profile_and_file_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("profile");
        auto row = [](char const* name, char const* profile) {
            QTest::newRow(name) << QString(name) << QString(profile);
        };
        row("Produção 1", "Produ%C3%A7%C3%A3o%201");
        row("Az09+-.@_", "Az09+-.@_");
        row("a/b%c\"d", "a%2Fb%25c%22d");
        row(".", "%2E"); // the profile folder itself and its parent are never a profile
        row("..", "%2E%2E");
        row("...", "...");
    }

    void removal_deletes_profile_and_file() {
        QFETCH(QString, name);
        QFETCH(QString, profile);
        session const s = sample(name, "x");
        store_->save_session(s, status_);
        QString const path = kelvra::putty_session_path(name);
        QCOMPARE(path, home_.home() + "/.putty/sessions/" + profile);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && QFile(path).open(QIODevice::WriteOnly));
        store_->remove_session(s, status_);
        QCOMPARE(report(status_), QString());
        QVERIFY(!QFile::exists(path) && !QFile::exists(file("x.json")));
        store_->remove_session(s, status_); // already gone
        QCOMPARE(report(status_), QString());

        // A folder where the profile would be is no profile.
        store_->save_session(s, status_);
        QVERIFY(QDir().mkpath(path + "/dentro"));
        store_->remove_session(s, status_);
        QCOMPARE(report(status_), QString());
        QVERIFY(!QFile::exists(file("x.json")) && QDir(path).removeRecursively());
    }

    // Read-only folders lose nothing, and each failure is reported.
    void read_only_folders_keep_the_sessions() {
        session const old_session = sample("velha", "old");
        session const edited = sample("nova", "new");
        store_->save_session(old_session, status_);
        QString const profile = kelvra::putty_session_path(old_session.nome);
        QString const profiles = QFileInfo(profile).path();
        QVERIFY(QDir().mkpath(profiles) && QFile(profile).open(QIODevice::WriteOnly));
        auto writable = qScopeGuard([&] {
            set_read_only(file({}), false);
            set_read_only(profiles, false);
        });
        if (!set_read_only(file({}), true)) {
            QSKIP("mounting needs root");
        }
        // The edited record cannot be written: nothing of the old one goes.
        store_->replace_session(old_session, edited, status_);
        QCOMPARE(taken(), QString("kelvra-persist-session 3"));
        QVERIFY(QFile::exists(profile));
        store_->remove_session(old_session, status_);
        QCOMPARE(taken("nome"), QString("kelvra-persist-session 2 velha"));
        QCOMPARE(names(store_->load_sessions(status_)), QStringList{"velha"});

        // The old profile cannot go: the edited record is written first; both stay.
        QVERIFY(set_read_only(file({}), false) && QFile(profile).open(QIODevice::WriteOnly) &&
                set_read_only(profiles, true));
        store_->remove_session(old_session, status_);
        QCOMPARE(report(status_, "filename"), "kelvra-persist-session 3 " + profile);
        QCOMPARE(taken("id"), QString("kelvra-persist-session 3 old"));
        store_->replace_session(old_session, edited, status_);
        QCOMPARE(taken(), QString("kelvra-persist-session 3"));
        QCOMPARE(names(store_->load_sessions(status_)), (QStringList{"nova", "velha"}));

        QVERIFY(set_read_only(profiles, false));
        store_->replace_session(old_session, edited, status_);
        QCOMPARE(report(status_), QString());
        QCOMPARE(names(store_->load_sessions(status_)), QStringList{"nova"});
        QVERIFY(!QFile::exists(profile));
    }

    // Version 1 files need the installation key (a D-Bus round trip): one
    // listing asks at most once, and only if a file needs it.
    void listing_asks_for_the_installation_key_once() {
        kelvra::crypto::session_key clear;
        clear.device_key = core::byte_array("SERIAL-1|SERIAL-2");
        clear.path = "/srv";
        int asked = 0;
        bool available = true;
        session_store const store(root_->bin(), [&](core::result::stack& status) {
            ++asked;
            if (!available) {
                status.push_item(directories::instance(), directories::installation_not_found);
            }
            return available ? clear.device_key : core::byte_array();
        });
        store.save_session(sample("atual", "v2"), status_);
        QVERIFY(store.load_sessions(status_).size() == 1 && asked == 0);
        for (int i = 0; i < 3; ++i) {
            clear.command = "menu " + std::to_string(i);
            session v1 = sample(QString::number(i));
            v1.maximized = true;
            v1.key = QString::fromStdString(kelvra::crypto::encrypt_session_key(clear, status_));
            write(v1.nome + ".json", v1, ", \"versao\": 1");
        }
        QVector<session> const sessions = store.load_sessions(status_);
        QCOMPARE(report(status_), QString());
        QCOMPARE(asked, 1);
        QCOMPARE(sessions[2].comando + sessions[2].caminho, QString("menu 2/srv"));
        // Version 1 had password sessions only.
        QVERIFY(sessions[2].tipo_autenticacao == authentication_type::password &&
                sessions[2].maximized);

        available = false;
        QVERIFY(store.load_sessions(status_).isEmpty());
        QCOMPARE(asked, 2);
        QCOMPARE(report(status_), QString("kelvra-application-directories 3"));
    }

    // A process killed while saving never leaves a file that cannot be read.
    void killed_saves_never_leave_a_broken_file() {
        for (int round = 0; round < 25; ++round) {
            QProcess saver;
            saver.start(QCoreApplication::applicationFilePath(), {"--save-forever", root_->bin()});
            // After a different number of saves each round, to vary the kill point.
            for (int saves = 0; saves <= round % 5; saves += saver.readAll().count('\n')) {
                QVERIFY(saver.waitForReadyRead(30000));
            }
            saver.kill();
            QVERIFY(saver.waitForFinished(30000));
            QCOMPARE(store_->load_sessions(status_).size(), 1);
            QCOMPARE(report(status_), QString());
        }
    }
};

// "tst_sessions --save-forever EXECUTABLE_DIR": saves a short and a long
// record in turn, printing a line after each save, until killed.
int save_forever(QString const& executable_dir) {
    session_store const store(executable_dir);
    core::result::stack status;
    for (int i = 0; !status.has_failed(); ++i) {
        store.save_session(sample(i % 2 ? QString(64 * 1024, 'x') : "curta", "s"), status);
        std::puts("saved");
        std::fflush(stdout);
    }
    return 1;
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--save-forever") == 0) {
        return save_forever(QString::fromLocal8Bit(argv[2]));
    }
    tst_sessions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessions.moc"
