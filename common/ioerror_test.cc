#include "common/ioerror.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace kit {
namespace {

TEST(ErrnoToIoError, MapsToTheReportedNumbers) {
  const struct {
    int e;
    int number;
  } cases[] = {
      {ENOENT, 2},
      {ENOTDIR, 3},
      {ENAMETOOLONG, 3},
      {EMFILE, 4},
      {ENFILE, 4},
      {EACCES, 5},
      {EPERM, 5},
      {EEXIST, 5},
      {EBUSY, 5},
      {EROFS, 5},
      {ENOTEMPTY, 5},
      {EISDIR, 5},
      {EBADF, 6},
      {ENOSPC, 101},
      {EFBIG, 101},
#ifdef EDQUOT
      {EDQUOT, 101},
#endif
      // Anything else is reported by its own number.
      {EINTR, EINTR},
      {EINVAL, EINVAL},
      {ENXIO, ENXIO},
  };
  for (const auto& c : cases) EXPECT_EQ(errno_to_io_error(c.e), c.number) << "errno " << c.e;
}

}  // namespace
}  // namespace kit
