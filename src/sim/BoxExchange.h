#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace tessaly::sim {

// The box's own table of one dump, kept apart from the host's code on purpose, so that a host
// sending a wrong byte is caught.

// What the box does once a host message is complete.
enum class Answer { Nothing, Token, Reply };

struct HostMessage {
    const char* label;
    QByteArray bytes;
    Answer answer;
    const char* token = "";
};

// The host's side of one dump, in order: message n is hostMessages()[n - 1].
const std::array<HostMessage, 10>& hostMessages();
const QByteArray& firstMessage();

// The message after the reply: the host's acknowledgement.
inline constexpr int kAcknowledgement = 11;
QByteArray acknowledgementFor(bool checksumRight);

std::uint8_t checksumOf(const std::array<std::uint8_t, 1024>& data);

// For reports of what the host sent: "0x41 'A'", and message n's label.
QString describeByte(char byte);
QString labelOf(int message, bool checksumRight);

}  // namespace tessaly::sim
