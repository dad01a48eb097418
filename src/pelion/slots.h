// Pelion's controls over the device's memory map: the dialog's control IDs, the check box and path
// field of each image slot (the slots themselves, with their sizes, offsets and addresses, are the
// device layer's), the binary slot's default name and the fixed files of "Button7".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/memory_map.h"

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

// One image slot: the device's slot and the two controls that stand for it.
struct ImageSlot {
  const device::Slot& device;
  int checkBox;
  int pathField;
};

// In the device's slot order, which is the order the drop handler and "load image" test them.
inline constexpr std::array<ImageSlot, 4> kImageSlots{{
    {device::kSlots[0], IDC_CHECK_FIRMWARE, IDC_PATH_FIRMWARE},
    {device::kSlots[1], IDC_CHECK_BOOT, IDC_PATH_BOOT},
    {device::kSlots[2], IDC_CHECK_OEM, IDC_PATH_OEM},
    {device::kSlots[3], IDC_CHECK_PARAMETER, IDC_PATH_PARAMETER},
}};

// The binary slot stands for the whole window: a name in its field, one read-back of it.
inline constexpr const char* kBinaryDefaultFileName = "vantor.bin";
inline constexpr const device::Region& kBinaryRegion = device::kRegions[0];

// "Button7": the first 128 KiB of one fixed file copied into another, in Documents.
inline constexpr const char* kCopySourceName = "vantor.full.bin";
inline constexpr const char* kCopyDestinationName = "vantor.code.bin";
inline constexpr std::size_t kCopyBytes = 0x20000;

}  // namespace vantor::pelion
