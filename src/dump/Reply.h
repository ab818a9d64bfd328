#pragma once

#include <QByteArray>
#include <cstdint>
#include <span>

#include "dump/ByteConversions.h"
#include "dump/core/DumpProtocol.h"

namespace tessaly::dump {

// A complete reply of the box: its data and the checksum byte it sent for them, with the data's
// own sum worked out once for the listing, the store and the reports.
class Reply {
public:
    explicit Reply(std::span<const std::uint8_t, kReplySize> reply)
        : data_(byteArrayOf(reply.first<kDataSize>())),
          boxChecksum_(reply[kDataSize]),
          dataSum_(checksumOf(reply.first<kDataSize>())) {}

    const QByteArray& data() const { return data_; }
    std::uint8_t boxChecksum() const { return boxChecksum_; }
    std::uint8_t dataSum() const { return dataSum_; }
    bool checksumMatches() const { return boxChecksum_ == dataSum_; }

private:
    QByteArray data_;
    std::uint8_t boxChecksum_;
    std::uint8_t dataSum_;
};

}  // namespace tessaly::dump
