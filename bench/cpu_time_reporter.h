// The console report, keeping each benchmark's CPU seconds per iteration so
// that main can print ratios between them afterwards. CPU time because the
// machines these run on are often shared.
#pragma once

#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

class cpu_time_reporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                seconds[r.benchmark_name()] =
                    r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
};
