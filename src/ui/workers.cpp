// The one place that knows how each job is started today.
#include "ui/workers.h"

#include <mutex>
#include <thread>

#include "core/text.h"
#include "core/thread.h"
#include "disk/eject.h"
#include "disk/health.h"
#include "http/release.h"
#include "logging/logger.h"

namespace sw {

namespace {

class RealWorkers final : public UiWorkers {
  public:
    explicit RealWorkers(std::shared_ptr<MessageQueue> queue) : queue_(std::move(queue)) {}
    ~RealWorkers() override {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads)
            if (t.joinable()) t.join();
    }

    void scan_drives(const std::optional<std::string>& image_path) override {
        start([queue = queue_, image_path] { refresh_drives(image_path, *queue); });
    }

    void validate(ValidationRequest request, std::shared_ptr<ValidationProgress> progress,
                  std::shared_ptr<const std::atomic<bool>> cancel) override {
        start([queue = queue_, request = std::move(request), progress, cancel] {
            run_validation(request, *queue, *progress, *cancel);
        });
    }

    void download(std::filesystem::path folder, std::shared_ptr<DownloadProgress> progress,
                  std::shared_ptr<const std::atomic<bool>> stop) override {
        start([queue = queue_, folder = std::move(folder), progress, stop] {
            run_image_download(folder, *stop, *progress, *queue);
        });
    }

    void check_release_and_updates() override {
        start([queue = queue_] {
            queue->send(ReleaseInfoMessage{fetch_release_info(download_base())});
            run_update_check(*queue);
        });
    }

    void check_drive(const DeviceInfo& drive) override {
        start([queue = queue_, drive] {
            HealthReport report = check_health(drive);
            Logger::write(LogLevel::Info,
                          fmt("health check of disk {}: {}", drive.number, debug_string(report)));
            queue->send(DriveCheckFinished{drive.number, std::move(report)});
        });
    }

    void eject(const DeviceInfo& drive) override {
        start([queue = queue_, drive] {
            EjectOutcome outcome = eject_drive(drive);
            Logger::write(LogLevel::Info,
                          fmt("eject requested by the operator: {}", debug_string(outcome)));
            queue->send(EjectFinished{std::move(outcome)});
        });
    }

    std::optional<WriteHandles> start_write(
        const WriteChoice& choice, const std::vector<DeviceInfo>& current_drives) override {
        if (!find_chosen_drive(current_drives, choice.drive)) return std::nullopt;
        WriteRequest request;
        request.image = choice.image;
        request.image_path = choice.image_path;
        request.drive = choice.drive;
        request.verify = choice.verify;
        request.eject_when_done = false;  // the window ejects as a later step
        request.sink = queue_.get();
        WriteHandles handles{request.progress, request.stop};
        start([queue = queue_, request = std::move(request)] {
            run_job_thread(request, *queue, machine_write_system());
        });
        return handles;
    }

    void stop_write(const WriteHandles& write) override {
        if (write.stop) write.stop->store(true, std::memory_order_relaxed);
    }

  private:
    template <class Fn>
    void start(Fn&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        threads_.push_back(spawn_thread(std::forward<Fn>(fn)));
    }

    std::shared_ptr<MessageQueue> queue_;
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace

std::unique_ptr<UiWorkers> make_real_workers(std::shared_ptr<MessageQueue> queue) {
    return std::make_unique<RealWorkers>(std::move(queue));
}

}  // namespace sw
