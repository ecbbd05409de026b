// The download's view of the machine for tests: a given transport and clock,
// this computer's files and free space unless a test answers in their place.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "core/system.h"
#include "http/download.h"
#include "http/partial_file.h"

namespace sw::test {

class FakeDownloads final : public DownloadSystem {
  public:
    FakeDownloads(HttpTransport& transport, Clock& clock) : transport_(transport), clock_(clock) {}

    std::function<Result<std::unique_ptr<PartialFile>, OsError>(const std::filesystem::path&)>
        open_file = open_partial_file;
    std::function<Result<uint64_t, OsError>(const std::filesystem::path&)> space =
        platform::free_space;

    HttpTransport& http() override { return transport_; }
    Clock& clock() override { return clock_; }
    Result<std::unique_ptr<PartialFile>, OsError> open_partial(
        const std::filesystem::path& path) override {
        return open_file(path);
    }
    Result<uint64_t, OsError> free_space(const std::filesystem::path& folder) override {
        return space(folder);
    }

  private:
    HttpTransport& transport_;
    Clock& clock_;
};

}  // namespace sw::test
