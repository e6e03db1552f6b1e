// The error number the input/output failure stop reports for a failed file
// operation of the C library (open, read, close), given its errno value.
#pragma once

namespace kit {

// 2 not found, 3 bad path, 4 too many open files, 5 access denied, 6 bad
// handle, 101 disk full; any other errno value is passed on unchanged.
int errno_to_io_error(int e);

}  // namespace kit
