#include "connections/putty_profile.hpp"

#include "connections/log.hpp"
#include "core/file_error.hpp"
#include "core/status.hpp"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QThread>
#include <QVariant>

#include <array>
#include <cerrno>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

struct colour {
    char const* key;
    int red, green, blue;
};

constexpr std::array<colour, 22> default_colours{{
    {"Colour0", 187, 187, 187},  {"Colour1", 255, 255, 255},  {"Colour2", 0, 0, 0},
    {"Colour3", 85, 85, 85},     {"Colour4", 0, 0, 0},        {"Colour5", 255, 255, 255},
    {"Colour6", 0, 0, 0},        {"Colour7", 85, 85, 85},     {"Colour8", 187, 0, 0},
    {"Colour9", 255, 85, 85},    {"Colour10", 10, 90, 200},   {"Colour11", 85, 255, 85},
    {"Colour12", 128, 128, 128}, {"Colour13", 255, 255, 85},  {"Colour14", 0, 78, 152},
    {"Colour15", 85, 85, 255},   {"Colour16", 255, 255, 255}, {"Colour17", 255, 85, 255},
    {"Colour18", 17, 150, 236},  {"Colour19", 85, 255, 255},  {"Colour20", 187, 187, 187},
    {"Colour21", 255, 255, 255},
}};

char const* status_name(QSettings::Status s) {
    switch (s) {
    case QSettings::NoError:
        return "NoError";
    case QSettings::AccessError:
        return "AccessError";
    case QSettings::FormatError:
        return "FormatError";
    }
    return "Unknow";
}

QString value_text(QVariant const& value) {
    if (value.type() == QVariant::List) {
        QStringList parts;
        for (QVariant const& v : value.toList()) {
            parts << v.toString();
        }
        return parts.join(QStringLiteral(", "));
    }
    return value.toString();
}

// Writes one key and checks the store; false (with the report) on failure.
void fail_setting(QSettings::Status store_status, QString const& key, QVariant const& value,
                  result::stack& status) {
    result::stack failure;
    auto& item = failure.push_item(status::settings_error_category::instance(),
                                   status::settings_error_category::cannot_set);
    item.set_argument("status", status_name(store_status));
    item.set_argument("field", key.toStdString());
    item.set_argument("value", value_text(value).toStdString());
    status = std::move(failure);
}

// Writes one key and checks the store; false (with the report) on failure.
bool write_setting(QSettings& settings, QString const& key, QVariant const& value,
                   result::stack& status) {
    settings.setValue(key, value);
    if (settings.status() == QSettings::NoError) {
        return true;
    }
    fail_setting(settings.status(), key, value, status);
    return false;
}

// Takes every double quote out of the profile, so that values QSettings
// quoted (the environment list, with its commas and equals signs) stand
// bare. It works on the private copy, which is renamed into place after.
void remove_quotes(QString const& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        qCDebug(connections_log) << "profile not reopened for the quote pass:"
                                 << file.errorString();
        return;
    }
    QByteArray content = file.readAll();
    int const nul = content.indexOf('\0');
    if (nul >= 0) {
        content.truncate(nul);
    }
    QString text = QString::fromUtf8(content);
    text.remove(QLatin1Char('"'));
    QByteArray const bytes = text.toUtf8();
    if (!file.resize(0) || !file.seek(0) || file.write(bytes) != bytes.size()) {
        qCDebug(connections_log) << "quote pass not written:" << file.errorString();
    }
}

void fail_with_file(QString const& file_name, unsigned code, QString const& description,
                    result::stack& status) {
    result::stack failure;
    set_file_error_arguments(failure.push_item(status::persist_session_category::instance(),
                                               status::persist_session_category::file_error),
                             file_name, code, description);
    status = std::move(failure);
}

// Whether the profile can be written where it is: an existing regular file
// that can be read and written, or a new file in a writable folder.
bool profile_is_writable(QString const& path) {
    QFileInfo const info(path);
    if (info.exists()) {
        return info.isFile() && ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
    }
    return ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK | X_OK) == 0;
}

void empty_folder(QDir const& folder) {
    for (QString const& name :
         folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        QFile::remove(folder.filePath(name));
    }
}

// How long an opening waits for another live Kelvra process that is writing
// profiles at the same moment (that takes milliseconds).
constexpr int profile_lock_wait_ms = 5000;

// Profiles are written by one Kelvra process at a time. The lock is the
// kernel's (flock), so a process killed while holding it never leaves it
// behind. QSettings takes a lock file of its own beside the file it writes,
// and cannot tell that an empty one is stale until it is 30 s old: it only
// ever writes a copy in a work folder that the lock holder empties first,
// and the copy replaces the profile with one rename.
class profile_writer_lock {
public:
    explicit profile_writer_lock(QString const& path)
        : path_(path),
          fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
    ~profile_writer_lock() {
        if (fd_ >= 0) {
            ::close(fd_); // releases the lock
        }
    }
    profile_writer_lock(profile_writer_lock const&) = delete;
    profile_writer_lock& operator=(profile_writer_lock const&) = delete;

    bool acquire(result::stack& status) {
        if (fd_ < 0) {
            int const error = errno;
            fail_with_file(path_, static_cast<unsigned>(error),
                           QString::fromLocal8Bit(std::strerror(error)), status);
            return false;
        }
        QDeadlineTimer const deadline(profile_lock_wait_ms);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            int const error = errno;
            if (error == EINTR) {
                continue;
            }
            if (error != EWOULDBLOCK || deadline.hasExpired()) {
                fail_with_file(path_, static_cast<unsigned>(error),
                               QString::fromLocal8Bit(std::strerror(error)), status);
                return false;
            }
            QThread::msleep(5);
        }
        return true;
    }

private:
    QString path_;
    int fd_;
};

} // namespace

void write_putty_profile(QString const& path, connection const& c, QString const& connection_id,
                         result::stack& status) {
    // The profile folder is private: profiles name hosts and users.
    QString const folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    std::map<QString, QString> const environment{
        {QStringLiteral("KELVRA_CONNECTION_ID"), connection_id},
        {QStringLiteral("KELVRA_VERSION"), QString::fromLatin1(kelvra_version)},
    };
    QStringList pairs;
    for (auto const& [name, value] : environment) {
        pairs << name + QLatin1Char('=') + value;
    }

    std::array<std::pair<QString, QVariant>, 6> const fixed{{
        {QStringLiteral("Environment"), pairs.join(QLatin1Char(','))},
        {QStringLiteral("HostName"), c.host},
        {QStringLiteral("PortNumber"), c.port},
        {QStringLiteral("Protocol"), QStringLiteral("ssh")},
        {QStringLiteral("UserName"), c.user},
        {QStringLiteral("WinTitle"), c.name},
    }};
    // The settings are written to a copy, which is always writable: the
    // profile itself must be, as the store would find on the first key.
    if (!profile_is_writable(path)) {
        fail_setting(QSettings::AccessError, fixed.front().first, fixed.front().second, status);
        return;
    }

    // The lock and the work folder lie beside the profile folder, not in it,
    // where they would be taken for profiles.
    QString const work_root = QFileInfo(folder).absolutePath();
    profile_writer_lock lock(work_root + QStringLiteral("/kelvra-profile.lock"));
    result::stack local;
    if (!lock.acquire(local)) {
        status = std::move(local);
        return;
    }
    QDir const work(work_root + QStringLiteral("/kelvra-profile.work"));
    if (::mkdir(QFile::encodeName(work.path()).constData(), 0700) != 0 && errno != EEXIST) {
        int const error = errno;
        fail_with_file(work.path(), static_cast<unsigned>(error),
                       QString::fromLocal8Bit(std::strerror(error)), status);
        return;
    }
    empty_folder(work); // what a killed writer left
    // The copy keeps the profile's own name: QSettings caches files by path.
    QString const copy = work.filePath(QFileInfo(path).fileName());
    if (QFileInfo(path).isFile() && !QFile::copy(path, copy)) {
        QFile source(path);
        source.open(QIODevice::ReadOnly);
        fail_with_file(path, static_cast<unsigned>(source.error()), source.errorString(), status);
        empty_folder(work);
        return;
    }

    {
        QSettings settings(copy, QSettings::NativeFormat);
        for (auto const& [key, value] : fixed) {
            if (!write_setting(settings, key, value, local)) {
                status = std::move(local);
                empty_folder(work);
                return;
            }
        }
        for (colour const& col : default_colours) {
            QString const key = QString::fromLatin1(col.key);
            if (settings.contains(key)) {
                continue;
            }
            QVariantList const rgb{col.red, col.green, col.blue};
            if (!write_setting(settings, key, rgb, local)) {
                status = std::move(local);
                empty_folder(work);
                return;
            }
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            qCDebug(connections_log) << "profile not written:" << path << settings.status();
        }
    }
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    remove_quotes(copy);
    if (QFileInfo::exists(copy) &&
        ::rename(QFile::encodeName(copy).constData(), QFile::encodeName(path).constData()) != 0) {
        qCDebug(connections_log) << "profile not replaced:" << path << std::strerror(errno);
        empty_folder(work);
    }
}

} // namespace kelvra
