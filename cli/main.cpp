// tessolan-export: a ledger's book or one name's statement written to a PDF,
// xlsx or csv file from a shell. The ledger is opened read-only; a ledger on
// a server is read in one read-only transaction into a private copy, and the
// export made from that.
#include "export/ledger.h"
#include "export/statement.h"
#include "export/table.h"
#include "storage/error.h"
#include "storage/fileops.h"
#include "storage/ledgermove.h"
#include "storage/period.h"
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "storage/stamp.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <QGuiApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "用法: tessolan-export 帐本.mdb --book 2|3|4|1 [--name 名字 [--from 年-月-日] [--to 年-月-日]]\n"
    "                       --pdf|--xlsx|--csv 输出文件\n"
    "      tessolan-export --server 服务器地址 帐本名称 --book ... (同上)\n"
    "  --server 从服务器上的帐本导出 (只读), 地址如 postgresql://主机/数据库\n"
    "  --book   1 客户, 2 发货, 3 进货, 4 职工交货\n"
    "  --name   只导出这个客户, 供货单位或职工的行 (对帐单), 带合计; PDF 必须给出\n"
    "  --from, --to  对帐单的期间, 如 --from 2026-12-01 --to 2026-12-31 (含这两天);\n"
    "           可只给一头, 都不给是整个帐本\n";

// Where our messages go: the standard error the shell gave us. The libraries'
// own chatter (in English, about temporary files) goes nowhere.
FILE* messages = stderr;

void quietLibraries() {
    const int keep = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    FILE* f = keep >= 0 ? ::fdopen(keep, "w") : nullptr;
    if (!f || null < 0 || ::dup2(null, 2) < 0) {
        if (null >= 0)
            ::close(null);
        return;
    }
    ::close(null);
    std::setvbuf(f, nullptr, _IOLBF, 0);
    messages = f;
}

struct Usage {
    std::string message;
};

int fail(const std::string& message, int code = 1) {
    std::fprintf(messages, "tessolan-export: %s\n", message.c_str());
    return code;
}

// What a written file left out; the file is there all the same.
int tell(const std::vector<std::string>& notes) {
    for (const auto& n : notes)
        std::fprintf(messages, "tessolan-export: %s\n", n.c_str());
    return 0;
}

struct Args {
    std::string ledger;
    std::optional<std::string> server; // the ledger is the name of one on this server
    std::string book;
    std::optional<std::string> name;
    std::string format; // pdf, xlsx, csv
    std::string out;
    tsl::Period period;
};

tsl::Date dateArg(const std::string& option, const std::string& text) {
    const auto d = tsl::readIsoDate(text);
    if (!d)
        throw Usage{option + " 的日期 \"" + text + "\" 不对: 要写成 年-月-日, 如 2026-12-01."};
    return *d;
}

// The desktop's short date pattern, as the program's clock gives it to the
// stamps: the first a stamp's date is read with.
std::string shortDatePattern() {
    if (tsl::timeLocaleIsPosix())
        return std::string(tsl::kFallbackDatePattern);
    std::string p = tsl::patternFromQtDateFormat(QLocale::system().dateFormat(QLocale::ShortFormat).toStdString());
    return p.empty() ? std::string(tsl::kFallbackDatePattern) : p;
}

Args parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw Usage{arg + " 后面缺少值."};
            return argv[++i];
        };
        if (arg == "--book")
            a.book = value();
        else if (arg == "--server")
            a.server = value();
        else if (arg == "--name")
            a.name = value();
        else if (arg == "--from")
            a.period.from = dateArg(arg, value());
        else if (arg == "--to")
            a.period.to = dateArg(arg, value());
        else if (arg == "--pdf" || arg == "--xlsx" || arg == "--csv") {
            if (!a.format.empty())
                throw Usage{"只能给出 --pdf, --xlsx, --csv 之一."};
            a.format = arg.substr(2);
            a.out = value();
        } else if (arg.size() > 1 && arg[0] == '-')
            throw Usage{"不认识的选项 \"" + arg + "\"."};
        else if (a.ledger.empty())
            a.ledger = arg;
        else
            throw Usage{"多余的参数 \"" + arg + "\"."};
    }
    if (a.ledger.empty())
        throw Usage{a.server ? "缺少服务器上的帐本名称." : "缺少帐本文件."};
    if (a.book.empty())
        throw Usage{"缺少 --book."};
    if (a.format.empty())
        throw Usage{"缺少 --pdf, --xlsx 或 --csv 输出文件."};
    if (!a.period.whole() && !a.name)
        throw Usage{"--from 和 --to 只用于对帐单: 要同时给出 --name."};
    if (a.period.from && a.period.to && *a.period.to < *a.period.from)
        throw Usage{"--from 的日期晚于 --to 的日期."};
    return a;
}

// A server ledger's rows in a file of a folder only this user can read,
// removed with the object.
class ServerCopy {
public:
    ServerCopy(const std::string& address, const std::string& ledger) {
        const char* tmp = std::getenv("TMPDIR");
        folder_ = tsl::makeTempFolder(std::string(tmp && *tmp ? tmp : "/tmp") + "/tessolan-export-");
        ::chmod(folder_.c_str(), 0700);
        try {
            fill(address, ledger);
        } catch (...) {
            removeAll();
            throw;
        }
    }
    ~ServerCopy() { removeAll(); }
    ServerCopy(const ServerCopy&) = delete;
    ServerCopy& operator=(const ServerCopy&) = delete;
    [[nodiscard]] std::string file() const { return folder_ + "/ledger.mdb"; }

private:
    void fill(const std::string& address, const std::string& ledger) {
        // An empty ledger to copy the rows into.
        sqlite3* db = nullptr;
        const std::string empty = folder_ + "/empty.mdb";
        const bool made = sqlite3_open(empty.c_str(), &db) == SQLITE_OK &&
                          sqlite3_exec(db, tsl::schemaSql().c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        if (!made)
            throw tsl::Error(tsl::Failure::IoError, empty);
        tsl::pg::Session s(address);
        // Nothing this session runs can change the server.
        s.exec("SET default_transaction_read_only = on");
        tsl::download(s, ledger, folder_, "ledger", empty);
    }
    void removeAll() noexcept {
        try {
            for (const std::string& n : tsl::folderEntries(folder_))
                (void)::unlink((folder_ + "/" + n).c_str());
        } catch (...) {
        }
        (void)::rmdir(folder_.c_str());
    }

    std::string folder_;
};

int run(int argc, char** argv) {
    const Args a = parse(argc, argv);
    const tsl::out::Book* book = a.book.size() == 1 ? tsl::out::findBook(a.book[0] - '0') : nullptr;
    if (!book)
        return fail("没有帐簿 \"" + a.book + "\": --book 只能是 1, 2, 3 或 4.");
    if (a.name && book->party.empty())
        return fail("客户帐簿不结帐: --name 只用于帐簿 2, 3, 4.");
    if (a.name && a.name->empty())
        return fail("结帐条件必须是某个人的姓名或某个厂名!");
    if (a.format == "pdf" && !a.name)
        return fail("对帐单 PDF 要用 --name 给出结帐的人或厂家.");

    std::optional<ServerCopy> copy;
    if (a.server)
        copy.emplace(*a.server, a.ledger);
    tsl::out::LedgerFile ledger(copy ? copy->file() : a.ledger);
    const std::string ledgerName = copy ? a.ledger : ledger.name();
    if (a.name) {
        const tsl::SystemClock clock(shortDatePattern());
        const tsl::StampDateReader dates(tsl::stampDatePatterns(clock.shortDatePattern()), clock.today().year);
        const tsl::out::Statement s = tsl::out::readStatement(ledger.engine(), ledgerName, *book, *a.name,
                                                              tsl::out::todayText(), a.period, &dates);
        if (a.format == "pdf") {
            // Painting text needs the font database; no window is ever shown.
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            QGuiApplication app(argc, argv);
            tsl::out::writeStatementPdf(a.out, s);
        } else if (a.format == "xlsx") {
            tsl::out::writeXlsx(a.out, s.name, tsl::out::sheetOf(s));
        } else {
            tsl::out::writeCsv(a.out, tsl::out::sheetOf(s));
        }
        return tell(tsl::out::takeExportNotes());
    }
    tsl::out::BookRows rows(ledger.engine(), *book);
    const tsl::out::Columns cols = book->columns();
    if (a.format == "xlsx")
        tsl::out::writeXlsx(a.out, std::string(book->label), cols, rows);
    else
        tsl::out::writeCsv(a.out, cols, rows);
    return tell(tsl::out::takeExportNotes());
}

} // namespace

int main(int argc, char** argv) {
    // Only our one-line messages reach the shell, not the toolkit's chatter.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    quietLibraries();
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return run(argc, argv);
    } catch (const Usage& u) {
        fail(u.message, 2);
        std::fputs(kUsage, messages);
        return 2;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
