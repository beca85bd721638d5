#pragma once

#include <QByteArray>
#include <QString>

#include <string>

namespace kelvra {

// Overwrites the bytes of a buffer with zeros in a way the compiler cannot
// remove. Used on copies of secrets before their memory is released.
void wipe(void* data, std::size_t size) noexcept;
void wipe(std::string& text) noexcept;
void wipe(QByteArray& bytes) noexcept;
void wipe(QString& text) noexcept;

} // namespace kelvra
