#include "serial/InProcessLink.h"

#include <QHash>
#include <utility>

#include "serial/CommError.h"

namespace tessaly::serial {

namespace {

// Every link lives on the one thread that runs the event loop, so a plain table will do.
QHash<QString, InProcessLink*>& linksByName() {
    static QHash<QString, InProcessLink*> links;
    return links;
}

const QString kBoxGone = QStringLiteral("the device is no longer available (the box hung up)");

}  // namespace

InProcessLink::InProcessLink(QObject* parent) : QObject(parent) {
    static int created = 0;
    name_ = QStringLiteral("SIM%1").arg(++created);
    linksByName().insert(name_, this);
}

InProcessLink::~InProcessLink() {
    linksByName().remove(name_);
    // The host hears of it later, as from a wire that was pulled, not inside this destructor.
    if (const QPointer<InProcessDevice> host = host_) {
        QMetaObject::invokeMethod(
            host,
            [host] {
                if (host->isOpen()) emit host->failed(kBoxGone);
            },
            Qt::QueuedConnection);
    }
}

InProcessLink* InProcessLink::named(const QString& name) { return linksByName().value(name); }

void InProcessLink::send(const QByteArray& bytes) {
    if (hungUp_ || hangUpPending_ || bytes.isEmpty()) return;
    toHost_ += bytes;
    scheduleToHost();
}

QByteArray InProcessLink::takeReceived() { return std::exchange(fromHost_, {}); }

void InProcessLink::hangUp() {
    if (hungUp_) return;
    hangUpPending_ = true;
    scheduleToHost();
}

void InProcessLink::scheduleToHost() {
    if (std::exchange(toHostScheduled_, true)) return;
    QMetaObject::invokeMethod(this, &InProcessLink::deliverToHost, Qt::QueuedConnection);
}

void InProcessLink::deliverToHost() {
    toHostScheduled_ = false;
    // The host takes the bytes through readAll() while it is told.
    if (host_ && !toHost_.isEmpty()) emit host_->readyRead();
    if (!hangUpPending_) return;
    // Hanging up discards what a closed host has not been given.
    toHost_.clear();
    hangUpPending_ = false;
    hungUp_ = true;
    if (host_) emit host_->failed(kBoxGone);
}

void InProcessLink::scheduleToBox() {
    if (std::exchange(toBoxScheduled_, true)) return;
    QMetaObject::invokeMethod(this, &InProcessLink::deliverToBox, Qt::QueuedConnection);
}

void InProcessLink::deliverToBox() {
    toBoxScheduled_ = false;
    if (!fromHost_.isEmpty()) emit received();
}

void InProcessDevice::open(const QString& name, const LineSettings&) {
    InProcessLink* link = InProcessLink::named(name);
    if (!link) throw CommError(CommError::NoSuchPort, name, QStringLiteral("no such device"));
    if (link->host_)
        throw CommError(CommError::PortInUse, name, QStringLiteral("the device is in use"));
    if (link->hungUp_) throw CommError(CommError::OpenFailed, name, kBoxGone);
    link_ = link;
    link->host_ = this;
    open_ = true;
    // What the box sent while the port was closed waits, as on a terminal.
    if (!link->toHost_.isEmpty()) link->scheduleToHost();
}

void InProcessDevice::discardInput() {
    if (link_) link_->toHost_.clear();
}

QByteArray InProcessDevice::readAll() {
    return link_ ? std::exchange(link_->toHost_, {}) : QByteArray();
}

void InProcessDevice::write(const QByteArray& bytes) {
    if (!link_ || link_->hungUp_) return;
    link_->fromHost_ += bytes;
    link_->scheduleToBox();
}

void InProcessDevice::close() {
    if (link_ && link_->host_ == this) link_->host_ = nullptr;
    link_ = nullptr;
    open_ = false;
}

}  // namespace tessaly::serial
