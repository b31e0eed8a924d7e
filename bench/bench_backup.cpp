// The safety net: a snapshot of a ledger, a restore, the undo of a delete that
// renumbered the whole book, each beside the same work in raw SQLite.
#include "bench/benchutil.h"

#include "books/renumber.h"
#include "storage/backup.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/schema.h"
#include "storage/undodelete.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace tslbench {

namespace {

const std::string kBook = "2";

void syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

// The backup API into a new file, synced: what a snapshot costs at the least.
void rawCopy(const std::string& from, const std::string& to) {
    fs::remove(to);
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    sqlite3_open_v2(from.c_str(), &src, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_open_v2(to.c_str(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
    const int rc = b ? sqlite3_backup_step(b, -1) : SQLITE_ERROR;
    sqlite3_backup_finish(b);
    sqlite3_close(dst);
    sqlite3_close(src);
    if (rc != SQLITE_DONE)
        throw std::runtime_error("raw copy failed");
    syncFile(to);
}

void dropSnapshots(const std::string& file) { fs::remove_all(tsl::snapshotFolder(file)); }

void snapshotProgram(benchmark::State& state, int rows) {
    const std::string& file = ledger(rows);
    for (auto _ : state) {
        dropSnapshots(file);
        record(state, Op::Snapshot, rows, true, timed([&] { (void)tsl::takeSnapshot(file, std::time(nullptr)); }));
    }
    if (tsl::listSnapshots(file).size() != 1)
        state.SkipWithError("no snapshot");
    dropSnapshots(file);
}

void snapshotRaw(benchmark::State& state, int rows) {
    const std::string& file = ledger(rows);
    for (auto _ : state)
        record(state, Op::Snapshot, rows, false, timed([&] { rawCopy(file, "raw-snapshot.mdb"); }));
    fs::remove("raw-snapshot.mdb");
}

// The ledger changed since its snapshot, so the restore keeps it first: two copies and a check.
void restoreProgram(benchmark::State& state, int rows) {
    for (auto _ : state) {
        const std::string file = workCopy(ledger(rows), "restore-work.mdb");
        dropSnapshots(file);
        const tsl::Snapshot s = tsl::takeSnapshot(file, std::time(nullptr) - 60);
        RawDb(file).exec("INSERT INTO \"1\" VALUES ('x','','','','')");
        record(state, Op::Restore, rows, true, timed([&] { (void)tsl::restoreSnapshot(file, s, std::time(nullptr)); }));
        if (RawDb(file).first("SELECT count(*) FROM \"1\" WHERE \"姓名\" = 'x'") != "0")
            state.SkipWithError("not restored");
        dropSnapshots(file);
    }
}

void restoreRaw(benchmark::State& state, int rows) {
    for (auto _ : state) {
        const std::string file = workCopy(ledger(rows), "restore-work.mdb");
        rawCopy(file, "raw-snapshot.mdb");
        record(state, Op::Restore, rows, false, timed([&] {
                   rawCopy(file, "raw-kept.mdb");
                   rawCopy("raw-snapshot.mdb", "raw-temp.mdb");
                   fs::rename("raw-temp.mdb", file);
               }));
        fs::remove("raw-snapshot.mdb");
        fs::remove("raw-kept.mdb");
    }
}

// The first row deleted and every later stamp renumbered; then put back.
void undoProgram(benchmark::State& state, int rows) {
    for (auto _ : state) {
        const std::string file = workCopy(ledger(rows), "undo-work.mdb");
        tsl::Connection conn;
        conn.setConnectionString(tsl::connectionString(file));
        conn.connect();
        tsl::Cursor c(conn);
        c.setTableName(kBook);
        c.open();
        // The workspace's delete: it reads the row and keeps the odd stamps for the undo
        // in its own renumbering pass, so that cost is the delete's, not the undo's.
        tsl::DeleteUndo undo{tsl::books::numberedStamp, tsl::books::numberedStampSql};
        c.first();
        tsl::books::deleteRow(c, {}, &undo);
        undo.arm();
        const double seconds = timed([&] { (void)undo.undo(conn); });
        record(state, Op::UndoDelete, rows, true, seconds);
        c.close();
        conn.disconnect();
        if (RawDb(file).first("SELECT \"日期\" FROM \"2\" ORDER BY rowid DESC LIMIT 1") != stampOf(rows))
            state.SkipWithError("not undone");
    }
}

void undoRaw(benchmark::State& state, int rows) {
    for (auto _ : state) {
        const std::string file = workCopy(ledger(rows), "undo-work.mdb");
        RawDb db(file);
        db.exec("BEGIN IMMEDIATE; DELETE FROM \"2\" WHERE rowid = 1;"
                "UPDATE \"2\" SET \"日期\" = '(' || (rowid - 1) || substr(\"日期\", instr(\"日期\", ')')); COMMIT");
        const std::vector<std::string> row = shipmentRow(1);
        record(state, Op::UndoDelete, rows, false, timed([&] {
                   db.exec("BEGIN IMMEDIATE");
                   sqlite3_stmt* ins = db.prepare("INSERT INTO \"2\" (rowid, \"日期\", \"客户姓名\", \"毛衫种类\", \"数量\", "
                                                  "\"发货地点\", \"邮编\", \"总金额\") VALUES (1, ?, ?, ?, ?, ?, ?, ?)");
                   for (int i = 0; i < 7; ++i)
                       sqlite3_bind_text(ins, i + 1, row[std::size_t(i)].c_str(), -1, SQLITE_TRANSIENT);
                   db.step(ins);
                   sqlite3_finalize(ins);
                   db.exec("UPDATE \"2\" SET \"日期\" = '(' || rowid || substr(\"日期\", instr(\"日期\", ')')) "
                           "WHERE rowid > 1");
                   db.exec("COMMIT");
               }));
    }
}

void printDisk() {
    const std::string& file = ledger(kSizes[2]);
    dropSnapshots(file);
    const tsl::Snapshot s = tsl::takeSnapshot(file, std::time(nullptr));
    std::printf("snapshot of the %d-row ledger (shipments and purchases of %d rows each): %.1f MiB, the ledger "
                "%.1f MiB\n",
                kSizes[2], kSizes[2], double(fs::file_size(s.path)) / (1 << 20), double(fs::file_size(file)) / (1 << 20));
    dropSnapshots(file);
}

} // namespace

void registerBackup(int rows) {
    const int once = rows >= 100'000 ? 1 : 0;
    addPair("backup", "snapshot", "program", snapshotProgram, snapshotRaw, rows, once);
    addPair("backup", "restore", "program", restoreProgram, restoreRaw, rows, once);
    addPair("backup", "undo-delete", "program", undoProgram, undoRaw, rows, once);
    if (rows == kSizes[2])
        addNote(printDisk);
}

} // namespace tslbench
