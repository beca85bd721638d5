#pragma once

// Result stacks travel in signals (also queued ones between threads).

#include <brano/core/v6/result.hpp>

#include <QMetaType>

Q_DECLARE_METATYPE(brano::core::v6::result::stack)
