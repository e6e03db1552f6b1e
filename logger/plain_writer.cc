#include "logger/plain_writer.h"

namespace kit {

namespace {

[[noreturn]] void fail(PlainWriter& w, int os_error, Site site) {
  w.stage->flush();
  io_failure_stop(w.stage->console(), w.program, io_error_number(os_error), site);
}

void open_file(PlainWriter& w, const std::string& FNAME) {
  int err = 0;
  // An existing file of the same name (key C twice within a second, a restart
  // within the second) is continued, never emptied.
  w.F1 = w.files->open_log(short_text(w.ROOTDIR + FNAME), err);
  if (w.F1 == kInvalidFile) fail(w, err, Site::LogOpen);
}

}  // namespace

void buffer_setup(PlainWriter& w, std::int32_t BUFSIZE, Files& files, ConsoleStage& stage,
                  Program program, const std::string& ROOTDIR) {
  w.files = &files;
  w.stage = &stage;
  w.program = program;
  w.ROOTDIR = ROOTDIR;
  w.BUFSIZE = flush_threshold(BUFSIZE);
  w.storage = obtain_log_buffer(w.BUFSIZE, stage, program);
  w.BUF0 = w.storage.get();
  w.BUF = w.BUF0;
}

void OPENLOG(PlainWriter& w, const std::string& FNAME) {
  open_file(w, FNAME);
}

void FWRITE(PlainWriter& w) {
  const std::size_t count = static_cast<std::size_t>(w.BUF - w.BUF0);
  if (count > 0) {
    const int err = w.files->write(w.F1, w.BUF0, count);
    if (err != 0) fail(w, err, Site::LogWrite);
  }
  w.BUF = w.BUF0;
}

void NEWLOG(PlainWriter& w, const std::string& FNAME) {
  FWRITE(w);
  const int err = w.files->close(w.F1);
  w.F1 = kInvalidFile;
  if (err != 0) fail(w, err, Site::LogClose);
  open_file(w, FNAME);
}

void ENDLOG(PlainWriter& w) {
  FWRITE(w);
  const int err = w.files->close(w.F1);
  w.F1 = kInvalidFile;
  if (err != 0) fail(w, err, Site::LogClose);
}

}  // namespace kit
