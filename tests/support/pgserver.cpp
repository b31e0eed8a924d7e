#include "tests/support/pgserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <libpq-fe.h>

namespace fs = std::filesystem;

namespace tsltest {
namespace {

[[noreturn]] void fail(const std::string& why) { throw std::runtime_error("PostgreSQL test server: " + why); }

// The newest installed server's programs (Debian keeps them per major version).
std::string serverBin() {
    std::string best;
    int bestVersion = -1;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string v = e.path().filename().string();
        if (v.empty() || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (fs::exists(e.path() / "bin" / "pg_ctl") && std::stoi(v) > bestVersion) {
            bestVersion = std::stoi(v);
            best = (e.path() / "bin").string();
        }
    }
    if (best.empty())
        fail("no server programs under /usr/lib/postgresql (is the postgresql package installed? "
             "scripts/install-deps.sh installs it)");
    return best;
}

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        fail("no free loopback port");
    ::close(s);
    return ntohs(a.sin_port);
}

// Runs a program (as the postgres user when we are root) and returns its exit
// status; what it printed goes to `output`.
int run(std::vector<std::string> argv, std::string& output) {
    if (::geteuid() == 0)
        argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        fail("no pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    output.clear();
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0)
            output.append(buf, std::size_t(n));
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

PgServer::PgServer() : bin_(serverBin()) {
    std::string tmpl = (fs::temp_directory_path() / "tslpg-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        fail("cannot make a temporary folder");
    folder_ = tmpl;
    if (::geteuid() == 0) {
        const passwd* pg = ::getpwnam("postgres");
        if (!pg || ::chown(folder_.c_str(), pg->pw_uid, pg->pw_gid) != 0) {
            fs::remove_all(folder_);
            fail("no postgres user to run the server as (root may not)");
        }
    }
    std::string out;
    if (run({bin_ + "/initdb", "-D", folder_ + "/data", "-U", "tessolan", "--auth=trust", "-E", "UTF8",
             "--locale=C.UTF-8", "--no-sync"},
            out) != 0) {
        fs::remove_all(folder_);
        fail("initdb failed:\n" + out);
    }
    // "guarded" must give its password over loopback (tests of a refused login);
    // everyone else is trusted.
    {
        const std::string hba = folder_ + "/data/pg_hba.conf";
        std::ifstream in(hba);
        std::stringstream rest;
        rest << in.rdbuf();
        in.close();
        std::ofstream out(hba, std::ios::trunc);
        out << "host all guarded 127.0.0.1/32 scram-sha-256\n" << rest.str();
    }
    try {
        start();
    } catch (...) {
        fs::remove_all(folder_);
        throw;
    }
}

PgServer::~PgServer() {
    try {
        stop();
    } catch (...) {
    }
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void PgServer::start() {
    if (running_)
        return;
    if (port_ == 0)
        port_ = freePort(); // kept over a restart: clients reconnect to the same address
    std::string out;
    const std::string options = "-k " + folder_ + " -p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1";
    if (run({bin_ + "/pg_ctl", "-D", folder_ + "/data", "-l", folder_ + "/server.log", "-o", options, "-w", "-t", "60",
             "start"},
            out) != 0) {
        std::ifstream log(folder_ + "/server.log");
        std::stringstream text;
        text << log.rdbuf();
        fail("the server did not start:\n" + out + text.str());
    }
    running_ = true;
}

void PgServer::stop(bool immediate) {
    if (!running_)
        return;
    std::string out;
    if (run({bin_ + "/pg_ctl", "-D", folder_ + "/data", "-m", immediate ? "immediate" : "fast", "-w", "-t", "60",
             "stop"},
            out) != 0)
        fail("the server did not stop:\n" + out);
    running_ = false;
}

std::string PgServer::uri(const std::string& database) const {
    return "postgresql://tessolan@/" + database + "?host=" + folder_ + "&port=" + std::to_string(port_);
}

std::string PgServer::tcpUri(const std::string& database) const {
    return "postgresql://tessolan@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

PgServer& sharedServer() {
    static PgServer pg;
    return pg;
}

std::string freshDatabase(const std::string& name) {
    PGconn* c = PQconnectdb(sharedServer().uri().c_str());
    std::string failure;
    if (PQstatus(c) != CONNECTION_OK) {
        failure = PQerrorMessage(c);
    } else {
        char* quoted = PQescapeIdentifier(c, name.c_str(), name.size());
        const std::string q = quoted ? quoted : "";
        PQfreemem(quoted);
        for (const std::string& sql : {"DROP DATABASE IF EXISTS " + q + " WITH (FORCE)", "CREATE DATABASE " + q}) {
            PGresult* r = PQexec(c, sql.c_str());
            if (PQresultStatus(r) != PGRES_COMMAND_OK && failure.empty())
                failure = PQresultErrorMessage(r);
            PQclear(r);
        }
    }
    PQfinish(c);
    if (!failure.empty())
        throw std::runtime_error("cannot make database " + name + ": " + failure);
    return sharedServer().uri(name);
}

} // namespace tsltest
