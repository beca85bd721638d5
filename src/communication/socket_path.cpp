#include "communication/socket_path.hpp"

#include "communication/log.hpp"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvra::communication {

QString server_name() {
    return QStringLiteral("KelvraCommunicationServer");
}

QString socket_path() {
    // Qt checks that the folder is this user's own, not a symbolic link, and
    // has mode 0700 (setting it when it differs).
    QString const folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        qCDebug(communication_log, "no runtime folder for the local server");
        return {};
    }
    return detail::socket_path(folder);
}

namespace detail {

QString socket_path(QString const& runtime_folder) {
    return QDir(runtime_folder).filePath(server_name());
}

socket_state inspect_socket(QString const& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return errno == ENOENT ? socket_state::absent : socket_state::foreign;
    }
    if (!S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid()) {
        return socket_state::foreign;
    }
    return socket_state::ours;
}

} // namespace detail

} // namespace kelvra::communication
