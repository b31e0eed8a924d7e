// The workspace on a ledger on a server: other programs write the same books,
// and their commits are announced on the connection's socket. The shown book is
// read again when one arrives (no polling), keeping the current row.
#include "forms/Unit1.h"

#include "forms/fhbd.h"
#include "forms/jhbd.h"
#include "forms/khlx.h"
#include "forms/lb.h"
#include "forms/roster.h"
#include "forms/zgjh.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "widgets/gridmodel.h"
#include "widgets/guard.h"

#include <QScrollBar>
#include <QSocketNotifier>
#include <QTableView>
#include <QTimer>

namespace {

// While a row is being entered the book is not read under it; this long after, again.
constexpr int kRetryMs = 400;
// A dropped connection is tried again this often, without a word until it is back.
constexpr int kReconnectMs = 2000;

} // namespace

void TForm1::watchServer() {
    stopWatching();
    const int socket = ado1.connected() ? ado1.notificationSocket() : -1;
    if (socket < 0)
        return;
    seenVersion_ = ado1.engine().fileVersion();
    // Scrolling reads blocks and takes in the news with them: looked at soon.
    ado1.engine().onChangedElsewhere([this] { recheckServer(); });
    watch_ = new QSocketNotifier(qintptr(socket), QSocketNotifier::Read, this);
    connect(watch_, &QSocketNotifier::activated, this, [this] { serverNotified(); });
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    retry_->setInterval(kRetryMs);
    connect(retry_, &QTimer::timeout, this, [this] { serverNotified(); });
}

void TForm1::stopWatching() noexcept {
    if (ado1.connected())
        ado1.engine().onChangedElsewhere({});
    delete watch_; // before the connection closes its socket
    watch_ = nullptr;
    delete retry_;
    retry_ = nullptr;
    if (reconnect_)
        reconnect_->stop();
}

void TForm1::serverLost(const std::exception& e) {
    stopWatching(); // a dead socket would wake this for ever
    r_.prompter.error(QString::fromStdString(tsl::errorText(e)));
    if (!reconnect_) {
        reconnect_ = new QTimer(this);
        reconnect_->setInterval(kReconnectMs);
        connect(reconnect_, &QTimer::timeout, this, [this] { tryReconnect(); });
    }
    reconnect_->start();
    tryReconnect(); // a dropped connection to a running server comes back at once
}

// Nothing unsaved is lost: a write the server did not acknowledge was never
// shown as done. The shown book is read again from the server.
void TForm1::tryReconnect() {
    if (!ado1.onServer() || !isVisible()) {
        reconnect_->stop();
        return;
    }
    const std::string book = table1.tableName().empty() ? std::string(tsl::table::customers) : table1.tableName();
    try {
        ado1.disconnect();
        ado1.connect();
        openSummed(book);
    } catch (...) {
        return; // again on the next tick
    }
    // The chooser's count of this program went with the connection too.
    if (r_.l)
        r_.l->keepServerHold();
    watchServer();
}

bool TForm1::recordDialogOpen() const {
    const QWidget* dialogs[] = {r_.khl.get(), r_.fhb.get(), r_.jhb.get(), r_.zgj.get()};
    for (const QWidget* d : dialogs)
        if (d && d->isVisible())
            return true;
    return false;
}

void TForm1::serverNotified() {
    if (!watch_ || !ado1.connected())
        return;
    std::pair<std::int64_t, std::int64_t> now;
    try {
        now = ado1.engine().fileVersion(); // takes in what arrived
    } catch (const std::exception& e) {
        serverLost(e);
        return;
    }
    if (now == seenVersion_ || !table1.isOpen())
        return;
    if (table1.pending() || recordDialogOpen()) {
        recheckServer();
        return;
    }
    seenVersion_ = now;
    guarded(r_.prompter, [this] { reloadShown(); });
}

// A notice that arrives while this program runs its own statements is read
// off the socket by them and waits in the client library: the socket stays
// quiet. The engine says so (onChangedElsewhere), and after its own writes
// this looks once more anyway.
void TForm1::recheckServer() noexcept {
    if (retry_ && !retry_->isActive())
        retry_->start();
}

void TForm1::reloadShown() {
    if (!table1.isOpen())
        return;
    const std::int64_t id = table1.rowidAt(table1.currentRow());
    const int top = grid1->verticalScrollBar()->value();
    const std::string book = table1.tableName();
    openSummed(book); // rows and status summary in one pass
    const int row = id >= 0 ? table1.rowOf(id) : -1;
    grid1->verticalScrollBar()->setValue(top);
    if (row >= 0)
        table1.moveTo(row);
    recheckServer();
}
