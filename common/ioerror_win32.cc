#include "common/files.h"

namespace kit {

// The report numbers of the Windows system error codes: a sharing violation,
// an existing target and a folder that is not empty read as "Access denied";
// the device errors 19 to 31 move to 150 to 162.
int io_error_number(int os_error) {
  switch (os_error) {
    case kShortWrite: return kDiskFull;
    case 32:   // ERROR_SHARING_VIOLATION
    case 80:   // ERROR_FILE_EXISTS
    case 145:  // ERROR_DIR_NOT_EMPTY
    case 183:  // ERROR_ALREADY_EXISTS
      return 5;
    default:
      if (os_error >= 19 && os_error <= 31) return os_error + 131;
      return os_error;
  }
}

}  // namespace kit
