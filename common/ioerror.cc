#include "common/ioerror.h"

#include <cerrno>

namespace kit {

int errno_to_io_error(int e) {
  switch (e) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EEXIST:
    case EBUSY:
    case EROFS:
    case ENOTEMPTY:
    // A folder opened as a file: the open is refused as access denied where
    // folders cannot be opened for reading at all.
    case EISDIR:
      return 5;
    case EBADF:
      return 6;
    case ENOSPC:
    case EFBIG:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return 101;
    default:
      return e;
  }
}

}  // namespace kit
