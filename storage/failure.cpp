#include "storage/failure.h"

#include <sqlite3.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string_view>
#include <unistd.h>

namespace tsl {

namespace {

std::string quoted(const std::string& file) { return "\"" + file + "\""; }

// A database's path as the user knows it: relative to the current folder
// when it lies there, as SQLite gives it otherwise.
std::string shownName(const char* path) {
    if (!path || !*path)
        return {};
    const std::string p = path;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) {
        const std::string base = std::string(cwd) + "/";
        if (p.size() > base.size() && p.compare(0, base.size(), base) == 0)
            return p.substr(base.size());
    }
    return p;
}

} // namespace

Error::Error(Failure kind, const std::string& file, const std::string& detail)
    : std::runtime_error(failureText(kind, file, detail)), kind_(kind), file_(file) {}

Failure failureOfErrno(int err) noexcept {
    switch (err) {
    case ENOSPC:
    case EDQUOT: return Failure::DiskFull;
    case EIO: return Failure::IoError;
    case EROFS: return Failure::ReadOnly;
    case EACCES:
    case EPERM: return Failure::NoAccess;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return Failure::Locked;
    case ENOENT:
    case ENOTDIR: return Failure::MissingFile;
    case ENAMETOOLONG: return Failure::NameTooLong;
    case EEXIST:
    case ENOTEMPTY: return Failure::Exists;
    default: return Failure::Other;
    }
}

Failure failureOfSqlite(int code, int systemErrno) noexcept {
    switch (code & 0xff) {
    case SQLITE_FULL: return Failure::DiskFull;
    case SQLITE_IOERR: return Failure::IoError;
    case SQLITE_READONLY: return Failure::ReadOnly;
    case SQLITE_PERM: return Failure::NoAccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return Failure::Locked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return Failure::Damaged;
    case SQLITE_CANTOPEN: {
        // SQLite says only that it could not open a file; the system says why.
        const Failure why = failureOfErrno(systemErrno);
        return why == Failure::Other || why == Failure::Exists ? Failure::MissingFile : why;
    }
    default: return Failure::Other;
    }
}

std::string failureText(Failure kind, const std::string& file, const std::string& detail) {
    const bool named = !file.empty();
    const std::string f = quoted(file);
    switch (kind) {
    case Failure::DiskFull: return named ? "磁盘已满,无法写入文件" + f + "!" : "磁盘已满!";
    case Failure::IoError: return named ? "读写文件" + f + "时磁盘出错!" : "读写磁盘时出错!";
    case Failure::ReadOnly:
        return named ? "文件" + f + "或它所在的文件夹是只读的,无法写入!" : "文件或文件夹是只读的,无法写入!";
    case Failure::NoAccess: return named ? "没有权限读写文件" + f + "!" : "没有权限读写文件!";
    case Failure::Locked: return named ? "文件" + f + "正在被另一个程序使用!" : "文件正在被另一个程序使用!";
    case Failure::Damaged:
        return named ? "文件" + f + "已经损坏,或者不是本程序的文件!" : "文件已经损坏,或者不是本程序的文件!";
    case Failure::MissingTable: {
        const std::string table = detail.empty() ? std::string() : "\"" + detail + "\"";
        return named ? "文件" + f + "中找不到表" + table + "!" : "找不到表" + table + "!";
    }
    case Failure::MissingFile: return named ? "找不到文件" + f + "!" : "找不到文件!";
    case Failure::NameTooLong: return named ? "文件名" + f + "太长!" : "文件名太长!";
    case Failure::Exists: return named ? "文件" + f + "已经存在!" : "文件已经存在!";
    case Failure::Foreign:
        return named ? f + "是一个链接或不是本程序建立的文件,程序不会使用它!" : "程序的文件夹中有不是本程序建立的文件或链接!";
    case Failure::Disconnected: return "与服务器的连接已断开!";
    case Failure::Other: break;
    }
    if (!named)
        return detail.empty() ? std::string("读写文件时出错!") : detail;
    return detail.empty() ? "读写文件" + f + "时出错!" : "读写文件" + f + "时出错: " + detail;
}

Error sqliteError(sqlite3* db, const std::string& file, int code) {
    if (!db)
        return Error(Failure::Other, file, "内存不足");
    if (code == 0)
        code = sqlite3_extended_errcode(db);
    const std::string name = file.empty() ? shownName(sqlite3_db_filename(db, "main")) : file;
    const std::string message = code == sqlite3_extended_errcode(db) ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    Failure kind = failureOfSqlite(code, sqlite3_system_errno(db));
    if (kind == Failure::Other && (code & 0xff) == SQLITE_ERROR) {
        // SQLite has no code of its own for a missing table: its words are all there is.
        static constexpr std::string_view noTable = "no such table: ";
        if (message.compare(0, noTable.size(), noTable) == 0) {
            std::string table = message.substr(noTable.size());
            if (table.compare(0, 5, "main.") == 0)
                table.erase(0, 5);
            return Error(Failure::MissingTable, name, table);
        }
    }
    if ((code & 0xff) == SQLITE_NOMEM)
        return Error(Failure::Other, name, "内存不足");
    return Error(kind, name, kind == Failure::Other ? message : std::string());
}

Error errnoError(int err, const std::string& file) {
    const Failure kind = failureOfErrno(err);
    return Error(kind, file, kind == Failure::Other ? std::string(std::strerror(err)) : std::string());
}

std::string sqliteText(sqlite3* db, const std::string& file, int code) { return sqliteError(db, file, code).what(); }

std::string errnoText(int err, const std::string& file) { return errnoError(err, file).what(); }

std::string errorText(const std::exception& e) {
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "内存不足!";
    return e.what();
}

} // namespace tsl
