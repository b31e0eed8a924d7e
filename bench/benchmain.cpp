// Runs every benchmark at each size, then prints one table of every operation
// beside raw SQLite. Run in a scratch folder holding the empty index "run.dll"
// (scripts/bench.sh does that); the generated ledgers are removed at the end.
#include "bench/benchutil.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tslbench {
bool storageMemoryProbe();
bool realProgramProbe();
void registerStorage(int rows);
void registerFind(int rows);
void registerSort(int rows);
void registerServer(int rows);
void registerWorkspace(int rows);
void registerDialogs(int rows);
void registerConfirm(int rows);
void registerExport(int rows);
bool exportMemoryProbe();
void registerBackup(int rows);
void registerReal(int rows);
void registerYearGlance(int rows);
} // namespace tslbench

namespace {

// One line per benchmark on stderr as each ends; the times go into the table.
class Progress final : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            // Without the suffixes the library adds ("/iterations:20", "/manual_time").
            std::string name = run.benchmark_name();
            for (const char* suffix : {"/manual_time", "/iterations:"})
                if (auto at = name.find(suffix); at != std::string::npos)
                    name.erase(at);
            if (run.error_occurred)
                std::fprintf(stderr, "  %-44s FAILED: %s\n", name.c_str(), run.error_message.c_str());
            else
                std::fprintf(stderr, "  %-44s done\n", name.c_str());
        }
        std::fflush(stderr);
    }
};

} // namespace

int main(int argc, char** argv) {
    // A fresh copy of this program asked only for the memory of opening a book.
    if (tslbench::storageMemoryProbe() || tslbench::exportMemoryProbe() || tslbench::realProgramProbe())
        return 0;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (int rows : tslbench::kSizes) {
        tslbench::registerStorage(rows);
        tslbench::registerWorkspace(rows);
        tslbench::registerDialogs(rows);
        tslbench::registerConfirm(rows);
        tslbench::registerExport(rows);
        tslbench::registerBackup(rows);
        tslbench::registerReal(rows);
        tslbench::registerYearGlance(rows);
        tslbench::registerFind(rows);
        tslbench::registerSort(rows);
        tslbench::registerServer(rows);
    }
    Progress progress;
    benchmark::RunSpecifiedBenchmarks(&progress);
    const bool allPassed = tslbench::printTable();
    tslbench::cleanUp();
    benchmark::Shutdown();
    return allPassed ? 0 : 1;
}
