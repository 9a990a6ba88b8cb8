// SPDX-License-Identifier: Apache-2.0
// Tests that put DDS traffic on loopback in a network namespace of their own:
// nobody else's participants on the same domain ids can answer them, and the
// state of `lo` (multicast or not) is theirs to choose. Needs root, or
// unprivileged user namespaces.
#ifndef DATA_CENTER_TEST__E2E__PRIVATE_NETWORK_HPP_
#define DATA_CENTER_TEST__E2E__PRIVATE_NETWORK_HPP_

#include <string>

namespace e2e {

// Moves the calling thread, and so every thread and process it starts from
// now on, into a new network namespace holding only a loopback interface.
// Call it before anything creates a DDS participant. Returns "" or the error.
std::string EnterPrivateNetwork();

// Sets `lo` up, with the multicast flag on or off.
std::string SetLoopback(bool multicast);

// Adds a veth pair `outside` (address `address`/24, up, multicast) and
// `peer` (up, no address): an interface that leads off the host, and the end
// where what leaves through it arrives.
std::string AddVethPair(const std::string & outside, const std::string & address, const std::string & peer);

}  // namespace e2e

#endif  // DATA_CENTER_TEST__E2E__PRIVATE_NETWORK_HPP_
