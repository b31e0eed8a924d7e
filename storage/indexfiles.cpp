#include "storage/indexfiles.h"

#include "storage/fileops.h"
#include "storage/prepared.h"
#include "storage/schema.h"

#include <sqlite3.h>

#include <cstdio>

namespace tsl {

std::optional<std::vector<std::string>> ledgerNamesIn(const std::string& indexFile) noexcept {
    try {
        DbCloser h;
        if (sqlite3_open_v2(indexFile.c_str(), &h.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            return std::nullopt;
        Prepared q(h.db, "SELECT " + quoteIdent(field::ledgerName) + " FROM " + quoteIdent(table::ledgers) +
                              " ORDER BY rowid");
        std::vector<std::string> names;
        while (q.step())
            names.push_back(q.text(0));
        return names;
    } catch (...) {
        return std::nullopt;
    }
}

void renameIndex(const std::string& from, const std::string& to) {
    renameNoReplace(from, to);
    syncFolder(".");
}

bool tryRenameIndex(const std::string& from, const std::string& to) noexcept {
    if (!tryRenameNoReplace(from, to))
        return false;
    syncFolder(".");
    return true;
}

std::string setAside(const std::string& file, std::time_t now) noexcept {
    try {
        std::tm tm{};
        localtime_r(&now, &tm);
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
        const std::string base = file + "." + stamp;
        std::string aside = base;
        for (int n = 2; n < 1000; ++n) {
            if (tryRenameNoReplace(file, aside)) {
                syncFolder(".");
                return aside;
            }
            if (!fileExists(aside))
                return {};
            aside = base + "-" + std::to_string(n);
        }
    } catch (...) {
    }
    return {};
}

} // namespace tsl
