#include "core/describe_stack.hpp"
#include "crypto/detail/linux/dbus_call_property.hpp"
#include "crypto/detail/linux/installation_identity.hpp"
#include "crypto/installation_identity.hpp"
#include "support/private_bus.hpp"
#include "support/processes.hpp"
#include "support/test_environment.hpp"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace core = brano::core::v6;
namespace crypto = kelvra::crypto;

namespace {

QString const drives = "/org/freedesktop/UDisks2/drives/";

// A machine in a temporary folder: the program and the link to it, a mount
// table, /dev and sysfs, with `paths` pointing at them.
struct fake_system : kelvra::testing::install_root {
    fake_system() {
        write("bin/kelvra", "program");
        QDir().mkpath(root + "proc/self");
        QFile::link(root + "bin/kelvra", root + "proc/self/exe");
        struct stat program {};
        ::stat(QFile::encodeName(root + "bin/kelvra").constData(), &program);
        numbers = QByteArray::number(major(program.st_dev)) + ':' +
                  QByteArray::number(minor(program.st_dev));
        for (std::string* path : {&paths.program_link, &paths.mountinfo, &paths.dev,
                                  &paths.dev_mapper, &paths.sys_block, &paths.sys_dev_block}) {
            *path = root.toStdString() + path->substr(1); // "/dev/" -> "<root>/dev/"
        }
    }

    // The program's file system on <root>/dev/`volume`, or for "mapper:SLAVE ..." on
    // vg-root (dm-3, 253:3) over the slaves; those ending in a digit are partitions.
    void mount(QString const& volume) const {
        QString name = volume;
        if (volume.startsWith("mapper:")) {
            name = "mapper/vg-root";
            write("dev/dm-3", {});
            QDir().mkpath(root + "dev/mapper");
            QFile::link("../dm-3", root + "dev/mapper/vg-root");
            write("sys/block/dm-3/dev", "253:3\n");
            QDir().mkpath(root + "sys/dev/block/253:3/slaves");
            QStringList const slaves = volume.mid(7).split(' ');
            for (int i = 0; i < slaves.size(); ++i) {
                write("sys/devices/" + slaves[i] + "/dev", "8:" + QByteArray::number(i) + '\n');
                bool const partition = slaves[i].back().isDigit();
                write("sys/devices/" + slaves[i] + (partition ? "/start" : "/size"), "2048\n");
                QFile::link("../../../../devices/" + slaves[i],
                            root + "sys/dev/block/253:3/slaves/" + slaves[i]);
            }
        }
        write("proc/self/mountinfo", "31 1 " + numbers + " / / rw - ext4 " +
                                         QFile::encodeName(root + "dev/" + name) + " rw\n");
    }

    QString const root = QDir(path()).canonicalPath() + '/';
    crypto::system_paths paths;
    QByteArray numbers; // the program's device, "MAJ:MIN"
};

QStringList drive_of(QString const& element, QString const& drive, QString const& serial) {
    return {"--block", element + "=o:" + drives + drive, "--drive",
            drives + drive + "=s:" + serial};
}

} // namespace

class tst_installation_identity : public QObject {
    Q_OBJECT

    kelvra::testing::private_bus bus_{KELVRA_PRIVATE_BUS_CONFIG, KELVRA_UDISKS2_STANDIN};
    crypto::identity_trace own_; // what this program finds on this machine, up to the bus

private slots:
    void initTestCase() {
        QVERIFY2(bus_.is_running(), qPrintable(bus_.error()));
        core::result::stack status;
        crypto::get_installation_identity(crypto::system_paths{}, &own_, status);
    }

    void cleanup() { bus_.stop_standin(); }

    // The outcome is "= IDENTITY", or the failure as described to the user: its
    // first line, then texts that end lines of it. "<program>" stands for the
    // program's device numbers, "<root>/" for the fake root.
    void identity_data() {
        QTest::addColumn<QString>("volume");
        QTest::addColumn<QString>("file");       // then changed
        QTest::addColumn<QByteArray>("content"); // the file's new content; null: removed
        QTest::addColumn<QStringList>("standin");
        QTest::addColumn<QString>("outcome");
        auto row = [](char const* name, QString const& volume, QStringList const& standin,
                      QString const& outcome, QString const& file = {},
                      QByteArray const& content = {}) {
            QTest::newRow(name) << volume << file << content << standin << outcome;
        };
        // The stand-in knows only the devices that must be looked up.
        QStringList const a1 = drive_of("sda1", "disk_a", "WD-A1");
        QStringList const a2 = drive_of("sda2", "disk_a", "WD-A1");
        row("plain device, its name escaped", "md_1-a.b/\xc3\xa9",
            drive_of("md_1_2da_2eb_2f_c3_a9", "disk_a", "WD-A1"), "= WD-A1");
        row("mapper over two partitions of one drive", "mapper:sda1 sda2", a1 + a2, "= WD-A1");
        row("mapper over partitions of two drives, sorted", "mapper:sda1 sdb1",
            drive_of("sda1", "disk_z", "ZZ-9") + drive_of("sdb1", "disk_a", "AA-1"), "= AA-1|ZZ-9");
        row("mapper over whole disks", "mapper:sda sdb", {}, "= ");
        row("drive without a serial", "sda2", drive_of("sda2", "disk_a", ""), "= ");
        QString const table = "proc/self/mountinfo";
        row("first matching mount entry wins", "sda2", drive_of("sdc3", "disk_c", "SER-C"),
            "= SER-C", table,
            "36 1 7:1 / /a rw - ext4 <root>/dev/loop1 rw\n"
            "37 1 <program> / / rw - ext4 <root>/dev/sdc3 rw\n"
            "38 1 <program> / /b rw - ext4 <root>/dev/sdd1 rw\n");

        QString const device = "kelvra-crypto-linux-device: ";
        QString const internal = device + "Ocorreu um erro interno ao obter o device\n";
        QString const call = internal + "Ocorreu um erro ao executar a função ";
        QString const bad_path = device + "O path para o device é inválido\n    source-path: ";
        row("not in the mount table", "sda2", {},
            device + "Não foi possível obter o device da instalação", table,
            "36 1 8:1 / / rw - ext4 /dev/sda1 rw\n");
        row("entry without a source path", "sda2", {}, bad_path + "nullptr", table,
            "36 1 8:1 / /a rw - ext4 LABEL=dados rw\n37 1 <program> / / rw - ext4 /dev/sdc3 rw\n");
        row("entry with device number 0", "sda2", {},
            device + "O id do desvice é inválido\n    device-id: 0", table,
            "37 1 <program> / / rw - ext4 /dev/sdc3 rw\n38 1 0:0 / /b rw - ext4 /dev/sdb1 rw\n");
        row("mount table missing", "sda2", {},
            internal + "mnt_new_table_from_file() returned nullptr\n    errno-code: 2", table);
        row("program link missing", "sda2", {}, internal + "readlink() returned -1",
            "proc/self/exe");
        row("program gone", "sda2", {}, internal + "stat() returned -1", "bin/kelvra");
        row("volume outside /dev", "mapper:sda1", {}, bad_path + "<root>/dev/mapper/../../bin",
            table, "31 1 <program> / / rw - ext4 <root>/dev/mapper/../../bin rw\n");
        row("dangling volume link", "mapper:sda1", {},
            call + "realpath com o path '<root>/dev/mapper/vg-root'", "dev/dm-3");
        QString const dev = "sys/block/dm-3/dev";
        row("device number out of range", "mapper:sda1", {},
            call + "opendir com o path '<root>/sys/dev/block/0:0/slaves/'", dev, "99999999999:5");
        row("device number longer than read", "mapper:sda1", {},
            call + "opendir com o path '<root>/sys/dev/block/12:0/slaves/'", dev,
            "12:" + QByteArray(300, '3'));
        row("slave without dev attribute", "mapper:sda1", {},
            call + "open() com o path '<root>/sys/devices/sda1/dev'", "sys/devices/sda1/dev");

        QString const dbus = "kelvra-crypto-linux-dbus: ";
        QString const no_reply = dbus + "O dbus não informou nenhuma resposta\n";
        QString const type = dbus + "Tipo inexperado para 'dbus value' interno\n";
        QString const drive = drives + "disk_a";
        row("no UDisks2 on the bus", "sda2", {},
            no_reply + "org.freedesktop.DBus.Error.ServiceUnknown");
        // The stand-in answers after 5 s: a call that waited for it would succeed.
        row("late reply", "sda2", a2 + QStringList{"--delay-ms", "5000"},
            no_reply + "org.freedesktop.DBus.Error.NoReply");
        row("reply without arguments", "sda2", {"--block", "sda2=none:"},
            no_reply + "    Arg-2: Drive");
        row("drive outside a variant", "sda2", {"--block", "sda2=raw:" + drive},
            dbus + "Tipo inesperado da resposta do dbus\n    unexpected_type: 115\n"
                   "    expected_type: 118");
        row("serial as a number", "sda2",
            {"--block", "sda2=o:" + drive, "--drive", drive + "=i:42"},
            type + "    expected_type: 115\n    unexpected_type: 105");
        // libdbus would end the process on an invalid object path.
        row("unusable device name", "", a2,
            dbus + "Não foi possível executar um método de chamada do D-Bus\n"
                   "    path: /org/freedesktop/UDisks2/block_devices/");
    }

    void identity() {
        QFETCH(QString, volume);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, standin);
        QFETCH(QString, outcome);
        fake_system machine;
        machine.mount(volume);
        if (!content.isNull()) {
            machine.write(file, content.replace("<program>", machine.numbers)
                                    .replace("<root>/", QFile::encodeName(machine.root)));
        } else if (!file.isEmpty()) {
            QVERIFY(QFile::remove(machine.root + file));
        }
        QVERIFY2(standin.isEmpty() || bus_.start_standin(standin), qPrintable(bus_.error()));
        core::result::stack status;
        std::string const found = crypto::get_installation_identity(machine.paths, nullptr, status);
        QString const described = QString::fromStdString(
            status.has_failed() ? found + kelvra::describe_stack(status) : "= " + found + "\n");
        QStringList const lines = outcome.replace("<root>/", machine.root).split('\n');
        QVERIFY2(status.size() <= 1 && described.startsWith(lines[0] + '\n'),
                 qPrintable(described));
        for (QString const& line : lines) {
            QVERIFY2(described.contains(line + '\n'), qPrintable(described));
        }
    }

    // The link target is read whole or refused; never cut and never read past.
    void program_link_must_fit() {
        QTemporaryDir dir;
        std::string const target(31, 'x'), link = dir.filePath("exe").toStdString();
        QVERIFY(::symlink(target.c_str(), link.c_str()) == 0);
        core::result::stack status; // 32 bytes leave room for the terminating zero, 31 do not
        QCOMPARE(crypto::detail::linux::read_program_path(link, 32, status), target);
        QVERIFY(!status.has_failed() &&
                crypto::detail::linux::read_program_path(link, 31, status).empty());
        QCOMPARE(*status.begin()->find_argument("errno-code"), std::string("36"));
    }

    // The support diagnostic names each drive's serial, and says plainly when
    // the identity is empty.
    void diagnostic_program() {
        if (!own_.found_mount) {
            QSKIP("the build folder's file system is not in this machine's mount table");
        }
        auto run = [&](QString const& serial) {
            QStringList table;
            for (auto const& name : own_.block_devices) {
                std::string const kernel = name.rfind("/dev/", 0) == 0 ? name.substr(5) : name;
                table += drive_of(QString::fromStdString(
                                      crypto::detail::linux::escape_object_path_element(kernel)),
                                  "disk_0", serial);
            }
            if (!table.isEmpty() && !bus_.start_standin(table)) {
                return kelvra::testing::finished_program{-1, bus_.error().toUtf8(), {}};
            }
            return kelvra::testing::run_program(KELVRA_IDENTITY_DIAGNOSTIC, {});
        };
        // Drives without serials (or none at all): a key any machine can rebuild.
        auto const empty = run("");
        QVERIFY2(empty.code == 0 &&
                     empty.out.startsWith("programa: " KELVRA_IDENTITY_DIAGNOSTIC "\nmontagem: ") &&
                     empty.out.contains("identidade: \"\"\naviso: a identidade desta instalação "
                                        "está vazia (") &&
                     empty.out.endsWith("quem copiar os arquivos das sessões pode decifrá-los em "
                                        "outra máquina.\n"),
                 empty.out.constData());
        auto const named = own_.block_devices.empty() ? empty : run("DIAG-SERIAL");
        QVERIFY2(own_.block_devices.empty() ||
                     (named.code == 0 && named.out.endsWith(" -> " + drives.toUtf8() +
                                                            "disk_0 serial \"DIAG-SERIAL\"\n"
                                                            "identidade: \"DIAG-SERIAL\"\n")),
                 named.out.constData());
    }

    // Installing again replaces the program under a running copy, which must
    // still find its file system.
    void program_replaced_while_running() {
        QString const original = KELVRA_IDENTITY_PROBE;
        if (!own_.found_mount) {
            QSKIP("the build folder's file system is not in this machine's mount table");
        }
        QTemporaryDir dir(QFileInfo(original).path() + "/run-XXXXXX");
        QString const program = dir.filePath("identity_probe");
        QVERIFY(QFile::copy(original, program));
        QProcess probe;
        probe.start(program, QStringList());
        QVERIFY(probe.waitForStarted(30000));
        QVERIFY(QFile::remove(program) && QFile::copy(original, program));
        probe.write("\n");
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.readAllStandardOutput(),
                 QByteArray::fromStdString(own_.mount.source_path + "\n"));
    }
};

QTEST_GUILESS_MAIN(tst_installation_identity)
#include "tst_installation_identity.moc"
