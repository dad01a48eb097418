// The image slots of the Pelion dialog and the device regions behind them: control IDs, default
// file names, exact file sizes, offsets in the image (the address of a dropped file's segment) and
// the absolute device addresses used by "upload" and "load image".
#pragma once

#include <array>
#include <cstdint>

namespace vantor::pelion {

// Control IDs of the main dialog (template 102).
enum ControlId : int {
  IDC_HEX_VIEW = 1001,
  IDC_PROGRESS = 1003,
  IDC_DOWNLOAD_BINARY = 1005,
  IDC_COM_PORT = 1006,
  IDC_CHECK_OEM = 1007,
  IDC_CHECK_BOOT = 1008,
  IDC_CHECK_FIRMWARE = 1010,
  IDC_CHECK_BINARY = 1011,
  IDC_CHECK_PARAMETER = 1015,
  IDC_UPLOAD = 1017,
  IDC_SAVE = 1018,
  IDC_PATH_FIRMWARE = 1019,
  IDC_PATH_BOOT = 1020,
  IDC_PATH_OEM = 1021,
  IDC_PATH_PARAMETER = 1022,
  IDC_PATH_BINARY = 1023,
  IDC_CLEAR = 1024,
  IDC_UPLOAD_LOG = 1026,
  IDC_IMAGE_LIST = 1027,  // the list of the upload log window (template 130)
  IDC_LOAD_IMAGE = 1028,
  IDC_BUTTON7 = 1029,
};

struct ImageSlot {
  const char* name;
  int checkBox;
  int pathField;
  const char* defaultFileName;
  std::int32_t size;      // exact file size of a drop, and the region's length
  std::uint32_t offset;   // offset in the image: a dropped file's segment address
  std::uint32_t address;  // absolute device address (upload, load image)
};

// In the order the drop handler and "load image" test them.
inline constexpr std::array<ImageSlot, 4> kImageSlots{{
    {"firmware", IDC_CHECK_FIRMWARE, IDC_PATH_FIRMWARE, "vantor.fw.bin", 0x38000, 0x000000,
     0x100000},
    {"boot", IDC_CHECK_BOOT, IDC_PATH_BOOT, "vantor.bl.bin", 0x4000, 0x038000, 0x138000},
    {"oem", IDC_CHECK_OEM, IDC_PATH_OEM, "vantor.oem.bin", 0x3400, 0x03CC00, 0x13CC00},
    {"parameter", IDC_CHECK_PARAMETER, IDC_PATH_PARAMETER, "vantor.fp.bin", 0xC00, 0x03C000,
     0x13C000},
}};

inline constexpr const char* kBinaryDefaultFileName = "vantor.bin";

// The read-back regions of "upload".
struct Region {
  std::uint32_t address;
  std::int32_t length;
};
inline constexpr Region kBinaryRegion{0x100000, 0x40000};
// The four slots in ascending address order (the upload's order): firmware, boot, parameter, oem.
inline constexpr std::array<int, 4> kUploadOrder{0, 1, 3, 2};

// "upload log": one fixed 64 KiB region.
inline constexpr Region kUploadLogRegion{0x120000, 0x10000};

// The flags word of a download after "load image" with the firmware slot checked.
inline constexpr std::uint32_t kCodeAreaFlags = 0x3C690000;

// "Button7": the first 128 KiB of one fixed file copied into another, in Documents.
inline constexpr const char* kCopySourceName = "vantor.full.bin";
inline constexpr const char* kCopyDestinationName = "vantor.code.bin";
inline constexpr std::size_t kCopyBytes = 0x20000;

}  // namespace vantor::pelion
