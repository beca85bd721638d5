// Opening a session: manager::open (installation key from the private bus,
// decrypt, re-stamp, encrypt, profile, start) until the terminal program has
// started, against the bare start of the same program.
#include "connections/manager.hpp"
#include "crypto/installation_key.hpp"
#include "crypto/session_key.hpp"
#include "support/machine_identity.hpp"
#include "support/test_environment.hpp"
#include "support/timing.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace core = brano::core::v6;

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    kelvra::testing::isolated_home home;
    kelvra::testing::install_root root;
    kelvra::testing::machine_identity identity;
    if (!identity.is_ready()) {
        std::fprintf(stderr, "no identity: %s\n", qPrintable(identity.error()));
        return 1;
    }
    QTemporaryDir records;
    qputenv("KELVRA_RECORD_DIR", records.path().toLocal8Bit());
    QString const program = root.file(QStringLiteral("libexec/putty"));
    QFile::copy(QStringLiteral(KELVRA_RECORDING_PUTTY), program);

    core::result::stack status;
    kelvra::crypto::session_key key;
    key.device_key = kelvra::crypto::get_installation_key(status);
    key.secret = core::byte_array(std::string("senha"));
    key.command = "mirtel";
    key.path = "/srv";
    kelvra::connection c;
    c.name = QStringLiteral("Bench");
    c.host = QStringLiteral("h");
    c.port = 22;
    c.user = QStringLiteral("u");
    c.session_key = QString::fromStdString(kelvra::crypto::encrypt_session_key(key, status));
    if (status.has_failed()) {
        return 1;
    }

    // Both runs end when the program has written its argument list: it
    // has started and is running.
    auto const wait_recorded = [&] {
        QDir const dir(records.path());
        while (dir.entryList({QStringLiteral("*.args")}, QDir::Files).isEmpty()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        for (QString const& f : dir.entryList(QDir::Files)) {
            QFile::remove(dir.filePath(f));
        }
    };

    constexpr int runs = 40;
    std::vector<double> bare;
    std::vector<double> open;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.start(program, {QStringLiteral("-load"), c.name});
        wait_recorded();
        bare.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        process.waitForFinished(10000);
    }
    auto& manager = kelvra::manager::instance();
    for (int i = 0; i < runs; ++i) {
        QEventLoop loop;
        QObject::connect(&manager, &kelvra::manager::all_finished, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        manager.open_from(root.bin(), c, status);
        if (status.has_failed()) {
            std::fprintf(stderr, "open failed\n");
            return 1;
        }
        wait_recorded();
        open.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (manager.has_running()) {
            loop.exec();
        }
    }
    double const b = kelvra::bench::median(bare);
    double const o = kelvra::bench::median(open);
    std::printf("bare_program_start %.3f ms\n", b);
    std::printf("manager_open_to_started %.3f ms\n", o);
    std::printf("open_over_bare_start %.2f ratio\n", o / b);
    return 0;
}
