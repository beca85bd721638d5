#include "commandline/arguments.hpp"

namespace kelvra::commandline {

arguments::arguments()
    : load{"load", "Abre uma sessão ja cadastrada."},
      open_connection{"open-connection", "Abre uma sessão ja cadastrada."},
      auto_open_connection{
          "auto-open-connection",
          "Inicializa automaticamente as conexões configuradas para execução automática."} {
    parser_.add_option(load);
    parser_.add_option(open_connection);
    parser_.add_option(auto_open_connection);
}

void arguments::parse(int argc, char** argv, brano::core::v6::result::stack& status) {
    parser_.parse(argc, argv, status);
}

bool arguments::session_requested() const {
    return parser_.has_option(load) || parser_.has_option(open_connection);
}

QString arguments::session_name() const {
    if (parser_.has_option(load)) {
        return QString::fromStdString(parser_.get_value(load));
    }
    if (parser_.has_option(open_connection)) {
        return QString::fromStdString(parser_.get_value(open_connection));
    }
    return QString();
}

} // namespace kelvra::commandline
