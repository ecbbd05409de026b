// Workers that start nothing: they record what the window asked for, so a
// test can answer with the messages a real job would send.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/workers.h"

namespace sw::test {

class FakeUiWorkers final : public UiWorkers {
  public:
    void scan_drives(const std::optional<std::string>& image_path) override {
        scans.push_back(image_path);
    }
    void validate(ValidationRequest request, std::shared_ptr<ValidationProgress> progress,
                  std::shared_ptr<const std::atomic<bool>> cancel) override {
        validations.push_back(request);
        last_validation_cancel = std::move(cancel);
        last_validation_progress = std::move(progress);
    }
    void download(std::filesystem::path folder, std::shared_ptr<DownloadProgress> progress,
                  std::shared_ptr<const std::atomic<bool>> stop) override {
        downloads.push_back(folder);
        download_stop = std::move(stop);
        download_progress = std::move(progress);
    }
    void check_release_and_updates() override { ++release_checks; }
    void check_drive(const DeviceInfo& drive) override { drive_checks.push_back(drive.number); }
    void eject(const DeviceInfo& drive) override { ejects.push_back(drive.number); }
    std::optional<WriteJob> start_write(const WriteChoice& choice,
                                        const std::vector<DeviceInfo>&) override {
        writes.push_back(choice);
        if (refuse_writes) return std::nullopt;
        write =
            WriteJob{std::make_shared<WriteProgress>(), std::make_shared<std::atomic<bool>>(false)};
        return write;
    }
    std::optional<WriteJob> start_restore(const DeviceInfo& drive,
                                          const std::vector<DeviceInfo>&) override {
        restores.push_back(drive);
        if (refuse_writes) return std::nullopt;
        write =
            WriteJob{std::make_shared<WriteProgress>(), std::make_shared<std::atomic<bool>>(false)};
        return write;
    }
    void stop_write(const WriteJob& w) override {
        ++stops;
        w.stop->store(true);
    }

    std::vector<std::optional<std::string>> scans;
    std::vector<ValidationRequest> validations;
    std::shared_ptr<const std::atomic<bool>> last_validation_cancel;
    std::shared_ptr<ValidationProgress> last_validation_progress;
    std::vector<std::filesystem::path> downloads;
    std::shared_ptr<const std::atomic<bool>> download_stop;
    std::shared_ptr<DownloadProgress> download_progress;
    int release_checks = 0;
    std::vector<uint32_t> drive_checks;
    std::vector<uint32_t> ejects;
    std::vector<WriteChoice> writes;
    std::vector<DeviceInfo> restores;
    bool refuse_writes = false;
    std::optional<WriteJob> write;
    int stops = 0;
};

}  // namespace sw::test
