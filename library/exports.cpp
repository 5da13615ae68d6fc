// The library's 25 exports: the host's text in and out, one library instance.
// On Windows the host's text is in the ANSI code page; on Linux it is UTF-8
// (the locale's encoding). Inside, text is UTF-8.
#define PORTWICK_BUILD
#include "include/portwick.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "library/host_call.h"
#include "library/portwick_library.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/registry.h"

namespace pw {

std::atomic<int>& CallsInLibrary() {
  static std::atomic<int> calls{0};
  return calls;
}

/// The library's one instance. It is never destroyed: the unloading closes
/// what it holds (Unload), and nothing may join a thread then.
PortwickLibrary*& LibraryInstance() {
  static PortwickLibrary* instance = nullptr;
  return instance;
}

namespace {

PortwickLibrary& Lib() {
  static PortwickLibrary* lib = LibraryInstance() = new PortwickLibrary(LibraryParts{
      .host = SystemLibraryHost(),
      .boxes = SystemMessageBoxes(),
      .registry = SystemRegistry(),
      .clock = SystemClock(),
  });
  return *lib;
}

std::string In(const char* text) {
  if (text == nullptr) return std::string();
#ifdef _WIN32
  return FromAnsi(text);
#else
  return text;
#endif
}

void Out(char* buffer, const std::string& utf8) {
  if (buffer == nullptr) return;
#ifdef _WIN32
  const AnsiString text = ToAnsi(utf8);
#else
  const std::string& text = utf8;
#endif
  std::memcpy(buffer, text.c_str(), text.size() + 1);
}

void Out(char** buffer, const std::string& utf8) {
  if (buffer != nullptr) Out(*buffer, utf8);
}

/// A window handle: a 32-bit value widened with its sign.
std::intptr_t Wnd(std::int32_t hostWnd) { return static_cast<std::intptr_t>(hostWnd); }

template <class Buffer>
std::int32_t GetVer(Buffer buf) {
  Out(buf, PortwickLibrary::Version());
  return -1;
}

template <class Buffer>
std::int32_t GetPort(Buffer buf) {
  std::string name;
  const std::int32_t r = Lib().GetComPort(name);
  if (r != 0) Out(buf, name);
  return r;
}

template <class Buffer>
std::int32_t GetFolder(std::int32_t kind, Buffer buf) {
  std::string folder;
  const std::int32_t r = Lib().GetDefFolder(kind, folder);
  if (r != 0) Out(buf, folder);
  return r;
}

template <class Buffer>
std::int32_t Rcv(std::int32_t handle, const char* folder, std::int32_t continuous, std::int32_t append,
                 Buffer rcvName, Buffer rcvFields) {
  std::optional<PortwickLibrary::Received> received;
  const std::int32_t r = Lib().Receive(handle, In(folder), continuous, append, received);
  if (received) {
    Out(rcvName, received->name);
    Out(rcvFields, received->fields);
  }
  return r;
}

template <class Buffer>
std::int32_t RcvA(Buffer rcvName, Buffer rcvFields) {
  std::optional<PortwickLibrary::Received> received;
  const std::int32_t r = Lib().ReceiveA(received);
  if (received) {
    Out(rcvName, received->name);
    Out(rcvFields, received->fields);
  }
  return r;
}

const char* Text(char* buffer) { return buffer; }
const char* Text(char** buffer) { return buffer != nullptr ? *buffer : nullptr; }

template <class Buffer>
std::int32_t Chk(std::int32_t handle, const char* folder, std::int32_t continuous, std::int32_t append,
                 const char* expectName, Buffer fields) {
  std::string list = In(Text(fields));
  const bool given = !list.empty();
  const std::int32_t r = Lib().RcvFileChk(handle, In(folder), continuous, append, In(expectName), list);
  if (!given) Out(fields, list);
  return r;
}

template <class Buffer>
std::int32_t ChkA(const char* expectName, Buffer fields) {
  std::string list = In(Text(fields));
  const bool given = !list.empty();
  const std::int32_t r = Lib().RcvFileChkA(In(expectName), list);
  if (!given) Out(fields, list);
  return r;
}

}  // namespace
}  // namespace pw

using pw::HostCall;
using pw::In;
using pw::Lib;
using pw::Wnd;

extern "C" {

int32_t PORTWICK_CALL InitPortwick(void) {
  HostCall call;
  return Lib().InitPortwick();
}
int32_t PORTWICK_CALL GetPortwickVer(char* buf) { return pw::GetVer(buf); }
int32_t PORTWICK_CALL GetPortwickVer2(char** buf) { return pw::GetVer(buf); }
int32_t PORTWICK_CALL OpenCom(int32_t hostWnd, const char* port, int32_t speed) {
  HostCall call;
  return Lib().OpenCom(Wnd(hostWnd), In(port), speed);
}
int32_t PORTWICK_CALL OpenComA(int32_t hostWnd) {
  HostCall call;
  return Lib().OpenComA(Wnd(hostWnd));
}
int32_t PORTWICK_CALL GetComPort(char* buf) {
  HostCall call;
  return pw::GetPort(buf);
}
int32_t PORTWICK_CALL GetComPort2(char** buf) {
  HostCall call;
  return pw::GetPort(buf);
}
int32_t PORTWICK_CALL SetVisible(int32_t show, int32_t save) {
  HostCall call;
  return Lib().SetVisible(show, save);
}
int32_t PORTWICK_CALL SetSaveLog(int32_t enable, int32_t mode, const char* folder, int32_t save) {
  HostCall call;
  return Lib().SetSaveLog(enable, mode, In(folder), save);
}
int32_t PORTWICK_CALL SetDefFolder(const char* folder, int32_t kind, int32_t save) {
  HostCall call;
  return Lib().SetDefFolder(In(folder), kind, save);
}
int32_t PORTWICK_CALL GetDefFolder(int32_t kind, char* buf) {
  HostCall call;
  return pw::GetFolder(kind, buf);
}
int32_t PORTWICK_CALL GetDefFolder2(int32_t kind, char** buf) {
  HostCall call;
  return pw::GetFolder(kind, buf);
}
int32_t PORTWICK_CALL SetComMode(int32_t hostWnd) {
  HostCall call;
  return Lib().SetComMode(Wnd(hostWnd));
}
int32_t PORTWICK_CALL BreakCom(int32_t handle) {
  HostCall call;
  return Lib().BreakCom(handle);
}
int32_t PORTWICK_CALL CloseCom(int32_t handle) {
  HostCall call;
  return Lib().CloseCom(handle);
}
int32_t PORTWICK_CALL Send(int32_t handle, const char* pcFile, const char* bhtName, const char* fields) {
  HostCall call;
  return Lib().Send(handle, In(pcFile), In(bhtName), In(fields));
}
int32_t PORTWICK_CALL SendA(const char* pcFile) {
  HostCall call;
  return Lib().SendA(In(pcFile));
}
int32_t PORTWICK_CALL Receive(int32_t handle, const char* folder, int32_t continuous, int32_t append, char* rcvName,
                              char* rcvFields) {
  HostCall call;
  return pw::Rcv(handle, folder, continuous, append, rcvName, rcvFields);
}
int32_t PORTWICK_CALL Receive2(int32_t handle, const char* folder, int32_t continuous, int32_t append,
                               char** rcvName, char** rcvFields) {
  HostCall call;
  return pw::Rcv(handle, folder, continuous, append, rcvName, rcvFields);
}
int32_t PORTWICK_CALL ReceiveA(char* rcvName, char* rcvFields) {
  HostCall call;
  return pw::RcvA(rcvName, rcvFields);
}
int32_t PORTWICK_CALL ReceiveA2(char** rcvName, char** rcvFields) {
  HostCall call;
  return pw::RcvA(rcvName, rcvFields);
}
int32_t PORTWICK_CALL RcvFileChk(int32_t handle, const char* folder, int32_t continuous, int32_t append,
                                 const char* expectName, char* fields) {
  HostCall call;
  return pw::Chk(handle, folder, continuous, append, expectName, fields);
}
int32_t PORTWICK_CALL RcvFileChk2(int32_t handle, const char* folder, int32_t continuous, int32_t append,
                                  const char* expectName, char** fields) {
  HostCall call;
  return pw::Chk(handle, folder, continuous, append, expectName, fields);
}
int32_t PORTWICK_CALL RcvFileChkA(const char* expectName, char* fields) {
  HostCall call;
  return pw::ChkA(expectName, fields);
}
int32_t PORTWICK_CALL RcvFileChkA2(const char* expectName, char** fields) {
  HostCall call;
  return pw::ChkA(expectName, fields);
}

}  // extern "C"
