#include "logger/echo_writer.h"

namespace kit {

namespace {

// The writer's two fatal messages: where the cursor stands, then exit status 1.
[[noreturn]] void fail(EchoWriter& w, const char* call, int os_error) {
  w.stage->flush();
  write_line(w.stage->console(), std::string(call) + " Error=" + std::to_string(os_error));
  throw Ending{1};
}

}  // namespace

void buffer_setup(EchoWriter& w, std::int32_t BUFSIZE, AsyncFiles& files, ConsoleStage& stage,
                  Program program, const std::string& ROOTDIR) {
  w.files = &files;
  w.stage = &stage;
  w.ROOTDIR = ROOTDIR;
  w.BUFSIZE = flush_threshold(BUFSIZE);
  w.storage0 = obtain_log_buffer(w.BUFSIZE, stage, program);
  w.storage1 = obtain_log_buffer(w.BUFSIZE, stage, program);
  w.BUF0 = w.storage0.get();
  w.BUF1 = w.storage1.get();
  w.BUF = w.BUF0;
  w.BUFFL = 0;
}

void prepare_writes(EchoWriter& w) {
  w.files->prepare();
}

void OPENLOG(EchoWriter& w, const std::string& FNAME) {
  w.FILEFL = 0;
  w.FPATH = short_text(w.ROOTDIR + FNAME);
  w.FPATHP = w.FPATH;
  w.FILEHANDLE = w.files->open(w.FPATHP);
}

void FWRITE(EchoWriter& w) {
  int err = 0;
  if (!w.files->wait_result(err)) fail(w, "GetOverlappedResult", err);
  if (w.FILEFL == 1) {
    // The waiting file is the current one again when the new name repeated the
    // name of the file being written; it stays open then.
    if (w.FILEHANDLENEW != w.FILEHANDLE) w.files->close(w.FILEHANDLE);
    w.FILEHANDLE = w.FILEHANDLENEW;
    w.FILEFL = 0;
  }
  std::uint8_t* start = active_start(w);
  if (!w.files->start_append(w.FILEHANDLE, start, static_cast<std::uint32_t>(w.BUF - start), err)) {
    fail(w, "WriteFile", err);
  }
  if (w.BUFFL == 0) {
    w.BUF = w.BUF1;
    w.BUFFL = 1;
  } else {
    w.BUF = w.BUF0;
    w.BUFFL = 0;
  }
}

void NEWLOG(EchoWriter& w, const std::string& FNAME) {
  FWRITE(w);
  w.FILEFL = 1;
  w.FPATH = short_text(w.ROOTDIR + FNAME);
  if (w.FPATH == w.FPATHP && w.FILEHANDLE != kInvalidFile) {
    // The same name as the file being written (two changes within one second):
    // that file is continued. Opening it again would be refused, since it is
    // held without sharing, and the records after the change would be lost.
    w.FILEHANDLENEW = w.FILEHANDLE;
    return;
  }
  w.FPATHP = w.FPATH;
  w.FILEHANDLENEW = w.files->open(w.FPATHP);
}

void ENDLOG(EchoWriter& w) {
  FWRITE(w);
  while (!w.files->wait_done(1000)) {
    w.stage->flush();
    write_line(w.stage->console(), "wait 1000ms");
  }
  w.files->close(w.FILEHANDLE);
  w.FILEHANDLE = kInvalidFile;
  w.files->close_event();
}

}  // namespace kit
