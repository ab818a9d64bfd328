#include "dump/DumpSession.h"

#include <algorithm>

#include "dump/ImageFile.h"
#include "serial/CommError.h"

namespace tessaly::dump {

DumpSession::DumpSession(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    run_.setWaitLimit(options_.waitLimit);
    connect(&run_, &DumpRun::finished, this, &DumpSession::readFinished);
    connect(&run_, &DumpRun::progressed, this, &DumpSession::progressed);
}

void DumpSession::start() {
    result_.started = QDateTime::currentDateTime();
    clock_.start();
    if (interrupted_) return finish(Outcome::Interrupted);
    try {
        link_.open(options_.device);
    } catch (const serial::CommError& error) {
        result_.openError = error.number();
        return finish(Outcome::PortNotOpened, error.reason());
    }
    // A device that failed while it was set up is closed again already.
    if (!link_.isOpen())
        return finish(Outcome::PortNotOpened, QStringLiteral("the device failed as it was opened"));
    emit portOpened();
    startRead();
}

void DumpSession::interrupt() {
    interrupted_ = true;
    // The run sees the closed port as a cancel, exactly as when the user presses Close.
    if (run_.running())
        link_.close();
    else if (result_.started.isValid() && !storing_)
        finish(Outcome::Interrupted);
}

void DumpSession::startRead() {
    ++result_.reads;
    // The link may have gone while the last read was acknowledged: a read on it would only wait.
    if (!link_.isOpen()) {
        DumpRun::Result lost;
        lost.outcome = DumpRun::Outcome::LinkLost;
        lost.detail = result_.read.acknowledgementFailure;
        return keepUnverified(lost);
    }
    DumpRun::Storing storing = DumpRun::Storing::Never;
    if (!options_.verify)
        storing = readsLeft() ? DumpRun::Storing::WhenChecksumMatches : DumpRun::Storing::Always;
    run_.start(options_.imagePath, storing);
    emit progressed();
}

void DumpSession::readFinished(const DumpRun::Result& read) {
    if (read.reply) result_.read = read;
    result_.arrived = read.arrived;
    // An image stored before the interruption is reported as what it is.
    if (interrupted_ && !read.stored.stored()) return finish(Outcome::Interrupted);
    switch (read.outcome) {
        case DumpRun::Outcome::Cancelled:
            return finish(Outcome::Interrupted);
        case DumpRun::Outcome::TimedOut:
        case DumpRun::Outcome::LinkLost:
            return keepUnverified(read);
        case DumpRun::Outcome::WriteFailed:
            return finish(Outcome::WriteFailed, read.detail);
        case DumpRun::Outcome::Saved:
        case DumpRun::Outcome::ChecksumMismatch:
            break;
    }
    if (options_.verify) return compareRead(read);
    if (read.outcome == DumpRun::Outcome::ChecksumMismatch && !read.stored.stored()) {
        candidates_ = {read};
        emit readingAgain(result_.reads, ReadAgain::ChecksumMismatch);
        return startRead();
    }
    finish(read.outcome == DumpRun::Outcome::Saved ? Outcome::Saved : Outcome::ChecksumMismatch);
}

void DumpSession::compareRead(const DumpRun::Result& read) {
    if (read.outcome == DumpRun::Outcome::Saved) {
        for (const DumpRun::Result& earlier : candidates_)
            if (earlier.reply->data() == read.reply->data())
                return storeAndFinish(Outcome::Saved, read);
        candidates_.append(read);
    } else {
        mismatchedReads_.append(*read.reply);
    }
    if (!readsLeft()) return finishWithoutAgreement();
    // A second read is what verifying means; only a read that adds nothing is worth a word.
    if (read.outcome != DumpRun::Outcome::Saved)
        emit readingAgain(result_.reads, ReadAgain::ChecksumMismatch);
    else if (candidates_.size() > 1)
        emit readingAgain(result_.reads, ReadAgain::NoAgreement);
    startRead();
}

// A box that sends the same bytes every time with a wrong checksum is not a flaky link: its
// data or its checksum byte is wrong at the source, and re-reading will not help.
void DumpSession::finishWithoutAgreement() {
    const auto sameAsFirst = [this](const Reply& reply) {
        return reply.data() == mismatchedReads_.front().data() &&
               reply.boxChecksum() == mismatchedReads_.front().boxChecksum();
    };
    if (candidates_.empty() && mismatchedReads_.size() > 1 &&
        std::ranges::all_of(mismatchedReads_, sameAsFirst))
        return finish(
            Outcome::AgreedWithWrongChecksum,
            QString::asprintf("all %d reads agreed byte for byte, each with the "
                              "checksum byte 0x%02X where the data sum to 0x%02X",
                              result_.reads, unsigned(mismatchedReads_.front().boxChecksum()),
                              unsigned(mismatchedReads_.front().dataSum())));
    finish(Outcome::ReadsDisagree,
           QStringLiteral("no two of %1 reads agreed (%2 with a matching checksum)")
               .arg(result_.reads)
               .arg(candidates_.size()));
}

// A box may leave its "HOST - MODE" after an acknowledgement: the last good read it gave is
// then written rather than lost, but not as a verified one. Without verified reads, the only
// such read is a mismatched one a re-read was asked for.
void DumpSession::keepUnverified(const DumpRun::Result& read) {
    if (candidates_.empty())
        return finish(
            read.outcome == DumpRun::Outcome::TimedOut ? Outcome::TimedOut : Outcome::LinkLost,
            read.detail);
    const QString stopped =
        read.outcome == DumpRun::Outcome::TimedOut
            ? QStringLiteral("read %1 got no %2 in time").arg(result_.reads).arg(read.detail)
            : QStringLiteral("the link was lost in read %1: %2")
                  .arg(result_.reads)
                  .arg(read.detail);
    if (candidates_.size() > 1)
        return finish(Outcome::ReadsDisagree, QStringLiteral("no two of %1 reads agreed, then %2")
                                                  .arg(result_.reads - 1)
                                                  .arg(stopped));
    result_.detail = stopped;
    storeAndFinish(options_.verify ? Outcome::Unverified : Outcome::ChecksumMismatch,
                   candidates_.front());
}

void DumpSession::storeAndFinish(Outcome outcome, const DumpRun::Result& read) {
    result_.read = read;
    storing_ = true;
    storeImageInBackground(options_.imagePath, read.reply->data(), this,
                           [this, outcome](const StoredImage& stored) {
                               result_.read.stored = stored;
                               if (!stored.stored())
                                   return finish(Outcome::WriteFailed, stored.failure);
                               finish(outcome, result_.detail);
                           });
}

void DumpSession::finish(Outcome outcome, const QString& detail) {
    if (done_) return;
    done_ = true;
    result_.closedPortAtEnd = link_.isOpen();
    link_.close();
    result_.outcome = outcome;
    result_.detail = detail;
    result_.finished = QDateTime::currentDateTime();
    result_.milliseconds = clock_.elapsed();
    emit finished(result_);
}

}  // namespace tessaly::dump
