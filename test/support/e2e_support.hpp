// SPDX-License-Identifier: Apache-2.0
// The whole-system test library in one include: files, child processes, the
// hermetic node, the client binary and its hex output, the in-process caller,
// station lists that name themselves, and the test's domains and knobs.
#ifndef DATA_CENTER_TEST__SUPPORT__E2E_SUPPORT_HPP_
#define DATA_CENTER_TEST__SUPPORT__E2E_SUPPORT_HPP_

#include "caller.hpp"
#include "files.hpp"
#include "hex.hpp"
#include "node_process.hpp"
#include "process.hpp"
#include "station_lists.hpp"
#include "test_environment.hpp"

#endif  // DATA_CENTER_TEST__SUPPORT__E2E_SUPPORT_HPP_
