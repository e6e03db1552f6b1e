#include "common/files.h"
#include "common/ioerror.h"

namespace kit {

int io_error_number(int os_error) {
  if (os_error == kShortWrite) return kDiskFull;
  return errno_to_io_error(os_error);
}

}  // namespace kit
