#pragma once

#include <QByteArray>
#include <cstdint>
#include <span>

namespace tessaly::dump {

// A Qt byte array's bytes as the cores without Qt take them, and back.
inline std::span<const std::uint8_t> bytesOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}
inline QByteArray byteArrayOf(std::span<const std::uint8_t> bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace tessaly::dump
