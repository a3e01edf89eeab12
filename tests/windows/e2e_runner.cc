// Starts the tool for the end-to-end tests under wine. One runner lives for a
// whole test file, so wine starts once instead of once per run, and the exit
// code reaches the tests whole (a Linux shell would see it modulo 256).
//
// Requests come on standard input, one field per line: a keyword, a space and
// the value as hex digits of its bytes (so any byte passes untouched).
//   dir D         working directory of the run
//   env N=V       an environment variable for this run only
//   out P, err P  files that receive the run's standard output and error
//   hold-read P   a file held open during the run as a reader holds it:
//                 others may read it, nobody may write it
//   hold-write P  a file held open during the run as a writer holds it:
//                 nobody else may open it
//   timeout MS    the run is ended after MS milliseconds
//   closed DIGITS the run starts without these standard handles (0 input,
//                 1 output, 2 error): each is given as no handle at all
//   run C         the command line; starts the run
// Standard input of the run is the NUL device. Each run is answered by one
// line: "exit N" (the full exit code), "timeout" or "error TEXT".
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadLine(std::string* line) {
  line->clear();
  for (int c; (c = std::getchar()) != EOF;) {
    if (c == '\n') return true;
    if (c != '\r') line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

bool DecodeHex(const std::string& hex, std::string* out) {
  out->clear();
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]);
    int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

void Answer(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

struct Request {
  std::string directory;
  std::vector<std::pair<std::string, std::string>> environment;
  std::string outPath;
  std::string errPath;
  std::vector<std::pair<std::string, bool>> holds;  // path, held for writing
  DWORD timeout = INFINITE;
  std::string closed;  // standard handles not given
};

HANDLE OpenCapture(const std::string& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs one request and answers it.
void Run(const Request& request, std::string commandLine) {
  // This run's variables; the previous values come back afterwards.
  std::vector<std::pair<std::string, std::string>> saved;
  std::vector<std::string> unset;
  for (const auto& [name, value] : request.environment) {
    char old[32768];
    DWORD length = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    if (length > 0 && length < sizeof old) {
      saved.emplace_back(name, old);
    } else {
      unset.push_back(name);
    }
    SetEnvironmentVariableA(name.c_str(), value.c_str());
  }

  std::vector<HANDLE> held;
  std::string failure;
  DWORD failureCode = 0;
  for (const auto& [path, writing] : request.holds) {
    HANDLE handle = writing ? CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr)
                            : CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      failure = "cannot hold " + path;
      failureCode = GetLastError();
      break;
    }
    held.push_back(handle);
  }

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                             0, nullptr);
  HANDLE output = OpenCapture(request.outPath);
  HANDLE error = OpenCapture(request.errPath);
  if (failure.empty() && (output == INVALID_HANDLE_VALUE || error == INVALID_HANDLE_VALUE)) {
    failure = "cannot create the capture files";
    failureCode = GetLastError();
  }

  if (failure.empty()) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = request.closed.find('0') == std::string::npos ? input : nullptr;
    startup.hStdOutput = request.closed.find('1') == std::string::npos ? output : nullptr;
    startup.hStdError = request.closed.find('2') == std::string::npos ? error : nullptr;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        request.directory.empty() ? nullptr : request.directory.c_str(), &startup,
                        &process)) {
      failure = "cannot start the command";
      failureCode = GetLastError();
    } else {
      DWORD code = 0;
      if (WaitForSingleObject(process.hProcess, request.timeout) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        failure = "timeout";
      } else {
        GetExitCodeProcess(process.hProcess, &code);
      }
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      if (failure.empty()) Answer("exit " + std::to_string(code));
    }
  }

  for (HANDLE handle : {input, output, error}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  for (HANDLE handle : held) CloseHandle(handle);
  for (const auto& [name, value] : saved) SetEnvironmentVariableA(name.c_str(), value.c_str());
  for (const auto& name : unset) SetEnvironmentVariableA(name.c_str(), nullptr);

  if (failure == "timeout") {
    Answer("timeout");
  } else if (!failure.empty()) {
    Answer("error " + std::to_string(failureCode) + " " + failure);
  }
}

}  // namespace

int main() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  Request request;
  std::string line;
  std::string value;
  while (ReadLine(&line)) {
    size_t space = line.find(' ');
    std::string keyword = line.substr(0, space);
    if (space == std::string::npos || !DecodeHex(line.substr(space + 1), &value)) {
      Answer("error 0 bad request line");
      continue;
    }
    if (keyword == "dir") {
      request.directory = value;
    } else if (keyword == "env") {
      size_t equals = value.find('=');
      request.environment.emplace_back(value.substr(0, equals),
                                       equals == std::string::npos ? "" : value.substr(equals + 1));
    } else if (keyword == "out") {
      request.outPath = value;
    } else if (keyword == "err") {
      request.errPath = value;
    } else if (keyword == "hold-read" || keyword == "hold-write") {
      request.holds.emplace_back(value, keyword == "hold-write");
    } else if (keyword == "timeout") {
      request.timeout = static_cast<DWORD>(std::stoul(value));
    } else if (keyword == "closed") {
      request.closed = value;
    } else if (keyword == "run") {
      Run(request, value);
      request = Request();
    } else {
      Answer("error 0 unknown keyword " + keyword);
    }
  }
  return 0;
}
