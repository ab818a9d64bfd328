#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <chrono>

#include "dump/DumpRun.h"
#include "serial/SerialLink.h"

namespace tessaly::dump {

// One box on one port: opens the link, reads the box as often as asked, stores one image and
// closes the link again. Both front ends run it: the command line one session a box, all on one
// event loop, each with its own link and run; the window one read at a time, without a wait limit.
class DumpSession : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Saved,             // image written, checksum matched (and two reads agreed, if asked)
        ChecksumMismatch,  // image written as received; every read had a wrong checksum
        ReadsDisagree,     // no two reads agreed; nothing written
        // every read was the same, byte and checksum byte, and the checksum wrong; nothing written
        AgreedWithWrongChecksum,
        Unverified,     // the one good read was written; the box stopped answering after it
        TimedOut,       // the box did not answer within the wait limit; nothing written
        LinkLost,       // the device went away or failed; nothing written
        WriteFailed,    // the image could not be written
        PortNotOpened,  // the port could not be opened
        Interrupted,    // stopped from outside; no acknowledgement, nothing written
    };
    Q_ENUM(Outcome)

    // Why a read is followed by another one.
    enum class ReadAgain {
        ChecksumMismatch,  // the read was complete, its checksum wrong
        NoAgreement,       // verified reads: the read agrees with none before it
    };

    struct Options {
        QString device;     // what the link opens
        QString imagePath;  // where the image goes
        // Two reads must agree byte for byte, each with a matching checksum.
        bool verify = false;
        // Reads at most: the verified reads, or re-reads after a checksum mismatch otherwise.
        int reads = 1;
        std::chrono::milliseconds waitLimit{0};  // per answer of the box; zero waits forever
    };

    struct Result {
        Outcome outcome = Outcome::Interrupted;
        QString detail;        // what went wrong, in the platform's or the box's words
        int openError = 0;     // serial::CommError number when the port could not be opened
        DumpRun::Result read;  // the read that was written, or else the last one with a reply
        int reads = 0;         // reads started
        WaitArrivals arrived;  // during the last wait, which need not be `read`'s
        bool closedPortAtEnd = false;  // the port held until the session closed it at its end
        QDateTime started;
        QDateTime finished;
        qint64 milliseconds = 0;
    };

    // Descriptors one session holds at most: the port and its lock file, the claim on the device
    // (the device once more and its number's lock file), and while the image is stored, the
    // directory's lock and the file.
    static constexpr int kDescriptorsAtMost = 6;

    explicit DumpSession(Options options, QObject* parent = nullptr);

    // Opens the port and starts the first read. finished() follows exactly once.
    void start();
    // Ends the session the way closing the port does: no acknowledgement, nothing written. A reply
    // that is complete already is still stored, and the result says so.
    void interrupt();
    bool portOpen() const { return link_.isOpen(); }

    // The read under way (1 for the first) and its run.
    int readNumber() const { return result_.reads; }
    const DumpRun& run() const { return run_; }

signals:
    // The port is open and nothing has been sent yet.
    void portOpened();
    void finished(const tessaly::dump::DumpSession::Result& result);
    // A read started or the exchange moved on.
    void progressed();
    // Read `read` ended without an image to keep, and the next read starts.
    void readingAgain(int read, tessaly::dump::DumpSession::ReadAgain why);

private:
    void startRead();
    void readFinished(const DumpRun::Result& read);
    void compareRead(const DumpRun::Result& read);
    void finishWithoutAgreement();
    void keepUnverified(const DumpRun::Result& read);
    void storeAndFinish(Outcome outcome, const DumpRun::Result& read);
    void finish(Outcome outcome, const QString& detail = {});
    bool readsLeft() const { return result_.reads < options_.reads; }

    const Options options_;
    serial::SerialLink link_;
    DumpRun run_{link_};
    Result result_;
    QElapsedTimer clock_;
    // Complete reads with a matching checksum (verified reads), or the last mismatched read that
    // was not written because another read followed.
    QList<DumpRun::Result> candidates_;
    QList<Reply> mismatchedReads_;  // verified reads whose checksum did not match
    bool interrupted_ = false;
    bool storing_ = false;  // the agreed read is being stored; an interruption waits for it
    bool done_ = false;
};

}  // namespace tessaly::dump
