#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <optional>

#include "dump/ImageFile.h"
#include "dump/Reply.h"
#include "dump/core/DumpProtocol.h"

namespace tessaly::serial {
class SerialLink;
}

namespace tessaly::dump {

// What the box sent during one wait: tells "nothing arrived" (cable, port, box off) from "bytes
// arrived but not the awaited token" (wrong speed, wrong device, noise).
struct WaitArrivals {
    static constexpr qsizetype kKept = 16;
    qint64 count = 0;
    QByteArray first;  // the first kKept bytes of them
};

// One dump over an already open link: drives the protocol core with the link's events, stores
// the image and acknowledges it. Everything is event-driven; nothing here blocks or polls.
class DumpRun : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Saved,             // checksum matched, success acknowledged (image written if asked)
        ChecksumMismatch,  // error acknowledged (image written if asked)
        Cancelled,         // the link was closed on purpose while waiting
        TimedOut,          // the box did not answer within the wait limit
        LinkLost,          // the device went away or failed
        WriteFailed,       // the image file could not be written; nothing acknowledged
    };
    Q_ENUM(Outcome)

    struct Result {
        Outcome outcome = Outcome::Cancelled;
        std::optional<Reply> reply;  // when the reply was complete
        QString detail;              // what went wrong, in the platform's or the box's words
        StoredImage stored;          // what became of the image file (path and failure once tried)
        // Why the acknowledgement may not have reached the box (sending it failed); empty when
        // it left or none was due.
        QString acknowledgementFailure;
        WaitArrivals arrived;  // during the wait the run ended in
    };

    // When a complete reply is stored, before its acknowledgement. Reads that are compared with
    // each other are only acknowledged; their caller stores the agreed one.
    enum class Storing { Always, WhenChecksumMatches, Never };

    // Cuts the link's receive buffer to the reply, the most the exchange ever awaits.
    explicit DumpRun(serial::SerialLink& link, QObject* parent = nullptr);

    // Longest wait for each token and for the reply; zero waits until the link closes.
    void setWaitLimit(std::chrono::milliseconds limit) { waitTimer_.setInterval(limit); }

    // Starts the exchange; the image goes to `imagePath` as `storing` says. finished() follows
    // exactly once.
    void start(const QString& imagePath, Storing storing = Storing::Always);
    bool running() const { return running_; }
    // What the current wait is for, as a user reads it: the token in quotes or the reply.
    QString awaited() const;
    const dump::DumpProtocol& protocol() const { return protocol_; }
    // What arrived since the current wait began.
    const WaitArrivals& arrivedInWait() const { return result_.arrived; }

signals:
    void finished(const tessaly::dump::DumpRun::Result& result);
    // Received bytes moved the exchange on (a new stage, or more of the reply).
    void progressed();
    // A wait for the box began: the first, or the next stage's. Bytes that do not move the
    // exchange on, noise for instance, begin none.
    void waitBegan();

private:
    void readWaiting();
    void waitExpired();
    void beginWait();
    void complete();
    void acknowledge(Outcome outcome);
    void finish(Outcome outcome, const QString& detail = {});

    serial::SerialLink& link_;
    dump::DumpProtocol protocol_;
    QTimer waitTimer_;
    QString imagePath_;
    Storing storing_ = Storing::Always;
    Result result_;
    bool running_ = false;
    quint64 runNumber_ = 0;
    // The outcome to report once the acknowledgement under way has left or failed.
    std::optional<Outcome> acknowledging_;
};

}  // namespace tessaly::dump
