// SPDX-License-Identifier: Apache-2.0
// Reading a file that someone else may replace at any moment: it is opened
// first and the open file examined afterwards, so nothing can be swapped in
// between the two. Opening never blocks (a FIFO would wait for a writer) and
// never makes a terminal the controlling one; only a regular file is read (a
// device may never end).
#ifndef DATA_CENTER__FILE_READING_HPP_
#define DATA_CENTER__FILE_READING_HPP_

#include <string>

namespace data_center {

enum class OpenStatus {
  kOpened,      // `fd` is open on a regular file; the caller closes it
  kMissing,     // no entry under that name
  kNotRegular,  // a folder, FIFO, device or socket
  kFailed,      // the open failed otherwise; `error_number` says why
};

// `fd` is -1 unless kOpened; `error_number` is the errno of kMissing and
// kFailed, 0 otherwise.
OpenStatus OpenRegularFile(const std::string & path, int & fd, int & error_number);

// The first whitespace-delimited token of the file, as extracting a
// std::string from a stream reads it: leading white space skipped, no length
// limit; empty when the file holds only white space. False, with an empty
// token, when reading fails.
bool ReadFirstToken(int fd, std::string & token, int & error_number);

}  // namespace data_center

#endif  // DATA_CENTER__FILE_READING_HPP_
