// Re-identifying a chosen drive before anything is done to it.
#include <gtest/gtest.h>

#include <memory>

#include "disk/disk_system.h"
#include "disk/drives.h"
#include "support/fake_clock.h"
#include "support/gate.h"

namespace sw {
namespace {

DeviceInfo stick(uint32_t number, std::string serial) {
    DeviceInfo d;
    d.number = number;
    d.instance_id = "USBSTOR\\DISK&VEN_ACME\\" + serial;
    d.vendor = "Acme";
    d.product = "Pocket";
    d.serial = std::move(serial);
    d.size = 8000000000;
    d.bus = BusKind{BusKind::Usb, 0};
    return d;
}

using Listing = std::function<Result<std::vector<DeviceInfo>, OsError>()>;

// This machine's system with its disk list replaced.
class ListingDisks final : public DiskSystemWrapper {
  public:
    ListingDisks(Clock& clock, Listing listing)
        : DiskSystemWrapper(platform_disk_system(clock)), listing_(std::move(listing)) {}
    Result<std::vector<DeviceInfo>, OsError> enumerate_disks() override { return listing_(); }

  private:
    Listing listing_;
};

Disks answering(std::vector<DeviceInfo> disks) {
    return std::make_shared<ListingDisks>(
        real_clock(), [disks] { return Result<std::vector<DeviceInfo>, OsError>(disks); });
}

TEST(IdentifyDrive, SameDriveUnderItsNumberIsReturnedFresh) {
    DeviceInfo chosen = stick(2, "AAA");
    DeviceInfo now = chosen;
    now.letters = {'E'};  // letters and speed do not belong to the identity
    now.removable = true;
    auto r = identify_drive(answering({stick(1, "X"), now}), identity_of(chosen));
    ASSERT_TRUE(r) << r.error();
    EXPECT_TRUE(r->removable);
}

TEST(IdentifyDrive, AnotherStickUnderTheSameNumberIsNamedWithBothIdentities) {
    DeviceInfo chosen = stick(2, "AAA");
    DeviceInfo other = stick(2, "BBB");
    auto r = identify_drive(answering({other}), identity_of(chosen));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "expected " + debug_string(identity_of(chosen)) + ", found " +
                             debug_string(identity_of(other)));
}

TEST(IdentifyDrive, UnpluggedDriveAndEnumerationFailure) {
    auto gone = identify_drive(answering({stick(1, "X")}), identity_of(stick(5, "AAA")));
    EXPECT_EQ(gone.error(), "disk 5 is no longer present");
    auto denied = std::make_shared<ListingDisks>(real_clock(), [] {
        return Result<std::vector<DeviceInfo>, OsError>(
            unexpected(message_error("Access is denied. (os error 5)")));
    });
    auto failed = identify_drive(denied, identity_of(stick(5, "AAA")));
    EXPECT_EQ(failed.error(), "disk enumeration failed: Access is denied. (os error 5)");
}

TEST(IdentifyDrive, GivesUpAfterThirtySecondsAndDropsTheLateAnswer) {
    test::FakeClock clock;
    auto gate = std::make_shared<test::Gate>(clock, std::chrono::seconds(30));
    auto hanging = std::make_shared<ListingDisks>(clock, [gate] {
        gate->wait();
        return Result<std::vector<DeviceInfo>, OsError>(std::vector<DeviceInfo>{});
    });
    auto r = identify_drive(hanging, identity_of(stick(2, "AAA")));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "drive identification did not finish within 30 s");
    EXPECT_EQ(clock.elapsed(), std::chrono::seconds(30));
    gate->open();
}

}  // namespace
}  // namespace sw
