#include "platform/win32/Volume.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;

// A 1.44 MB FAT12 floppy with the given serial number and label, the label
// both in the boot sector and as the root folder's volume entry.
std::string FatImage(uint32_t serial, const std::string& label) {
  std::string image(2880 * 512, '\0');
  auto put16 = [&](size_t at, uint16_t v) {
    image[at] = static_cast<char>(v & 0xFF);
    image[at + 1] = static_cast<char>(v >> 8);
  };
  std::string padded = (label + "           ").substr(0, 11);
  image[0] = '\xEB';
  image[1] = '\x3C';
  image[2] = '\x90';
  std::memcpy(&image[3], "MSDOS5.0", 8);
  put16(11, 512);   // bytes per sector
  image[13] = 1;    // sectors per cluster
  put16(14, 1);     // reserved sectors
  image[16] = 2;    // FATs
  put16(17, 224);   // root entries
  put16(19, 2880);  // sectors
  image[21] = '\xF0';
  put16(22, 9);  // sectors per FAT
  put16(24, 18);
  put16(26, 2);
  image[38] = 0x29;  // extended boot signature
  for (int i = 0; i < 4; ++i) image[39 + i] = static_cast<char>((serial >> (8 * i)) & 0xFF);
  std::memcpy(&image[43], padded.data(), 11);
  std::memcpy(&image[54], "FAT12   ", 8);
  image[510] = '\x55';
  image[511] = '\xAA';
  for (size_t fat : {512u, 512u + 9 * 512u}) {
    image[fat] = '\xF0';
    image[fat + 1] = '\xFF';
    image[fat + 2] = '\xFF';
  }
  size_t root = (1 + 2 * 9) * 512;
  std::memcpy(&image[root], padded.data(), 11);
  image[root + 11] = 0x08;  // volume label
  return image;
}

TEST(MountInfoTest, FieldsEscapesAndOptionalFieldsAreRead) {
  const char* text =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "23 22 11:0 / /media/My\\040CD\\134x ro,nosuid master:2 shared:3 - iso9660 /dev/sr0 ro\n"
      "24 22 0:5 / /run rw - tmpfs tmpfs rw\n"
      "garbage line\n"
      "25 22 0:6 / relative rw - tmpfs tmpfs rw\n"
      "26 22 0:7 / /no-dash rw shared:4 tmpfs none rw\n"
      "27 22 7:0 / /mnt/a\\011tab rw - vfat /dev/loop0 rw";
  auto mounts = ZYT::ParseMountInfo(text);
  ASSERT_EQ(mounts.size(), 4u) << "lines without the separator or a path as mount point are skipped";
  EXPECT_EQ(mounts[0].mountPoint, "/");
  EXPECT_EQ(mounts[0].fileSystem, "ext4");
  EXPECT_EQ(mounts[0].source, "/dev/sda1");
  EXPECT_FALSE(mounts[0].readOnly);
  EXPECT_EQ(mounts[1].mountPoint, "/media/My CD\\x");
  EXPECT_EQ(mounts[1].fileSystem, "iso9660");
  EXPECT_EQ(mounts[1].source, "/dev/sr0");
  EXPECT_TRUE(mounts[1].readOnly);
  EXPECT_EQ(mounts[2].mountPoint, "/run");
  EXPECT_EQ(mounts[3].mountPoint, "/mnt/a\ttab");
  EXPECT_EQ(mounts[3].source, "/dev/loop0");
}

TEST(MountInfoTest, TheLongestMountPointOnAFolderBoundaryHoldsAPath) {
  auto mounts = ZYT::ParseMountInfo(
      "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "2 1 8:2 / /media rw - ext4 /dev/sda2 rw\n"
      "3 2 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
      "4 2 11:1 / /media/cdrom ro - udf /dev/sr1 ro\n");
  auto sourceOf = [&](const std::string& path) {
    const ZYT::MountEntry* m = ZYT::FindMount(mounts, path);
    return m ? m->source : std::string("(none)");
  };
  EXPECT_EQ(sourceOf("/media/cdrom"), "/dev/sr1") << "of two mounts on one folder the later lies on top";
  EXPECT_EQ(sourceOf("/media/cdrom/dir/file.txt"), "/dev/sr1");
  EXPECT_EQ(sourceOf("/media/cdrom2"), "/dev/sda2") << "a name that only starts like a mount point is not in it";
  EXPECT_EQ(sourceOf("/media"), "/dev/sda2");
  EXPECT_EQ(sourceOf("/home"), "/dev/sda1");
  EXPECT_EQ(sourceOf("relative"), "(none)");
  EXPECT_EQ(ZYT::FindMount({}, "/"), nullptr);
}

TEST(MountInfoTest, SerialNumbersFromFileSystemIds) {
  DWORD serial = 0;
  ASSERT_TRUE(ZYT::VolumeSerialFromId("1A2B-3C4D", serial));
  EXPECT_EQ(serial, 0x1A2B3C4Du);
  ASSERT_TRUE(ZYT::VolumeSerialFromId("0123456789ABCDEF", serial)) << "an NTFS serial";
  EXPECT_EQ(serial, 0x89ABCDEFu);
  ASSERT_TRUE(ZYT::VolumeSerialFromId("ffffffff", serial));
  EXPECT_EQ(serial, 0xFFFFFFFFu);
  serial = 7;
  EXPECT_FALSE(ZYT::VolumeSerialFromId("1A2B-3C", serial));
  EXPECT_FALSE(ZYT::VolumeSerialFromId("", serial));
  EXPECT_FALSE(ZYT::VolumeSerialFromId("1A2B-3C4G", serial));
  EXPECT_EQ(serial, 7u) << "a refused id leaves the serial alone";
}

class VolumeTest : public MachineTest {
 protected:
  static void MapDrive(const std::u16string& drive, const std::string& folder) {
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Platform\\Drives", drive, ZYT::Utf8ToWide(folder));
  }
  struct Answer {
    BOOL ok = FALSE;
    DWORD error = 0;
    std::u16string label, fileSystem;
    DWORD serial = 0, maxComponent = 0, flags = 0;
  };
  static Answer Query(const char16_t* root) {
    Answer a;
    WCHAR label[64] = u"untouched", fs[32] = u"untouched";
    a.serial = 0xDEADBEEF;
    a.ok = GetVolumeInformationW(root, label, 64, &a.serial, &a.maxComponent, &a.flags, fs, 32);
    a.error = GetLastError();
    a.label = label;
    a.fileSystem = fs;
    return a;
  }
};

TEST_F(VolumeTest, ADeclaredRootAnswersItsMediumWhileItsFolderExists) {
  ASSERT_EQ(mkdir(PathIn("cd").c_str(), 0700), 0);
  MapDrive(u"D:", PathIn("cd"));
  DeclareVolume(u"D:", u"HOLIDAYS 2004", 0x1A2B3C4D);
  for (const char16_t* root : {u"D:\\", u"d:\\", u"D:"}) {
    Answer a = Query(root);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.error, 0u);
    EXPECT_EQ(ZYT::WideToUtf8(a.label), "HOLIDAYS 2004");
    EXPECT_EQ(a.serial, 0x1A2B3C4Du);
    EXPECT_EQ(ZYT::WideToUtf8(a.fileSystem), "CDFS");
    EXPECT_EQ(a.maxComponent, 255u);
  }
  // Only the serial wanted: the other outputs may be null.
  DWORD serial = 0;
  ASSERT_TRUE(GetVolumeInformationW(u"D:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(serial, 0x1A2B3C4Du);
  WCHAR small[5];
  EXPECT_FALSE(GetVolumeInformationW(u"D:\\", small, 5, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  ASSERT_EQ(rmdir(PathIn("cd").c_str()), 0);
  Answer gone = Query(u"D:\\");
  EXPECT_FALSE(gone.ok);
  EXPECT_EQ(gone.error, ERROR_NOT_READY) << "a declared drive without its folder is empty";
}

TEST_F(VolumeTest, APosixFolderCanBeDeclaredToo) {
  ASSERT_EQ(mkdir(PathIn("media").c_str(), 0700), 0);
  DeclareVolume(ZYT::Utf8ToWide(PathIn("media")), u"DISC 2", 7);
  Answer a = Query(ZYT::Utf8ToWide(PathIn("media") + "/").c_str());
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.label, u"DISC 2");
  EXPECT_EQ(a.serial, 7u);
  EXPECT_EQ(Query(ZYT::Utf8ToWide(PathIn("media") + "x/").c_str()).error, ERROR_NOT_READY)
      << "a declaration names one folder only";
}

TEST_F(VolumeTest, AFolderThatIsNoMountPointIsAnEmptyDrive) {
  ASSERT_EQ(mkdir(PathIn("empty").c_str(), 0700), 0);
  MapDrive(u"E:", PathIn("empty"));
  Answer a = Query(u"E:\\");
  EXPECT_FALSE(a.ok);
  EXPECT_EQ(a.error, ERROR_NOT_READY);
  EXPECT_EQ(a.serial, 0xDEADBEEFu) << "nothing is written on failure";
  EXPECT_EQ(Query(ZYT::Utf8ToWide(PathIn("empty") + "/").c_str()).error, ERROR_NOT_READY);
  EXPECT_EQ(Query(ZYT::Utf8ToWide(PathIn("missing") + "/").c_str()).error, ERROR_NOT_READY);

  Answer unknown = Query(u"Q:\\");
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.error, ERROR_PATH_NOT_FOUND) << "a drive the drive table does not know";
}

TEST_F(VolumeTest, AMountPointAnswersFromTheMountTable) {
  // /proc is a mount point wherever this runs; it has no medium behind it.
  Answer proc = Query(u"/proc/");
  ASSERT_TRUE(proc.ok) << proc.error;
  EXPECT_EQ(ZYT::WideToUtf8(proc.fileSystem), "PROC");
  EXPECT_EQ(proc.label, u"");
  EXPECT_EQ(proc.serial, 0u);
  Answer root = Query(u"/");
  ASSERT_TRUE(root.ok) << root.error;
  EXPECT_NE(root.fileSystem, u"untouched");
  EXPECT_EQ(Query(u"/proc/self/").error, ERROR_NOT_READY) << "a folder inside a mount is not its root";
}

TEST_F(VolumeTest, LabelAndSerialAreProbedFromTheFileSystem) {
  WriteBytes(PathIn("floppy.img"), FatImage(0x1A2B3C4D, "ORRERY CD"));
  ZYT::ProbedVolume volume;
  DWORD error = 0;
  ASSERT_TRUE(ZYT::ProbeVolume(PathIn("floppy.img"), volume, error)) << error;
  EXPECT_EQ(volume.type, "vfat");
  EXPECT_EQ(volume.label, "ORRERY CD");
  EXPECT_EQ(volume.id, "1A2B-3C4D");
  DWORD serial = 0;
  ASSERT_TRUE(ZYT::VolumeSerialFromId(volume.id, serial));
  EXPECT_EQ(serial, 0x1A2B3C4Du);

  WriteBytes(PathIn("zeros.img"), std::string(65536, '\0'));
  EXPECT_FALSE(ZYT::ProbeVolume(PathIn("zeros.img"), volume, error));
  EXPECT_EQ(error, ERROR_INVALID_DATA);
  EXPECT_FALSE(ZYT::ProbeVolume(PathIn("missing.img"), volume, error));

  // A FIFO is refused before anything opens it for reading: no hang.
  ASSERT_EQ(mkfifo(PathIn("fifo").c_str(), 0600), 0);
  alarm(20);
  EXPECT_FALSE(ZYT::ProbeVolume(PathIn("fifo"), volume, error));
  alarm(0);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
}

}  // namespace
