#include "support/test_environment.hpp"

#include "sessions/session_store.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>

namespace kelvra::testing {

isolated_home::isolated_home()
    : old_home_(qgetenv("HOME")), old_runtime_(qgetenv("XDG_RUNTIME_DIR")) {
    QDir(dir_.path()).mkpath(QStringLiteral("home"));
    QDir(dir_.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(runtime_dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime_dir().toLocal8Bit());
}

isolated_home::~isolated_home() {
    qputenv("HOME", old_home_);
    if (old_runtime_.isEmpty()) {
        qunsetenv("XDG_RUNTIME_DIR");
    } else {
        qputenv("XDG_RUNTIME_DIR", old_runtime_);
    }
}

QString isolated_home::home() const {
    return dir_.filePath(QStringLiteral("home"));
}

QString isolated_home::runtime_dir() const {
    return dir_.filePath(QStringLiteral("runtime"));
}

install_root::install_root() {
    QDir root(dir_.path());
    for (auto const* sub : {"bin", "etc", "var/sessions", "libexec"}) {
        root.mkpath(QString::fromLatin1(sub));
    }
}

bool install_root::write(QString const& relative, QByteArray const& content) const {
    return write_file(file(relative), content);
}

bool install_root::install(QString const& program, QString const& relative) const {
    QFile::remove(file(relative));
    return QFile::copy(program, file(relative));
}

bool install_root::save(session const& s) const {
    brano::core::v6::result::stack status;
    detail::session_store(bin()).save_session(s, status);
    return !status.has_failed();
}

bool in_installation() {
    return !qEnvironmentVariableIsEmpty("KELVRA_TEST_IN_ROOT");
}

int run_installed(QString const& relative, QStringList const& wrapper) {
    install_root root;
    if (!root.install(QCoreApplication::applicationFilePath(), relative)) {
        return 2;
    }
    qputenv("KELVRA_TEST_IN_ROOT", "1");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList const command =
        wrapper + QStringList(root.file(relative)) + QCoreApplication::arguments().mid(1);
    child.start(command.first(), command.mid(1));
    child.waitForFinished(-1);
    qunsetenv("KELVRA_TEST_IN_ROOT");
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 3;
}

QString data_file(QString const& relative) {
    return QDir(QString::fromUtf8(KELVRA_TEST_DATA_DIR_PATH)).filePath(relative);
}

QByteArray read_file(QString const& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write_file(QString const& path, QByteArray const& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile out(path);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           out.write(content) == content.size();
}

QString port_taken(quint16 port) {
    QTcpServer probe;
    if (probe.listen(QHostAddress::LocalHost, port)) {
        return {};
    }
    return QStringLiteral("port %1 is taken by another program: %2")
        .arg(port)
        .arg(probe.errorString());
}

} // namespace kelvra::testing
