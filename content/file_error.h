// The error that file reads and writes inside a transfer raise. The transfer
// thread catches it at its top level and ends the transfer with result 12.
#pragma once

#include <stdexcept>
#include <string>

namespace pw {

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace pw
