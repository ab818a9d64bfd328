#include "sim/BoxExchange.h"

#include <numeric>

namespace tessaly::sim {
namespace {

QByteArray line(const char* text) { return QByteArray(text) + "\r\n"; }

QByteArray flashInformationRecord() {
    static constexpr unsigned char kRecord[] = {
        0x4B, 0x41, 0x05, 0x16, 0x21, 0x27, 0x82, 0x7F, 0xE0, 0x7F, 0xF0, 0x7F, 0xFE, 0x40, 0x0E,
        0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x4F, 0x4E};
    return QByteArray(reinterpret_cast<const char*>(kRecord), sizeof kRecord) + "\r\n";
}

}  // namespace

const std::array<HostMessage, 10>& hostMessages() {
    static const std::array<HostMessage, 10> messages = {{
        {"\"REQUEST_V616\" CR LF", line("REQUEST_V616"), Answer::Nothing},
        {"\"BL_FLASH_INFO\" CR LF", line("BL_FLASH_INFO"), Answer::Nothing},
        {"flash-information record CR LF", flashInformationRecord(), Answer::Nothing},
        {"NUL byte", QByteArray(1, '\0'), Answer::Nothing},
        {"\"BL_FLASH_END\" CR LF", line("BL_FLASH_END"), Answer::Token, "PC___"},
        {"\"REQUEST_START_BLOCK\" CR LF", line("REQUEST_START_BLOCK"), Answer::Token, "0000"},
        {"\"REQUEST_BLOCK\" CR LF", line("REQUEST_BLOCK"), Answer::Token, "1984"},
        {"\"REQUEST_DOWNLOAD\" CR LF", line("REQUEST_DOWNLOAD"), Answer::Nothing},
        {"empty line CR LF", line(""), Answer::Nothing},
        {"\"REQUEST_E2PROM\" CR LF", line("REQUEST_E2PROM"), Answer::Reply},
    }};
    return messages;
}

const QByteArray& firstMessage() { return hostMessages().front().bytes; }

QByteArray acknowledgementFor(bool checksumRight) {
    return checksumRight ? line("E2PROMDOWN_SUCCESS") : QByteArrayLiteral("E2PROMDOWN_ERROR\r");
}

std::uint8_t checksumOf(const std::array<std::uint8_t, 1024>& data) {
    return std::uint8_t(std::accumulate(data.begin(), data.end(), 0u));
}

QString describeByte(char byte) {
    const auto value = std::uint8_t(byte);
    QString text = QString::asprintf("0x%02X", unsigned(value));
    if (value >= 0x20 && value < 0x7F) text += QStringLiteral(" '%1'").arg(QLatin1Char(byte));
    return text;
}

QString labelOf(int message, bool checksumRight) {
    if (message != kAcknowledgement) return QString::fromLatin1(hostMessages()[message - 1].label);
    return checksumRight ? QStringLiteral("acknowledgement \"E2PROMDOWN_SUCCESS\" CR LF")
                         : QStringLiteral("acknowledgement \"E2PROMDOWN_ERROR\" CR");
}

}  // namespace tessaly::sim
