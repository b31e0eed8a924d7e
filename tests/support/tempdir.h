#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tsltest {

// A fresh temporary folder made the current directory for the object's life;
// removed afterwards with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }

    // Copies the built empty index into the folder under `name`.
    void seedIndex(const std::string& name = "run.dll") const;

private:
    std::string path_;
    std::string oldCwd_;
};

// Path of the built empty ledger index.
[[nodiscard]] std::string indexTemplate();

// A text as an SQL string literal: in single quotes, quotes inside doubled.
[[nodiscard]] std::string sqlQuote(const std::string& text);

// Runs SQL on a database file outside the program's own code (for checking and seeding).
void sqlExec(const std::string& file, const std::string& sql);
// Whole contents of a file ("" when it cannot be read); writes a file whole.
[[nodiscard]] std::string readFile(const std::string& name);
void writeFile(const std::string& name, const std::string& content);

// First column of every row of a query, NULL as "".
[[nodiscard]] std::vector<std::string> sqlColumn(const std::string& file, const std::string& sql);
// Every row of every book of a ledger file, in stored order, as "book:values"
// (quote()d, so NULL is told from "").
[[nodiscard]] std::vector<std::string> ledgerRows(const std::string& file);

// Runs `body` in a child process, which shares none of our locks; its exit
// code, or -1 when it did not exit.
template <class F>
int inChild(F body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace tsltest
