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

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

core::byte_array const installation_key("SERIAL-A|SERIAL-B");

std::string stamped_text(long long stamp_ms, std::string const& secret) {
    kelvra::crypto::session_key key;
    key.timestamp = core::datetime::from_msecs_since_epoch(stamp_ms);
    key.device_key = installation_key;
    key.secret = core::byte_array(secret);
    key.command = "mirtel --menu";
    key.path = "/srv/mirtel";
    core::result::stack status;
    return kelvra::crypto::encrypt_session_key(key, status);
}

std::string const forward = "kelvra:127.0.0.1:59565";

} // namespace

class tst_terminal_program : public QObject {
    Q_OBJECT

private slots:
    void accepted_command_lines_data() {
        QTest::addColumn<std::vector<std::string>>("args");
        QTest::addColumn<bool>("password");
        QTest::addColumn<bool>("maximized");
        QTest::newRow("password") << std::vector<std::string>{"-load", "Vendas", "-pw",
                                                              "T",     "-R",     forward}
                                  << true << false;
        QTest::newRow("key file, maximized")
            << std::vector<std::string>{"-load",      "Produção 1", "-i",   "T",
                                        "-maximized", "-R",         forward}
            << false << true;
    }

    void accepted_command_lines() {
        QFETCH(std::vector<std::string>, args);
        QFETCH(bool, password);
        QFETCH(bool, maximized);
        core::result::stack status;
        auto const parsed = terminal::parse_arguments(args, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(parsed.session_name, args[1]);
        QCOMPARE(parsed.kind == terminal::credential_kind::password, password);
        QCOMPARE(parsed.credential, std::string("T"));
        QCOMPARE(parsed.maximized, maximized);
        QCOMPARE(parsed.forward_host, std::string("127.0.0.1"));
        QCOMPARE(parsed.forward_port, std::uint16_t{59565});
    }

    void refused_command_lines_data() {
        QTest::addColumn<std::vector<std::string>>("args");
        QTest::addColumn<QString>("position");
        QTest::newRow("nothing") << std::vector<std::string>{} << "1";
        QTest::newRow("unknown option first") << std::vector<std::string>{"-ssh", "x"} << "1";
        QTest::newRow("no name") << std::vector<std::string>{"-load"} << "2";
        QTest::newRow("empty name")
            << std::vector<std::string>{"-load", "", "-pw", "T", "-R", forward} << "2";
        QTest::newRow("both credentials")
            << std::vector<std::string>{"-load", "V", "-pw", "T", "-i", "T", "-R", forward} << "5";
        QTest::newRow("no credential text") << std::vector<std::string>{"-load", "V", "-pw"} << "4";
        QTest::newRow("maximized before the credential")
            << std::vector<std::string>{"-load", "V", "-maximized", "-pw", "T", "-R", forward}
            << "3";
        QTest::newRow("no forward") << std::vector<std::string>{"-load", "V", "-pw", "T"} << "5";
        QTest::newRow("forward of another name")
            << std::vector<std::string>{"-load", "V", "-pw", "T", "-R", "other:127.0.0.1:59565"}
            << "6";
        QTest::newRow("forward port 0")
            << std::vector<std::string>{"-load", "V", "-pw", "T", "-R", "kelvra:127.0.0.1:0"}
            << "6";
        QTest::newRow("forward port too large")
            << std::vector<std::string>{"-load", "V", "-pw", "T", "-R", "kelvra:127.0.0.1:65536"}
            << "6";
        QTest::newRow("forward without host")
            << std::vector<std::string>{"-load", "V", "-pw", "T", "-R", "kelvra::59565"} << "6";
        QTest::newRow("trailing argument")
            << std::vector<std::string>{"-load", "V", "-pw", "T", "-R", forward, "-v"} << "7";
    }

    void refused_command_lines() {
        QFETCH(std::vector<std::string>, args);
        QFETCH(QString, position);
        core::result::stack status;
        terminal::parse_arguments(args, status);
        QVERIFY(status.has_failed());
        auto const& item = *status.begin();
        QCOMPARE(item.get_code(), int(terminal_category::invalid_arguments));
        QCOMPARE(QString::fromStdString(*item.find_argument("position")), position);
        // The credential text never appears in a report.
        for (auto const& argument : item.get_argument_range()) {
            QVERIFY(argument.get_value() != "T");
        }
    }

    // The real program refuses a wrong command line before doing anything.
    void program_refuses_with_usage() {
        QProcess process;
        process.start(QStringLiteral(KELVRA_PUTTY_PATH),
                      {QStringLiteral("-load"), QStringLiteral("V"), QStringLiteral("-telnet")});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        QByteArray const err = process.readAllStandardError();
        QVERIFY2(err.startsWith(
                     "kelvra-terminal: Os argumentos do programa de terminal são inválidos\n"),
                 err.constData());
        QVERIFY(err.contains("    argument: -telnet\n"));
        QVERIFY(err.contains("uso: putty -load NOME"));
    }

    void profile_as_the_launcher_writes_it() {
        kelvra::testing::isolated_home home;
        QString const path = home.home() + QStringLiteral("/profile");
        QFile data(kelvra::testing::data_file(QStringLiteral("putty_profile.ini")));
        QVERIFY(data.open(QIODevice::ReadOnly));
        QByteArray const id(76, 'a');
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(data.readAll().replace("@ID@", id));
        out.close();

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
        QTest::newRow("no host") << QByteArray("[General]\nPortNumber=22\n") + env
                                 << int(terminal_category::profile_field_missing);
        QTest::newRow("host that reads as an option")
            << QByteArray("[General]\nHostName=-oProxyCommand=x\n") + env
            << int(terminal_category::profile_field_invalid);
        QTest::newRow("port out of range")
            << QByteArray("[General]\nHostName=h\nPortNumber=70000\n") + env
            << int(terminal_category::profile_field_invalid);
        QTest::newRow("telnet") << QByteArray("[General]\nHostName=h\nProtocol=telnet\n") + env
                                << int(terminal_category::unsupported_protocol);
        QTest::newRow("no connection id")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_VERSION=1.3.3\n")
            << int(terminal_category::profile_field_missing);
        QTest::newRow("connection id that leaves the folder")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_CONNECTION_ID=../../etc/x\n")
            << int(terminal_category::profile_field_invalid);
        QTest::newRow("variable name with a wildcard")
            << QByteArray("[General]\nHostName=h\nEnvironment=KELVRA_CONNECTION_ID=7b,KELVRA_*=1\n")
            << int(terminal_category::profile_field_invalid);
    }

    void refused_profiles() {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        QTemporaryDir dir;
        QString const path = dir.filePath(QStringLiteral("p"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
        out.close();
        core::result::stack status;
        terminal::read_profile(path, status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.begin()->get_code(), code);
    }

    void colours_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::newRow("as written") << "187, 187, 187"
                                    << "#bbbbbb";
        QTest::newRow("no spaces") << "10,90,200"
                                   << "#0a5ac8";
        QTest::newRow("two parts") << "10,90"
                                   << "";
        QTest::newRow("above 255") << "256,0,0"
                                   << "";
        QTest::newRow("negative") << "-1,0,0"
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

    void credential_lifetime_data() {
        QTest::addColumn<long long>("offset_ms");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("just stamped") << 0LL << true;
        QTest::newRow("two minutes old") << -120000LL << true;
        QTest::newRow("two minutes and a millisecond old") << -120001LL << false;
        QTest::newRow("two minutes ahead") << 120000LL << true;
        QTest::newRow("further ahead") << 120001LL << false;
        QTest::newRow("stored text, never stamped") << -1LL << false;
    }

    void credential_lifetime() {
        QFETCH(long long, offset_ms);
        QFETCH(bool, accepted);
        long long const now = 1700000000000LL;
        long long const stamp = offset_ms == -1 ? 0 : now + offset_ms;
        core::result::stack status;
        auto const opened = terminal::open_credential(stamped_text(stamp, "segredo"),
                                                      installation_key, now, status);
        QCOMPARE(!status.has_failed(), accepted);
        if (accepted) {
            QCOMPARE(opened.secret, std::string("segredo"));
            QCOMPARE(opened.command, std::string("mirtel --menu"));
            QCOMPARE(opened.path, std::string("/srv/mirtel"));
        } else {
            QCOMPARE(status.begin()->get_code(), int(terminal_category::key_expired));
        }
    }

    void credential_of_another_installation_is_refused() {
        long long const now = core::datetime::now().to_msecs_since_epoch();
        core::result::stack status;
        terminal::open_credential(stamped_text(now, "segredo"), core::byte_array("OTHER"), now,
                                  status);
        QVERIFY(status.has_failed());
        QCOMPARE(std::string(status.begin()->get_category().name()),
                 std::string("kelvra-openssl-errors"));
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

    // The quoted folder reaches a real shell as the very same text.
    void shell_quote_round_trip() {
        std::string const nasty = "a b'c\"d$e`f`\\g\nh*";
        QProcess shell;
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"),
                     QString::fromStdString("printf %s " + terminal::shell_quote(nasty))});
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.readAllStandardOutput().toStdString(), nasty);
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

        std::vector<std::string> expected{"-p", "2222",
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

        auto const environment = terminal::ssh_environment(r);
        QCOMPARE(environment.size(), std::size_t{2});
        QCOMPARE(environment[0].first, std::string("KELVRA_CONNECTION_ID"));
        QCOMPARE(environment[0].second, std::string("7b7d"));
    }

    void terminal_windows_data() {
        QTest::addColumn<bool>("xterm");
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<std::vector<std::string>>("expected");
        QTest::newRow("xterm, maximized")
            << true << true
            << std::vector<std::string>{"-xrm",    "*utf8Title: true", "-u8", "-T",      "Produção",
                                        "-n",      "Produção",         "-fg", "#bbbbbb", "-bg",
                                        "#000000", "-maximized",       "-e",  "runner",  "ssh"};
        QTest::newRow("another emulator: title and command only")
            << false << true << std::vector<std::string>{"-T", "Produção", "-e", "runner", "ssh"};
    }

    void terminal_windows() {
        QFETCH(bool, xterm);
        QFETCH(bool, maximized);
        QFETCH(std::vector<std::string>, expected);
        terminal::terminal_window const window{"/usr/bin/x", xterm};
        QCOMPARE(terminal::terminal_window_arguments(window, "Produção", maximized,
                                                     terminal::rgb{187, 187, 187},
                                                     terminal::rgb{0, 0, 0}, {"runner", "ssh"}),
                 expected);
    }

    void putty_keys_are_converted_privately() {
        QTemporaryDir dir;
        QString const key = dir.filePath(QStringLiteral("id"));
        QProcess keygen;
        keygen.start(QStringLiteral("ssh-keygen"),
                     {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                      QStringLiteral("-N"), QString(), QStringLiteral("-f"), key});
        QVERIFY(keygen.waitForFinished(30000) && keygen.exitCode() == 0);
        QProcess convert;
        convert.start(QStringLiteral("puttygen"),
                      {key, QStringLiteral("-O"), QStringLiteral("private"), QStringLiteral("-o"),
                       key + QStringLiteral(".ppk")});
        QVERIFY(convert.waitForFinished(30000) && convert.exitCode() == 0);
        std::string const puttygen =
            terminal::find_program("puttygen", qgetenv("PATH").toStdString());

        core::result::stack status;
        // An OpenSSH key is used as it is.
        QCOMPARE(terminal::prepare_key_file(key.toStdString(), puttygen, "/nonexistent", status),
                 key.toStdString());
        QVERIFY(!terminal::is_putty_key(key.toStdString()));
        QVERIFY(terminal::is_putty_key((key + QStringLiteral(".ppk")).toStdString()));

        terminal::private_directory folder(dir.path().toStdString(), status);
        QVERIFY(!status.has_failed());
        struct stat info {};
        QCOMPARE(::stat(folder.path().c_str(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        std::string const converted = terminal::prepare_key_file(
            (key + QStringLiteral(".ppk")).toStdString(), puttygen, folder.file("key"), status);
        QVERIFY2(!status.has_failed(), status.get_message().c_str());
        QCOMPARE(converted, folder.file("key"));
        QCOMPARE(::stat(converted.c_str(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QVERIFY(QFile(QString::fromStdString(converted)).open(QIODevice::ReadOnly));
        QVERIFY(QFile(QString::fromStdString(converted)).size() > 0);
        std::string const path = folder.path();
        folder.remove();
        QVERIFY(!QFile::exists(QString::fromStdString(path)));

        // A damaged PuTTY key is reported, not passed on.
        QFile damaged(dir.filePath(QStringLiteral("bad.ppk")));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("PuTTY-User-Key-File-3: ssh-ed25519\nnonsense\n");
        damaged.close();
        terminal::private_directory other(dir.path().toStdString(), status);
        terminal::prepare_key_file(damaged.fileName().toStdString(), puttygen, other.file("key"),
                                   status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.begin()->get_code(), int(terminal_category::key_conversion_failed));
        QVERIFY(!QFile::exists(QString::fromStdString(other.file("key"))));
    }

    void program_that_cannot_start_is_reported() {
        core::result::stack status;
        terminal::program_call call;
        call.program = "/nonexistent/ssh";
        QCOMPARE(terminal::start_program(call, status), -1);
        QVERIFY(status.has_failed());
        QCOMPARE(status.begin()->get_code(), int(terminal_category::start_failed));
        QCOMPARE(*status.begin()->find_argument("errno-code"), std::to_string(ENOENT));
    }

    void child_status_and_environment() {
        core::result::stack status;
        terminal::program_call call;
        call.program = "/bin/sh";
        call.arguments = {"-c", "test \"$KELVRA_X\" = 'a b' && kill -TERM $$"};
        call.environment = {{"KELVRA_X", "a b"}};
        QCOMPARE(terminal::run_program(call, status), 128 + SIGTERM);
        call.arguments = {"-c", "exit 7"};
        QCOMPARE(terminal::run_program(call, status), 7);
        QVERIFY(!status.has_failed());
    }

    // The askpass helper gets the password once, over the private channel;
    // a second request gets nothing.
    void password_is_handed_out_once() {
        QTemporaryDir dir;
        core::result::stack status;
        terminal::supervisor watcher(status);
        std::string const channel = dir.filePath(QStringLiteral("control")).toStdString();
        watcher.listen(channel, status);
        QVERIFY(!status.has_failed());
        struct stat info {};
        QCOMPARE(::stat(channel.c_str(), &info), 0);
        QCOMPARE(info.st_mode & 0077, 0u);
        watcher.set_password("pa ss\"word");

        std::string const askpass = KELVRA_HELPERS_DIR "/kelvra-askpass";
        std::string const script =
            askpass + " > " + dir.filePath(QStringLiteral("first")).toStdString() +
            "; echo $? >> " + dir.filePath(QStringLiteral("first")).toStdString() + "; " + askpass +
            " > " + dir.filePath(QStringLiteral("second")).toStdString() + "; echo $? >> " +
            dir.filePath(QStringLiteral("second")).toStdString() + "; SSH_ASKPASS_PROMPT=confirm " +
            askpass + "; exit $?";
        terminal::program_call call;
        call.program = "/bin/sh";
        call.arguments = {"-c", script};
        call.environment = {{terminal::control::socket_variable, channel}};
        pid_t const child = terminal::start_program(call, status);
        QVERIFY(child > 0);
        QCOMPARE(watcher.wait(child, false, status), 1); // the confirmation is refused
        QCOMPARE(watcher.passwords_given(), 1);

        QFile first(dir.filePath(QStringLiteral("first")));
        QVERIFY(first.open(QIODevice::ReadOnly));
        QCOMPARE(first.readAll(), QByteArray("pa ss\"word\n0\n"));
        QFile second(dir.filePath(QStringLiteral("second")));
        QVERIFY(second.open(QIODevice::ReadOnly));
        QCOMPARE(second.readAll(), QByteArray("1\n"));
    }

    // Inside a window, the status is the one the helper reports for ssh.
    void status_comes_from_the_window_helper() {
        QTemporaryDir dir;
        core::result::stack status;
        terminal::supervisor watcher(status);
        std::string const channel = dir.filePath(QStringLiteral("control")).toStdString();
        watcher.listen(channel, status);
        terminal::program_call call;
        call.program = KELVRA_HELPERS_DIR "/kelvra-ssh";
        call.arguments = {channel, "/bin/sh", "-c", "exit 42"};
        call.null_input = true;
        pid_t const child = terminal::start_program(call, status);
        QVERIFY(child > 0);
        QCOMPARE(watcher.wait(child, true, status), 42);
        QVERIFY(!status.has_failed());
    }

    // A window program that ends without its helper ever calling is a
    // failure, reported after the grace period, not a success.
    void window_without_helper_is_a_failure() {
        QTemporaryDir dir;
        core::result::stack status;
        terminal::supervisor watcher(status);
        watcher.listen(dir.filePath(QStringLiteral("control")).toStdString(), status);
        watcher.set_runner_grace(50);
        terminal::program_call call;
        call.program = "/bin/true";
        pid_t const child = terminal::start_program(call, status);
        QVERIFY(child > 0);
        QCOMPARE(watcher.wait(child, true, status), 1);
        QVERIFY(status.has_failed());
        QCOMPARE(status.begin()->get_code(), int(terminal_category::start_failed));
    }

    void programs_are_found_on_the_path() {
        QTemporaryDir dir;
        QString const tool = dir.filePath(QStringLiteral("tool"));
        QFile f(tool);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        std::string const path = "/nonexistent::" + dir.path().toStdString();
        QCOMPARE(terminal::find_program("tool", path), std::string()); // not executable
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner);
        QCOMPARE(terminal::find_program("tool", path), tool.toStdString());
        QCOMPARE(terminal::find_program("tool", ""), std::string());
    }
};

QTEST_GUILESS_MAIN(tst_terminal_program)
#include "tst_terminal_program.moc"
