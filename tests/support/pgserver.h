#pragma once
#include <string>

namespace tsltest {

// A PostgreSQL server of a test program's own: a new cluster in a temporary
// folder, listening on a Unix socket there and on a free loopback port, with a
// user "tessolan" that needs no password (a user "guarded", once made, needs
// one over loopback). Run as the postgres user when the
// tests run as root (the server refuses root). Stopped and removed with the
// object. Throws std::runtime_error saying why when it cannot start.
class PgServer {
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Stops and starts the same cluster again (a server restarted mid-session).
    // An immediate stop ends every server process at once, as a crash would:
    // the next start recovers from the write-ahead log.
    void stop(bool immediate = false);
    void start();
    [[nodiscard]] bool running() const { return running_; }

    [[nodiscard]] const std::string& folder() const { return folder_; }
    [[nodiscard]] int port() const { return port_; }
    // The address of a database over the Unix socket, and over loopback TCP.
    [[nodiscard]] std::string uri(const std::string& database = "postgres") const;
    [[nodiscard]] std::string tcpUri(const std::string& database = "postgres") const;

private:
    std::string bin_;    // the server's programs
    std::string folder_; // socket, cluster and log
    int port_ = 0;
    bool running_ = false;
};

// The test program's one server, started on first use.
PgServer& sharedServer();
// An empty database of that name on the shared server (dropped first if there);
// returns its address.
std::string freshDatabase(const std::string& name);

} // namespace tsltest
