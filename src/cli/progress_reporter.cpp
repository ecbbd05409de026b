#include "cli/progress_reporter.h"

#include <optional>

#include "core/text.h"

namespace sw {

std::string progress_line(WritePhase phase, uint64_t done, uint64_t total) {
    double percent =
        total == 0 ? 0.0 : static_cast<double>(done) * 100.0 / static_cast<double>(total);
    return fmt("  {} {}%", phase_name(phase), fixed(percent, 1));
}

void run_progress_reporter(const WriteProgress& progress, ReporterSignal& signal, Clock& clock,
                           const std::function<void(std::string_view)>& print) {
    std::optional<std::pair<WritePhase, uint64_t>> last;
    for (;;) {
        bool ended;
        {
            std::unique_lock<std::mutex> lock(signal.mutex);
            ended =
                clock.wait_for(lock, signal.wake, kReportEvery, [&] { return signal.job_ended; });
        }
        WritePhase phase = progress.read_phase();
        uint64_t done = progress.done.load(std::memory_order_relaxed);
        uint64_t total = progress.total.load(std::memory_order_relaxed);
        if (!last || last->first != phase || last->second != done) {
            print(progress_line(phase, done, total));
            last.emplace(phase, done);
            if (phase == WritePhase::Finishing) return;
        }
        if (ended) return;
    }
}

}  // namespace sw
