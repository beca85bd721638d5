#include "sessions/session_json.hpp"

#include "core/json_writer.hpp"
#include "core/status.hpp"
#include "sessions/session_key_fields.hpp"

#include <QJsonArray>

#include <cmath>
#include <limits>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

constexpr int current_version = 2;
constexpr int no_value = -1;

// Latin-1 names: Qt finds them among the stored names without converting.
QLatin1String const key_versao("versao");
QLatin1String const key_nome("nome");
QLatin1String const key_host("host");
QLatin1String const key_porta("porta");
QLatin1String const key_usuario("usuario");
QLatin1String const key_tipo_autenticacao("tipo_autenticacao");
QLatin1String const key_key("key");
QLatin1String const key_comando("comando");
QLatin1String const key_caminho("caminho");
QLatin1String const key_impressoras("impressoras");
QLatin1String const key_autostart("autostart");
QLatin1String const key_maximized("maximized");
QLatin1String const key_identificador("identificador");
QLatin1String const key_tipo("tipo");

void fail(status::load_session_category::code code, QLatin1String key, result::stack& status) {
    result::stack failure;
    failure.push_item(status::load_session_category::instance(), code)
        .set_argument("campo", std::string(key.data(), std::size_t(key.size())));
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

// Reads the members of one object in the order they are asked for, and
// stops at the first failure: after it every read leaves its field alone,
// and the stack holds that one failure, naming the member in "campo".
class field_reader {
public:
    field_reader(QJsonObject const& object, result::stack& status)
        : object_(object), status_(status) {}

    bool failed() const { return status_.has_failed(); }

    void text(QString& field, QLatin1String key) {
        QJsonValue const value = require(key);
        if (value.isString()) {
            field = value.toString();
        } else if (!failed()) {
            fail(status::load_session_category::wrong_value, key, status_);
        }
    }

    // An integral number; -1 is the reader's own "no value" marker and so
    // is refused as well.
    void integer(int& field, QLatin1String key) {
        QJsonValue const value = require(key);
        if (failed()) {
            return;
        }
        double const number = value.toDouble(no_value);
        if (!value.isDouble() || !is_integral(number) || static_cast<int>(number) == no_value) {
            fail(status::load_session_category::wrong_value, key, status_);
            return;
        }
        field = static_cast<int>(number);
    }

    // Any number, truncated toward zero.
    void port(std::int32_t& field, QLatin1String key) {
        QJsonValue const value = require(key);
        if (value.isDouble()) {
            field = truncate_to_int(value.toDouble());
        } else if (!failed()) {
            fail(status::load_session_category::wrong_value, key, status_);
        }
    }

    void boolean(bool& field, QLatin1String key) {
        QJsonValue const value = require(key);
        if (value.isBool()) {
            field = value.toBool();
        } else if (!failed()) {
            fail(status::load_session_category::wrong_value, key, status_);
        }
    }

    // The optional "impressoras" array.
    void printers(QVector<printer>& field) {
        if (failed()) {
            return;
        }
        auto const it = object_.constFind(key_impressoras);
        if (it == object_.constEnd()) {
            return;
        }
        if (!it.value().isArray()) {
            fail(status::load_session_category::wrong_value, key_impressoras, status_);
            return;
        }
        QJsonArray const array = it.value().toArray();
        QVector<printer> printers;
        printers.reserve(array.size());
        for (QJsonValue const& element : array) {
            if (!element.isObject()) {
                fail(status::load_session_category::wrong_value, key_impressoras, status_);
                return;
            }
            // A malformed printer object costs only itself: it becomes an
            // empty entry and the file still loads.
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
            printers.push_back(std::move(p));
        }
        field = std::move(printers);
    }

private:
    // The member, or Undefined: then it is reported missing, unless an
    // earlier read already failed.
    QJsonValue require(QLatin1String key) {
        if (failed()) {
            return QJsonValue(QJsonValue::Undefined);
        }
        auto const it = object_.constFind(key);
        if (it == object_.constEnd()) {
            fail(status::load_session_category::missing_field, key, status_);
            return QJsonValue(QJsonValue::Undefined);
        }
        return it.value();
    }

    QJsonObject const& object_;
    result::stack& status_;
};

} // namespace

void write_session(json_writer& out, session const& s) {
    // Qt's order of names, so the text is what QJsonDocument would print.
    out.begin_object();
    out.member(key_autostart, s.autostart);
    out.member(key_caminho, s.caminho);
    out.member(key_comando, s.comando);
    out.member(key_host, s.host);
    if (!s.impressoras.isEmpty()) {
        out.name(key_impressoras).begin_array();
        for (printer const& p : s.impressoras) {
            out.begin_object();
            out.member(key_identificador, p.identificador);
            out.member(key_nome, p.nome);
            out.member(key_tipo, p.tipo);
            out.end_object();
        }
        out.end_array();
    }
    out.member(key_key, s.key);
    out.member(key_maximized, s.maximized);
    out.member(key_nome, s.nome);
    out.member(key_porta, s.porta);
    out.member(key_tipo_autenticacao, from_authentication_type(s.tipo_autenticacao));
    out.member(key_usuario, s.usuario);
    out.member(key_versao, current_version);
    out.end_object();
}

QByteArray session_json_text(session const& s) {
    json_writer out;
    write_session(out, s);
    return out.text();
}

session session_from_json(QJsonDocument const& document, result::stack& status) {
    installation_key_once installation_key;
    return session_from_json(document, installation_key, status);
}

session session_from_json(QJsonDocument const& document, installation_key_once& installation_key,
                          result::stack& status) {
    return document.isObject() ? session_from_json(document.object(), installation_key, status)
                               : session{};
}

session session_from_json(QJsonObject const& object, installation_key_once& installation_key,
                          result::stack& status) {
    session s;
    field_reader read(object, status);
    int version = no_value;
    read.integer(version, key_versao);
    switch (read.failed() ? no_value : version) {
    case no_value:
        break;
    case 1:
        s.tipo_autenticacao = authentication_type::password;
        read.text(s.nome, key_nome);
        read.text(s.host, key_host);
        read.port(s.porta, key_porta);
        read.text(s.key, key_key);
        read.text(s.usuario, key_usuario);
        read.printers(s.impressoras);
        read.boolean(s.autostart, key_autostart);
        read.boolean(s.maximized, key_maximized);
        // Version 1 kept the command and the path only inside the session
        // key text.
        if (!read.failed()) {
            recover_command_and_path(s, installation_key, status);
        }
        break;
    case current_version: {
        read.text(s.nome, key_nome);
        read.text(s.host, key_host);
        read.port(s.porta, key_porta);
        read.text(s.usuario, key_usuario);
        if (!read.failed()) {
            int stored = no_value; // a stored value that is no number reads as invalid
            read.integer(stored, key_tipo_autenticacao);
            s.tipo_autenticacao = to_authentication_type(stored);
        }
        read.text(s.key, key_key);
        read.text(s.comando, key_comando);
        read.text(s.caminho, key_caminho);
        read.printers(s.impressoras);
        read.boolean(s.autostart, key_autostart);
        read.boolean(s.maximized, key_maximized);
        break;
    }
    default:
        fail(status::load_session_category::wrong_value, key_versao, status);
        break;
    }
    return s;
}

} // namespace kelvra
