#pragma once

#include <QtGlobal>

namespace kelvra {

// The workstation port that every connection's SSH remote forward delivers
// to on 127.0.0.1, and that the tunnel server listens on.
inline constexpr quint16 tunnel_port = 59565;

} // namespace kelvra
