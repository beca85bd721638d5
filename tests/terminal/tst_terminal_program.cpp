// The terminal program's parts: its command line, the profile it reads,
// the session key text it accepts, the ssh command it builds, and the
// private channel that hands the password to the askpass helper.
#include "arguments.hpp"
#include "control_channel.hpp"
#include "credential.hpp"
#include "key_file.hpp"
#include "private_directory.hpp"
#include "process.hpp"
#include "profile.hpp"
#include "ssh_command.hpp"
#include "supervisor.hpp"
#include "terminal_status.hpp"
#include "terminal_window.hpp"

#include "crypto/session_key.hpp"
#include "support/test_environment.hpp"

#include <brano/core/v6/datetime.hpp>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

namespace core = brano::core::v6;
namespace terminal = kelvra::terminal;
using terminal::status::terminal_category;
using words = std::vector<std::string>;

Q_DECLARE_METATYPE(words)

namespace {

char const installation_key[] = "SERIAL-A|SERIAL-B";
std::string const forward = "kelvra:127.0.0.1:59565";

std::string stamped_text(long long stamp_ms) {
    kelvra::crypto::session_key key;
    key.timestamp = core::datetime::from_msecs_since_epoch(stamp_ms);
    key.device_key = core::byte_array(installation_key);
    key.secret = core::byte_array("segredo");
    key.command = "mirtel --menu";
    key.path = "/srv/mirtel";
    core::result::stack status;
    return kelvra::crypto::encrypt_session_key(key, status);
}

bool write_file(QString const& path, QByteArray const& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray read_file(QString const& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct finished {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

finished run(QString const& program, QStringList const& arguments) {
    QProcess p;
    p.start(program, arguments);
    finished f;
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit) {
        f.code = p.exitCode();
    }
    f.out = p.readAllStandardOutput();
    f.err = p.readAllStandardError();
    return f;
}

int mode_of(std::string const& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

} // namespace

class tst_terminal_program : public QObject {
    Q_OBJECT

private slots:
    // Only the launcher's own command line is taken; `position` is the
    // argument a refusal names, empty when the line is accepted.
    void command_lines_data() {
        QTest::addColumn<words>("args");
        QTest::addColumn<QString>("position");
        QTest::addColumn<bool>("password");
        QTest::addColumn<bool>("maximized");
        auto refused = [](char const* tag, words const& args, char const* position) {
            QTest::newRow(tag) << args << position << false << false;
        };
        QTest::newRow("password") << words{"-load", "Vendas", "-pw", "T", "-R", forward} << ""
                                  << true << false;
        QTest::newRow("key file, maximized")
            << words{"-load", "Produção 1", "-i", "T", "-maximized", "-R", forward} << "" << false
            << true;
        refused("nothing", {}, "1");
        refused("unknown option first", {"-ssh", "x"}, "1");
        refused("no name", {"-load"}, "2");
        refused("empty name", {"-load", "", "-pw", "T", "-R", forward}, "2");
        refused("both credentials", {"-load", "V", "-pw", "T", "-i", "T", "-R", forward}, "5");
        refused("no credential text", {"-load", "V", "-pw"}, "4");
        refused("maximized first", {"-load", "V", "-maximized", "-pw", "T", "-R", forward}, "3");
        refused("no forward", {"-load", "V", "-pw", "T"}, "5");
        refused("forward of another name", {"-load", "V", "-pw", "T", "-R", "x:127.0.0.1:59565"},
                "6");
        refused("forward port 0", {"-load", "V", "-pw", "T", "-R", "kelvra:127.0.0.1:0"}, "6");
        refused("forward port too large",
                {"-load", "V", "-pw", "T", "-R", "kelvra:127.0.0.1:65536"}, "6");
        refused("forward without host", {"-load", "V", "-pw", "T", "-R", "kelvra::59565"}, "6");
        refused("trailing argument", {"-load", "V", "-pw", "T", "-R", forward, "-v"}, "7");
    }

    void command_lines() {
        QFETCH(words, args);
        QFETCH(QString, position);
        QFETCH(bool, password);
        QFETCH(bool, maximized);
        core::result::stack status;
        auto const parsed = terminal::parse_arguments(args, status);
        if (position.isEmpty()) {
            QVERIFY(!status.has_failed());
            QCOMPARE(parsed.session_name, args[1]);
            QCOMPARE(parsed.kind == terminal::credential_kind::password, password);
            QCOMPARE(parsed.credential, std::string("T"));
            QCOMPARE(parsed.maximized, maximized);
            QCOMPARE(parsed.forward_host, std::string("127.0.0.1"));
            QCOMPARE(parsed.forward_port, std::uint16_t{59565});
            return;
        }
        QVERIFY(status.has_failed());
        auto const& item = *status.begin();
        QCOMPARE(item.get_code(), int(terminal_category::invalid_arguments));
        QCOMPARE(QString::fromStdString(*item.find_argument("position")), position);
        for (auto const& argument : item.get_argument_range()) {
            QVERIFY(argument.get_value() != "T"); // the credential never shows in a report
        }
    }

    // The real program refuses a wrong command line before doing anything.
    void program_refuses_with_usage() {
        auto const f =
            run(QStringLiteral(KELVRA_PUTTY_PATH),
                {QStringLiteral("-load"), QStringLiteral("V"), QStringLiteral("-telnet")});
        QCOMPARE(f.code, 2);
        QVERIFY2(f.err.startsWith(
                     "kelvra-terminal: Os argumentos do programa de terminal são inválidos\n"),
                 f.err.constData());
        QVERIFY(f.err.contains("    argument: -telnet\n"));
        QVERIFY(f.err.contains("uso: putty -load NOME"));
    }

    void profile_as_the_launcher_writes_it() {
        QTemporaryDir dir;
        QString const path = dir.filePath(QStringLiteral("profile"));
        QByteArray const id(76, 'a');
        QVERIFY(write_file(
            path, read_file(kelvra::testing::data_file(QStringLiteral("putty_profile.ini")))
                      .replace("@ID@", id)));

        core::result::stack status;
        auto const profile = terminal::read_profile(path, status);
        QVERIFY2(!status.has_failed(), status.get_message().c_str());
        QCOMPARE(profile.port, 2222);
        QCOMPARE(profile.user, QStringLiteral("operador"));
        QCOMPARE(profile.title, QStringLiteral("Produção 1"));
        QCOMPARE(profile.connection_id(), QString::fromLatin1(id));
        QCOMPARE(int(profile.environment.size()), 2);
        QCOMPARE(profile.environment[1].first, QStringLiteral("KELVRA_VERSION"));
        QCOMPARE(profile.environment[1].second, QStringLiteral("1.3.3"));
        QVERIFY(profile.foreground && profile.background);
        QCOMPARE(terminal::colour_name(*profile.foreground), std::string("#bbbbbb"));
        QCOMPARE(terminal::colour_name(*profile.background), std::string("#000000"));
    }

    void refused_profiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("code");
        QByteArray const env = "Environment=KELVRA_CONNECTION_ID=7b2d7d,KELVRA_VERSION=1.3.3\n";
        int const missing = int(terminal_category::profile_field_missing);
        int const invalid = int(terminal_category::profile_field_invalid);
        QTest::newRow("no host") << "[General]\nPortNumber=22\n" + env << missing;
        QTest::newRow("host that reads as an option")
            << "[General]\nHostName=-oProxyCommand=x\n" + env << invalid;
        QTest::newRow("port out of range")
            << "[General]\nHostName=h\nPortNumber=70000\n" + env << invalid;
        QTest::newRow("telnet") << "[General]\nHostName=h\nProtocol=telnet\n" + env
                                << int(terminal_category::unsupported_protocol);
        QTest::newRow("no connection id")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_VERSION=1.3.3\n") << missing;
        QTest::newRow("connection id that leaves the folder")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_CONNECTION_ID=../../etc/x\n")
            << invalid;
        QTest::newRow("variable name with a wildcard")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_CONNECTION_ID=7b,KELVRA_*=1\n")
            << invalid;
    }

    void refused_profiles() {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        QTemporaryDir dir;
        QVERIFY(write_file(dir.filePath(QStringLiteral("p")), content));
        core::result::stack status;
        terminal::read_profile(dir.filePath(QStringLiteral("p")), status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.begin()->get_code(), code);
    }

    void colours_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::newRow("two parts") << "10,90"
                                   << "";
        QTest::newRow("above 255") << "256,0,0"
                                   << "";
        QTest::newRow("not a number") << "a,b,c"
                                      << "";
    }

    void colours() {
        QFETCH(QString, text);
        QFETCH(QString, name);
        auto const colour = terminal::parse_colour(text);
        QCOMPARE(colour ? QString::fromStdString(terminal::colour_name(*colour)) : QString(), name);
    }

    // A session key text is taken for two minutes either way of its stamp,
    // and only on the installation it was made for.
    void credentials_data() {
        QTest::addColumn<long long>("offset_ms");
        QTest::addColumn<QByteArray>("device_key");
        QTest::addColumn<QString>("refusal");
        QByteArray const own(installation_key);
        QTest::newRow("just stamped") << 0LL << own << "";
        QTest::newRow("two minutes old") << -120000LL << own << "";
        QTest::newRow("two minutes and a millisecond old") << -120001LL << own << "expired";
        QTest::newRow("two minutes ahead") << 120000LL << own << "";
        QTest::newRow("further ahead") << 120001LL << own << "expired";
        QTest::newRow("stored text, never stamped") << -1LL << own << "expired";
        QTest::newRow("another installation") << 0LL << QByteArray("OTHER") << "openssl";
    }

    void credentials() {
        QFETCH(long long, offset_ms);
        QFETCH(QByteArray, device_key);
        QFETCH(QString, refusal);
        long long const now = 1700000000000LL;
        core::result::stack status;
        auto const opened =
            terminal::open_credential(stamped_text(offset_ms == -1 ? 0 : now + offset_ms),
                                      core::byte_array(device_key.toStdString()), now, status);
        if (refusal.isEmpty()) {
            QVERIFY(!status.has_failed());
            QCOMPARE(opened.secret, std::string("segredo"));
            QCOMPARE(opened.command, std::string("mirtel --menu"));
            QCOMPARE(opened.path, std::string("/srv/mirtel"));
        } else if (refusal == QLatin1String("expired")) {
            QVERIFY(status.has_failed());
            QCOMPARE(status.begin()->get_code(), int(terminal_category::key_expired));
        } else {
            QVERIFY(status.has_failed());
            QCOMPARE(std::string(status.begin()->get_category().name()),
                     std::string("kelvra-openssl-errors"));
        }
    }

    void remote_commands_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("remote");
        QTest::newRow("command in its folder") << "mirtel"
                                               << "/srv/mirtel"
                                               << "cd '/srv/mirtel' && mirtel";
        QTest::newRow("folder with quotes and expansions")
            << "mirtel"
            << "/srv/o'brien $HOME `x`"
            << "cd '/srv/o'\\''brien $HOME `x`' && mirtel";
        QTest::newRow("folder without command") << ""
                                                << "/srv"
                                                << "cd '/srv' && exec \"${SHELL:-/bin/sh}\" -l";
        QTest::newRow("command without folder") << "mirtel"
                                                << ""
                                                << "mirtel";
        QTest::newRow("neither") << ""
                                 << ""
                                 << "";
    }

    void remote_commands() {
        QFETCH(QString, command);
        QFETCH(QString, path);
        QFETCH(QString, remote);
        QCOMPARE(QString::fromStdString(
                     terminal::remote_command(command.toStdString(), path.toStdString())),
                 remote);
    }

    void ssh_command_lines_data() {
        QTest::addColumn<bool>("password");
        QTest::addColumn<bool>("tty");
        QTest::newRow("key file, no terminal") << false << false;
        QTest::newRow("password, terminal") << true << true;
    }

    void ssh_command_lines() {
        QFETCH(bool, password);
        QFETCH(bool, tty);
        terminal::ssh_request r;
        r.profile.host = QStringLiteral("mirtel.example.com");
        r.profile.port = 2222;
        r.profile.user = QStringLiteral("op");
        r.profile.environment = {{QStringLiteral("KELVRA_CONNECTION_ID"), QStringLiteral("7b7d")},
                                 {QStringLiteral("KELVRA_VERSION"), QStringLiteral("1.3.3")}};
        r.kind =
            password ? terminal::credential_kind::password : terminal::credential_kind::key_file;
        r.key_file = "/home/op/id";
        r.command = "mirtel";
        r.path = "/srv";
        r.forward_host = "127.0.0.1";
        r.forward_port = 59565;
        r.known_hosts = "/home/op/.ssh/known_hosts";
        r.terminal = tty;

        words expected{"-p", "2222",
                       "-l", "op",
                       "-o", "StrictHostKeyChecking=accept-new",
                       "-o", "UserKnownHostsFile=/home/op/.ssh/known_hosts",
                       "-o", "SendEnv=KELVRA_CONNECTION_ID",
                       "-o", "SendEnv=KELVRA_VERSION",
                       "-o", "ExitOnForwardFailure=yes",
                       "-o", "StreamLocalBindUnlink=yes",
                       "-R", "/tmp/kelvra-7b7d:127.0.0.1:59565"};
        if (password) {
            expected.insert(expected.end(),
                            {"-o", "PubkeyAuthentication=no", "-o",
                             "PreferredAuthentications=password,keyboard-interactive", "-o",
                             "NumberOfPasswordPrompts=1"});
        } else {
            expected.insert(expected.end(), {"-i", "/home/op/id", "-o", "IdentitiesOnly=yes"});
        }
        if (tty) {
            expected.emplace_back("-t");
        }
        expected.insert(expected.end(),
                        {"--", "mirtel.example.com",
                         "trap 'rm -f /tmp/kelvra-7b7d' EXIT; cd '/srv' && mirtel"});
        QCOMPARE(terminal::ssh_arguments(r), expected);
    }

    void terminal_windows_data() {
        QTest::addColumn<bool>("xterm");
        QTest::addColumn<words>("expected");
        QTest::newRow("xterm, maximized")
            << true << words{"-xrm",    "*utf8Title: true", "-u8", "-T",      "Produção",
                             "-n",      "Produção",         "-fg", "#bbbbbb", "-bg",
                             "#000000", "-maximized",       "-e",  "runner",  "ssh"};
        QTest::newRow("another emulator: title and command only")
            << false << words{"-T", "Produção", "-e", "runner", "ssh"};
    }

    void terminal_windows() {
        QFETCH(bool, xterm);
        QFETCH(words, expected);
        terminal::terminal_window const window{"/usr/bin/x", xterm};
        QCOMPARE(terminal::terminal_window_arguments(window, "Produção", true,
                                                     terminal::rgb{187, 187, 187},
                                                     terminal::rgb{0, 0, 0}, {"runner", "ssh"}),
                 expected);
    }

    void putty_keys_are_converted_privately() {
        QTemporaryDir dir;
        QString const ppk = dir.filePath(QStringLiteral("id.ppk"));
        QCOMPARE(run(QStringLiteral("puttygen"),
                     {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                      QStringLiteral("--new-passphrase"), QStringLiteral("/dev/null"),
                      QStringLiteral("-o"), ppk})
                     .code,
                 0);
        std::string const puttygen =
            terminal::find_program("puttygen", qgetenv("PATH").toStdString());
        core::result::stack status;
        terminal::private_directory folder(dir.path().toStdString(), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(mode_of(folder.path()), 0700);
        std::string const converted =
            terminal::prepare_key_file(ppk.toStdString(), puttygen, folder.file("key"), status);
        QVERIFY2(!status.has_failed(), status.get_message().c_str());
        QCOMPARE(converted, folder.file("key"));
        QCOMPARE(mode_of(converted), 0600);
        QVERIFY(QFile(QString::fromStdString(converted)).size() > 0);
        std::string const path = folder.path();
        folder.remove();
        QVERIFY(!QFile::exists(QString::fromStdString(path)));

        // A damaged PuTTY key is reported, not passed on.
        QString const damaged = dir.filePath(QStringLiteral("bad.ppk"));
        QVERIFY(write_file(damaged, "PuTTY-User-Key-File-3: ssh-ed25519\nnonsense\n"));
        terminal::private_directory other(dir.path().toStdString(), status);
        terminal::prepare_key_file(damaged.toStdString(), puttygen, other.file("key"), status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.begin()->get_code(), int(terminal_category::key_conversion_failed));
        QVERIFY(!QFile::exists(QString::fromStdString(other.file("key"))));
    }

    void child_processes() {
        core::result::stack status;
        terminal::program_call call;
        call.program = "/bin/sh";
        call.arguments = {"-c", "kill -TERM $$"};
        QCOMPARE(terminal::run_program(call, status), 128 + SIGTERM);
        call.arguments = {"-c", "exit 7"};
        QCOMPARE(terminal::run_program(call, status), 7);
        QVERIFY(!status.has_failed());

        call.program = "/nonexistent/ssh";
        QCOMPARE(terminal::start_program(call, status), -1);
        QVERIFY(status.has_failed());
        QCOMPARE(status.begin()->get_code(), int(terminal_category::start_failed));
        QCOMPARE(*status.begin()->find_argument("errno-code"), std::to_string(ENOENT));
    }

    // The askpass helper gets the password once, over the private channel;
    // a second request gets nothing, a confirmation prompt is refused.
    void password_is_handed_out_once() {
        QTemporaryDir dir;
        core::result::stack status;
        terminal::supervisor watcher(status);
        std::string const channel = dir.filePath(QStringLiteral("control")).toStdString();
        watcher.listen(channel, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(mode_of(channel) & 077, 0);
        watcher.set_password("pa ss\"word");

        std::string const askpass = KELVRA_HELPERS_DIR "/kelvra-askpass";
        terminal::program_call call;
        call.program = "/bin/sh";
        call.arguments = {"-c", "cd " + terminal::shell_quote(dir.path().toStdString()) + " && { " +
                                    askpass + " > first; echo $? >> first; " + askpass +
                                    " > second; echo $? >> second; SSH_ASKPASS_PROMPT=confirm " +
                                    askpass + "; }"};
        call.environment = {{terminal::control::socket_variable, channel}};
        pid_t const child = terminal::start_program(call, status);
        QVERIFY(child > 0);
        QCOMPARE(watcher.wait(child, false, status), 1);
        QCOMPARE(watcher.passwords_given(), 1);
        QCOMPARE(read_file(dir.filePath(QStringLiteral("first"))), QByteArray("pa ss\"word\n0\n"));
        QCOMPARE(read_file(dir.filePath(QStringLiteral("second"))), QByteArray("1\n"));
    }

    // Inside a window the status is the one the helper reports for ssh; a
    // window that ends without the helper ever calling is a failure, not a
    // success.
    void window_status_data() {
        QTest::addColumn<bool>("helper");
        QTest::newRow("helper reports ssh's status") << true;
        QTest::newRow("no helper") << false;
    }

    void window_status() {
        QFETCH(bool, helper);
        QTemporaryDir dir;
        core::result::stack status;
        terminal::supervisor watcher(status);
        std::string const channel = dir.filePath(QStringLiteral("control")).toStdString();
        watcher.listen(channel, status);
        if (!helper) {
            watcher.set_runner_grace(50);
        }
        terminal::program_call call;
        call.program = helper ? KELVRA_HELPERS_DIR "/kelvra-ssh" : "/bin/true";
        if (helper) {
            call.arguments = {channel, "/bin/sh", "-c", "exit 42"};
        }
        call.null_input = true;
        pid_t const child = terminal::start_program(call, status);
        QVERIFY(child > 0);
        QCOMPARE(watcher.wait(child, true, status), helper ? 42 : 1);
        QCOMPARE(status.has_failed(), !helper);
        if (!helper) {
            QCOMPARE(status.begin()->get_code(), int(terminal_category::start_failed));
        }
    }

    void programs_are_found_on_the_path() {
        QTemporaryDir dir;
        QString const tool = dir.filePath(QStringLiteral("tool"));
        QVERIFY(write_file(tool, {}));
        std::string const path = "/nonexistent::" + dir.path().toStdString();
        QCOMPARE(terminal::find_program("tool", path), std::string()); // not executable
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner);
        QCOMPARE(terminal::find_program("tool", path), tool.toStdString());
        QCOMPARE(terminal::find_program("tool", ""), std::string());
    }
};

QTEST_GUILESS_MAIN(tst_terminal_program)
#include "tst_terminal_program.moc"
