#include "sessions/session_json.hpp"

#include "core/status.hpp"
#include "sessions/session_key_fields.hpp"

#include <QJsonArray>

#include <cmath>
#include <functional>
#include <limits>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

constexpr int current_version = 2;
constexpr int no_value = -1;

QString const key_versao = QStringLiteral("versao");
QString const key_nome = QStringLiteral("nome");
QString const key_host = QStringLiteral("host");
QString const key_porta = QStringLiteral("porta");
QString const key_usuario = QStringLiteral("usuario");
QString const key_tipo_autenticacao = QStringLiteral("tipo_autenticacao");
QString const key_key = QStringLiteral("key");
QString const key_comando = QStringLiteral("comando");
QString const key_caminho = QStringLiteral("caminho");
QString const key_impressoras = QStringLiteral("impressoras");
QString const key_autostart = QStringLiteral("autostart");
QString const key_maximized = QStringLiteral("maximized");
QString const key_identificador = QStringLiteral("identificador");
QString const key_tipo = QStringLiteral("tipo");

void fail(status::load_session_category::code code, QString const& key, result::stack& status) {
    result::stack failure;
    failure.push_item(status::load_session_category::instance(), code)
        .set_argument("campo", key.toStdString());
    status = std::move(failure);
}

// A JSON number cut to a 32-bit integer, toward zero, within range.
int truncate_to_int(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    double const t = std::trunc(value);
    if (t >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (t <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(t);
}

bool is_integral(double value) {
    return std::isfinite(value) && std::trunc(value) == value &&
           value >= static_cast<double>(std::numeric_limits<int>::min()) &&
           value <= static_cast<double>(std::numeric_limits<int>::max());
}

QJsonValue require(QJsonObject const& object, QString const& key, result::stack& status) {
    auto const it = object.constFind(key);
    if (it == object.constEnd()) {
        fail(status::load_session_category::missing_field, key, status);
        return QJsonValue(QJsonValue::Undefined);
    }
    return it.value();
}

// Runs the reading steps in order and stops at the first failure.
void read_in_order(result::stack& status, std::initializer_list<std::function<void()>> steps) {
    for (auto const& step : steps) {
        if (status.has_failed()) {
            return;
        }
        step();
    }
}

authentication_type to_authentication_type(int stored) {
    switch (stored) {
    case 0:
        return authentication_type::password;
    case 1:
        return authentication_type::key_file;
    default:
        return authentication_type::invalid;
    }
}

int from_authentication_type(authentication_type type) {
    switch (type) {
    case authentication_type::password:
        return 0;
    case authentication_type::key_file:
        return 1;
    default:
        return no_value;
    }
}

} // namespace

QString read_string_field(QJsonObject const& object, QString const& key, result::stack& status) {
    QJsonValue const value = require(object, key, status);
    if (status.has_failed()) {
        return QString();
    }
    if (!value.isString()) {
        fail(status::load_session_category::wrong_value, key, status);
        return QString();
    }
    return value.toString();
}

int read_int_field(QJsonObject const& object, QString const& key, result::stack& status) {
    QJsonValue const value = require(object, key, status);
    if (status.has_failed()) {
        return no_value;
    }
    if (!value.isDouble() || !is_integral(value.toDouble()) ||
        static_cast<int>(value.toDouble()) == no_value) {
        fail(status::load_session_category::wrong_value, key, status);
        return no_value;
    }
    return static_cast<int>(value.toDouble());
}

int read_port_field(QJsonObject const& object, QString const& key, result::stack& status) {
    QJsonValue const value = require(object, key, status);
    if (status.has_failed()) {
        return 0;
    }
    if (!value.isDouble()) {
        fail(status::load_session_category::wrong_value, key, status);
        return 0;
    }
    return truncate_to_int(value.toDouble());
}

bool read_bool_field(QJsonObject const& object, QString const& key, result::stack& status) {
    QJsonValue const value = require(object, key, status);
    if (status.has_failed()) {
        return false;
    }
    if (!value.isBool()) {
        fail(status::load_session_category::wrong_value, key, status);
        return false;
    }
    return value.toBool();
}

QVector<printer> read_printers(QJsonObject const& object, result::stack& status) {
    auto const it = object.constFind(key_impressoras);
    if (it == object.constEnd()) {
        return {};
    }
    if (!it.value().isArray()) {
        fail(status::load_session_category::wrong_value, key_impressoras, status);
        return {};
    }
    QVector<printer> printers;
    for (QJsonValue const& element : it.value().toArray()) {
        if (!element.isObject()) {
            fail(status::load_session_category::wrong_value, key_impressoras, status);
            return {};
        }
        // A malformed printer object costs only itself: it becomes an empty
        // entry and the file still loads.
        QJsonObject const entry = element.toObject();
        QJsonValue const identificador = entry.value(key_identificador);
        QJsonValue const nome = entry.value(key_nome);
        QJsonValue const tipo = entry.value(key_tipo);
        printer p;
        if (identificador.isString() && nome.isString() && tipo.isDouble()) {
            p.identificador = identificador.toString();
            p.nome = nome.toString();
            p.tipo = truncate_to_int(tipo.toDouble());
        }
        printers.push_back(p);
    }
    return printers;
}

QJsonDocument session_to_json(session const& s) {
    QJsonObject object;
    object.insert(key_versao, current_version);
    object.insert(key_nome, s.nome);
    object.insert(key_host, s.host);
    object.insert(key_porta, s.porta);
    object.insert(key_usuario, s.usuario);
    object.insert(key_comando, s.comando);
    object.insert(key_caminho, s.caminho);
    if (!s.impressoras.isEmpty()) {
        QJsonArray printers;
        for (printer const& p : s.impressoras) {
            printers.append(QJsonObject{
                {key_nome, p.nome}, {key_identificador, p.identificador}, {key_tipo, p.tipo}});
        }
        object.insert(key_impressoras, printers);
    }
    object.insert(key_autostart, s.autostart);
    object.insert(key_maximized, s.maximized);
    object.insert(key_tipo_autenticacao, from_authentication_type(s.tipo_autenticacao));
    object.insert(key_key, s.key);
    return QJsonDocument(object);
}

session session_from_json(QJsonDocument const& document, result::stack& status) {
    installation_key_once installation_key;
    return session_from_json(document, installation_key, status);
}

session session_from_json(QJsonDocument const& document, installation_key_once& installation_key,
                          result::stack& status) {
    session s;
    if (!document.isObject()) {
        return s;
    }
    QJsonObject const object = document.object();
    int const version = read_int_field(object, key_versao, status);
    if (status.has_failed()) {
        return s;
    }

    auto const string_field = [&](QString& field, QString const& key) {
        return [&field, &key, &object, &status] { field = read_string_field(object, key, status); };
    };
    auto const bool_field = [&](bool& field, QString const& key) {
        return [&field, &key, &object, &status] { field = read_bool_field(object, key, status); };
    };
    auto const porta = [&] { s.porta = read_port_field(object, key_porta, status); };
    auto const impressoras = [&] { s.impressoras = read_printers(object, status); };

    switch (version) {
    case 1:
        s.tipo_autenticacao = authentication_type::password;
        read_in_order(status,
                      {string_field(s.nome, key_nome), string_field(s.host, key_host), porta,
                       string_field(s.key, key_key), string_field(s.usuario, key_usuario),
                       impressoras, bool_field(s.autostart, key_autostart),
                       bool_field(s.maximized, key_maximized),
                       // Version 1 kept the command and the path only
                       // inside the session key text.
                       [&] { recover_command_and_path(s, installation_key, status); }});
        break;
    case current_version:
        read_in_order(status, {string_field(s.nome, key_nome), string_field(s.host, key_host),
                               porta, string_field(s.usuario, key_usuario),
                               [&] {
                                   int const stored =
                                       read_int_field(object, key_tipo_autenticacao, status);
                                   s.tipo_autenticacao = to_authentication_type(stored);
                               },
                               string_field(s.key, key_key), string_field(s.comando, key_comando),
                               string_field(s.caminho, key_caminho), impressoras,
                               bool_field(s.autostart, key_autostart),
                               bool_field(s.maximized, key_maximized)});
        break;
    default:
        fail(status::load_session_category::wrong_value, key_versao, status);
        break;
    }
    return s;
}

} // namespace kelvra
