// The power-cut model's own check: a name the program's code makes (a temporary
// file by open(O_CREAT), a folder by mkdir, a rename) is lost by some cuts while its
// folder is not synced, and kept by every cut once it is.
#include "storage/fileops.h"
#include "tests/support/powercutvfs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace {

// Runs `work` in a child whose power goes right after it; whether `name` is there then.
bool survives(const fs::path& dir, unsigned seed, const std::function<std::string()>& work, bool sync) {
    const fs::path stash = dir / "stash";
    fs::remove_all(stash);
    fs::create_directory(stash);
    const fs::path pipeFile = dir / "made";
    const pid_t pid = fork();
    if (pid == 0) {
        tsltest::PowerCut::start(stash.string(), 1L << 40, seed);
        const std::string made = work();
        FILE* f = std::fopen(pipeFile.c_str(), "w"); // the model does not watch stdio
        std::fputs(made.c_str(), f);
        std::fclose(f);
        if (sync)
            tsl::syncFolder((dir / "work").string());
        tsltest::PowerCut::cutNow();
        _exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != tsltest::PowerCut::kExitCode) {
        std::fprintf(stderr, "powercutmodel: FAIL: the child ended without a power cut\n");
        std::exit(1);
    }
    std::string made;
    if (FILE* f = std::fopen(pipeFile.c_str(), "r")) {
        char buf[4096];
        made.assign(buf, std::fread(buf, 1, sizeof buf, f));
        std::fclose(f);
    }
    return fs::exists(made);
}

} // namespace

int main() {
    char tmpl[] = "/tmp/tslpowercut-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const fs::path dir = tmpl;
    const std::string work = (dir / "work").string();
    struct Case {
        const char* what;
        std::function<std::string()> make;
    } const cases[] = {
        {"a temporary file", [&] { return tsl::makeTempFile(work + "/f.tmp-"); }},
        {"a temporary folder", [&] { return tsl::makeTempFolder(work + "/d.tmp-"); }},
        {"a renamed file", [&] {
             const std::string from = tsl::makeTempFile(work + "/r.tmp-");
             tsl::syncFolder(work);
             tsl::renameNoReplace(from, work + "/renamed");
             return work + "/renamed";
         }},
    };
    int failures = 0;
    for (const Case& c : cases) {
        int lost = 0, lostSynced = 0;
        for (unsigned seed = 1; seed <= 16; ++seed) {
            for (bool sync : {false, true}) {
                fs::remove_all(work);
                fs::create_directory(work);
                const bool kept = survives(dir, seed, c.make, sync);
                (sync ? lostSynced : lost) += !kept;
            }
        }
        if (lost == 0) {
            std::fprintf(stderr, "powercutmodel: FAIL: %s never lost by a cut before its folder was synced\n", c.what);
            ++failures;
        }
        if (lostSynced != 0) {
            std::fprintf(stderr, "powercutmodel: FAIL: %s lost by %d cuts after its folder was synced\n", c.what,
                         lostSynced);
            ++failures;
        }
    }
    fs::remove_all(dir);
    if (failures == 0)
        std::printf("powercutmodel: unsynced new names lost by some cuts, synced ones by none\n");
    return failures == 0 ? 0 : 1;
}
