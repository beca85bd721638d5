#include "connections/putty_profile.hpp"

#include "connections/log.hpp"
#include "core/status.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QVariant>

#include <array>
#include <map>

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
bool write_setting(QSettings& settings, QString const& key, QVariant const& value,
                   result::stack& status) {
    settings.setValue(key, value);
    if (settings.status() == QSettings::NoError) {
        return true;
    }
    result::stack failure;
    auto& item = failure.push_item(status::settings_error_category::instance(),
                                   status::settings_error_category::cannot_set);
    item.set_argument("status", status_name(settings.status()));
    item.set_argument("field", key.toStdString());
    item.set_argument("value", value_text(value).toStdString());
    status = std::move(failure);
    return false;
}

// Takes every double quote out of the profile, so that values QSettings
// quoted (the environment list, with its commas and equals signs) stand
// bare. The file is replaced atomically.
void remove_quotes(QString const& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        qCDebug(connections_log) << "profile not reopened for the quote pass:" << in.errorString();
        return;
    }
    QByteArray content = in.readAll();
    in.close();
    int const nul = content.indexOf('\0');
    if (nul >= 0) {
        content.truncate(nul);
    }
    QString text = QString::fromUtf8(content);
    text.remove(QLatin1Char('"'));

    QSaveFile out(path);
    QByteArray const bytes = text.toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        qCDebug(connections_log) << "quote pass not written:" << out.errorString();
    }
}

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

    result::stack local;
    {
        QSettings settings(path, QSettings::NativeFormat);
        std::array<std::pair<QString, QVariant>, 6> const fixed{{
            {QStringLiteral("Environment"), pairs.join(QLatin1Char(','))},
            {QStringLiteral("HostName"), c.host},
            {QStringLiteral("PortNumber"), c.port},
            {QStringLiteral("Protocol"), QStringLiteral("ssh")},
            {QStringLiteral("UserName"), c.user},
            {QStringLiteral("WinTitle"), c.name},
        }};
        for (auto const& [key, value] : fixed) {
            if (!write_setting(settings, key, value, local)) {
                status = std::move(local);
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
                return;
            }
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            qCDebug(connections_log) << "profile not written:" << path << settings.status();
        }
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    remove_quotes(path);
}

} // namespace kelvra
