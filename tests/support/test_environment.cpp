#include "support/test_environment.hpp"

#include <QFile>
#include <QFileInfo>

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
    QString const path = file(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile out(path);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           out.write(content) == content.size();
}

QString data_file(QString const& relative) {
    return QDir(QString::fromUtf8(KELVRA_TEST_DATA_DIR_PATH)).filePath(relative);
}

} // namespace kelvra::testing
