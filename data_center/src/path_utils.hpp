// SPDX-License-Identifier: Apache-2.0
// Small path helpers for the map-history file.
#ifndef DATA_CENTER__PATH_UTILS_HPP_
#define DATA_CENTER__PATH_UTILS_HPP_

#include <string>

#include <boost/system/error_code.hpp>

namespace data_center {

// `text` without leading and trailing runs of `c`.
std::string TrimChar(const std::string & text, char c);

// Trims spaces (only the space character) and replaces a leading tilde with
// the value of HOME ("~bob/x" becomes HOME + "bob/x": no user lookup). When
// HOME is not set the tilde is left as it is.
std::string ExpandUserPath(const std::string & path);

// True when the entry exists (a symbolic link counts when its target exists).
// A missing entry, or a path running through something that is not a
// directory, gives false. Any other failure to read the status (no search
// permission, a symbolic link loop, a name too long) throws
// boost::filesystem::filesystem_error.
bool PathExists(const std::string & path);

// The same test without exceptions: such a failure gives false with `error`
// set to its reason; otherwise `error` is cleared.
bool PathExists(const std::string & path, boost::system::error_code & error);

}  // namespace data_center

#endif  // DATA_CENTER__PATH_UTILS_HPP_
