// Everything the program reaches outside itself, in one place: the drive
// seam (disks, volumes, raw devices, system facts, eject, the drive check's
// files), image files, the download's files and free space, HTTPS and the
// clock. One Machine is made where the
// program starts and handed to the faces; tests make their own.
#pragma once

#include <memory>
#include <string>

#include "core/clock.h"
#include "core/result.h"
#include "disk/disk_system.h"
#include "http/download.h"
#include "http/transport.h"
#include "image/image_reader.h"

namespace sw {

class Machine : public DownloadSystem {
  public:
    virtual const std::shared_ptr<DiskSystem>& disks() = 0;
    Clock& clock() override = 0;
    virtual Result<std::unique_ptr<ImageReader>, std::string> open_image(
        const std::string& path) = 0;
    HttpTransport& http() override = 0;
    // Whether this process may open drives for writing (an elevated token
    // on Windows, effective user 0 on Linux).
    virtual bool elevated() = 0;
};

// This computer's image files and HTTPS stack, with `disks` as its drives
// and their clock as its clock.
std::shared_ptr<Machine> platform_machine(std::shared_ptr<DiskSystem> disks);

// Delegates everything to another machine; a decorator or a test double
// overrides only what it replaces.
class MachineWrapper : public Machine {
  public:
    explicit MachineWrapper(std::shared_ptr<Machine> base) : base_(std::move(base)) {}

    const std::shared_ptr<DiskSystem>& disks() override { return base_->disks(); }
    Clock& clock() override { return base_->clock(); }
    Result<std::unique_ptr<ImageReader>, std::string> open_image(const std::string& path) override {
        return base_->open_image(path);
    }
    HttpTransport& http() override { return base_->http(); }
    Result<std::unique_ptr<PartialFile>, OsError> open_partial(
        const std::filesystem::path& path) override {
        return base_->open_partial(path);
    }
    Result<uint64_t, OsError> free_space(const std::filesystem::path& folder) override {
        return base_->free_space(folder);
    }
    bool elevated() override { return base_->elevated(); }

  protected:
    Machine& base() { return *base_; }

  private:
    std::shared_ptr<Machine> base_;
};

}  // namespace sw
