#include "profile.hpp"

#include "terminal_status.hpp"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

namespace {

using status::terminal_category;

// Qt reads an unquoted value with commas back as a list; the profile means
// the text as written.
QString setting_text(QSettings const& settings, QString const& key) {
    QVariant const value = settings.value(key);
    if (value.type() == QVariant::StringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

void fail(terminal_category::code code, QString const& path, char const* field,
          QString const& value, result::stack& status) {
    result::stack failure;
    auto& item = failure.push_item(terminal_category::instance(), code);
    item.set_argument("path", path.toStdString());
    if (field != nullptr) {
        item.set_argument("campo", field);
        item.set_argument("value", value.toStdString());
    }
    status = std::move(failure);
}

bool is_variable_name(QString const& name) {
    if (name.isEmpty() || name.front().isDigit()) {
        return false;
    }
    for (QChar const c : name) {
        bool const plain = (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('_');
        if (!plain) {
            return false;
        }
    }
    return true;
}

// The id becomes part of a file name on the server: lower-case hex only.
bool is_connection_id(QString const& id) {
    if (id.isEmpty() || id.size() > 128) {
        return false;
    }
    for (QChar const c : id) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f')))) {
            return false;
        }
    }
    return true;
}

} // namespace

QString terminal_profile::connection_id() const {
    for (auto const& [name, value] : environment) {
        if (name == QLatin1String("KELVRA_CONNECTION_ID")) {
            return value;
        }
    }
    return {};
}

std::optional<std::vector<std::pair<QString, QString>>> parse_environment(QString const& text) {
    std::vector<std::pair<QString, QString>> pairs;
    if (text.isEmpty()) {
        return pairs;
    }
    for (QString const& entry : text.split(QLatin1Char(','))) {
        int const equals = entry.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            return std::nullopt;
        }
        QString const name = entry.left(equals).trimmed();
        if (!is_variable_name(name)) {
            return std::nullopt;
        }
        pairs.emplace_back(name, entry.mid(equals + 1));
    }
    return pairs;
}

std::optional<rgb> parse_colour(QString const& text) {
    QStringList const parts = text.split(QLatin1Char(','));
    if (parts.size() != 3) {
        return std::nullopt;
    }
    int values[3] = {};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok || values[i] < 0 || values[i] > 255) {
            return std::nullopt;
        }
    }
    return rgb{values[0], values[1], values[2]};
}

terminal_profile read_profile(QString const& path, result::stack& status) {
    if (!QFileInfo(path).isFile()) {
        result::stack failure;
        auto& item =
            failure.push_item(terminal_category::instance(), terminal_category::profile_not_found);
        item.set_argument("path", path.toStdString());
        status = std::move(failure);
        return {};
    }

    QSettings const settings(path, QSettings::NativeFormat);
    if (settings.status() != QSettings::NoError) {
        fail(terminal_category::profile_field_invalid, path, "file", QStringLiteral("FormatError"),
             status);
        return {};
    }

    terminal_profile profile;
    profile.host = setting_text(settings, QStringLiteral("HostName")).trimmed();
    if (profile.host.isEmpty()) {
        fail(terminal_category::profile_field_missing, path, "HostName", {}, status);
        return {};
    }
    if (profile.host.startsWith(QLatin1Char('-'))) {
        fail(terminal_category::profile_field_invalid, path, "HostName", profile.host, status);
        return {};
    }

    QString const port_text = setting_text(settings, QStringLiteral("PortNumber"));
    if (!port_text.isEmpty()) {
        bool ok = false;
        profile.port = port_text.trimmed().toInt(&ok);
        if (!ok || profile.port < 1 || profile.port > 65535) {
            fail(terminal_category::profile_field_invalid, path, "PortNumber", port_text, status);
            return {};
        }
    }

    profile.protocol = setting_text(settings, QStringLiteral("Protocol"));
    if (profile.protocol.isEmpty()) {
        profile.protocol = QStringLiteral("ssh");
    }
    if (profile.protocol != QLatin1String("ssh")) {
        fail(terminal_category::unsupported_protocol, path, "Protocol", profile.protocol, status);
        return {};
    }

    profile.user = setting_text(settings, QStringLiteral("UserName"));
    profile.title = setting_text(settings, QStringLiteral("WinTitle"));

    QString const environment = setting_text(settings, QStringLiteral("Environment"));
    auto pairs = parse_environment(environment);
    if (!pairs) {
        fail(terminal_category::profile_field_invalid, path, "Environment", environment, status);
        return {};
    }
    profile.environment = std::move(*pairs);
    QString const id = profile.connection_id();
    if (id.isEmpty()) {
        fail(terminal_category::profile_field_missing, path, "Environment",
             QStringLiteral("KELVRA_CONNECTION_ID"), status);
        return {};
    }
    if (!is_connection_id(id)) {
        fail(terminal_category::profile_field_invalid, path, "Environment", id, status);
        return {};
    }

    // Colour0 is the default foreground and Colour2 the default background.
    profile.foreground = parse_colour(setting_text(settings, QStringLiteral("Colour0")));
    profile.background = parse_colour(setting_text(settings, QStringLiteral("Colour2")));
    return profile;
}

} // namespace kelvra::terminal
