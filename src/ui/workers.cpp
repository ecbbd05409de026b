// The one place that knows how each job is started: every job runs on a
// thread of its own over the Machine, and each report it makes becomes one
// UiMessage on the window's queue.
#include "ui/workers.h"

#include <variant>

#include "disk/eject.h"
#include "disk/health.h"
#include "http/release.h"
#include "runtime/thread.h"
#include "writer/restore_job.h"

namespace sw {

namespace {

// Wraps whatever a worker reports (one record, or a variant of records) in
// the window's message and queues it.
struct Post {
    std::shared_ptr<MessageQueue> queue;
    template <class Report>
    void operator()(Report report) const {
        if constexpr (requires { std::visit([](auto&&) {}, report); }) {
            std::visit([this](auto&& one) { queue->send(UiMessage(std::move(one))); },
                       std::move(report));
        } else {
            queue->send(UiMessage(std::move(report)));
        }
    }
};

class RealWorkers final : public UiWorkers {
  public:
    RealWorkers(std::shared_ptr<Machine> machine, std::shared_ptr<MessageQueue> queue)
        : machine_(std::move(machine)), queue_(std::move(queue)) {}

    void scan_drives(const std::optional<std::string>& image_path) override {
        threads_.start([post = post(), disks = machine_->disks(), image_path] {
            post(DriveScanFinished{sw::scan_drives(disks, image_path)});
        });
    }

    void validate(ValidationRequest request, std::shared_ptr<ValidationProgress> progress,
                  std::shared_ptr<const std::atomic<bool>> cancel) override {
        threads_.start(
            [post = post(), machine = machine_, request = std::move(request), progress, cancel] {
                run_validation(request, machine->open_image(request.path), post, *progress, *cancel,
                               machine->clock());
            });
    }

    void download(std::filesystem::path folder, std::shared_ptr<DownloadProgress> progress,
                  std::shared_ptr<const std::atomic<bool>> stop) override {
        threads_.start([post = post(), machine = machine_, folder = std::move(folder), progress,
                        stop] { run_image_download(folder, *stop, *progress, post, *machine); });
    }

    void check_release_and_updates() override {
        threads_.start([post = post(), machine = machine_] {
            post(ReleaseInfoMessage{fetch_release_info(download_base(), machine->http())});
            if (auto notice = run_update_check(machine->http())) post(std::move(*notice));
        });
    }

    void check_drive(const DeviceInfo& drive) override {
        threads_.start([post = post(), disks = machine_->disks(), drive] {
            post(DriveCheckFinished{drive.number, check_health_logged(disks, drive)});
        });
    }

    void eject(const DeviceInfo& drive) override {
        threads_.start([post = post(), disks = machine_->disks(), drive] {
            post(EjectFinished{eject_on_request(disks, drive)});
        });
    }

    std::optional<WriteJob> start_write(const WriteChoice& choice,
                                        const std::vector<DeviceInfo>& current_drives) override {
        if (!find_chosen_drive(current_drives, choice.drive)) return std::nullopt;
        WriteRequest request = window_write_request(choice);
        WriteJob job{request.progress, request.stop};
        threads_.start([post = post(), request = std::move(request), machine = machine_] {
            run_job_thread(
                request, [post](WriteResult result) { post(WriteFinished{std::move(result)}); },
                machine);
        });
        return job;
    }

    std::optional<WriteJob> start_restore(const DeviceInfo& drive,
                                          const std::vector<DeviceInfo>& current_drives) override {
        if (!find_chosen_drive(current_drives, drive)) return std::nullopt;
        RestoreRequest request = window_restore_request(drive);
        WriteJob job{request.progress, request.stop};
        threads_.start([post = post(), request = std::move(request), machine = machine_] {
            run_restore_thread(
                request, [post](RestoreResult result) { post(RestoreFinished{std::move(result)}); },
                machine);
        });
        return job;
    }

    void stop_write(const WriteJob& write) override {
        if (write.stop) write.stop->store(true, std::memory_order_relaxed);
    }

  private:
    Post post() const { return Post{queue_}; }

    std::shared_ptr<Machine> machine_;
    std::shared_ptr<MessageQueue> queue_;
    WorkerThreads threads_;
};

}  // namespace

std::unique_ptr<UiWorkers> make_real_workers(std::shared_ptr<Machine> machine,
                                             std::shared_ptr<MessageQueue> queue) {
    return std::make_unique<RealWorkers>(std::move(machine), std::move(queue));
}

}  // namespace sw
