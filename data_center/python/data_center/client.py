# SPDX-License-Identifier: Apache-2.0
"""A typed rclpy client of robot_status_query, of the same shape as the C++ one.

    client = Client(node)
    info = client.query_robot_info(timeout_sec=2.0)
    if info.ok:
        print(info.answer.job_info.work_hours)

Each call returns a Reply: how the call ended (status), the service's result
code and text, the answer payload as it came, and for the typed calls the
decoded message (answer, set when ok).

The client waits for its answers on a node and executor of its own, in the
node's context and namespace, so it may be called from any thread: from one
that spins nothing, or from a callback while an executor spins the node.
Calls on one client run one at a time; a call waits for its turn as part of
its wait for the service.

A client is closed by destroy(), or at the end of a `with` block; a call
that is waiting then returns INTERRUPTED, and so does every call after it.

Its reply history is deeper than the service's (protocol.CLIENT_REPLY_DEPTH):
every client of the service receives every caller's replies and drops the
others' only as it takes them, so with the service's keep-last 10 a client
whose process waits for the CPU loses its own answer to other callers'.
"""

import copy
from dataclasses import dataclass
import enum
import itertools
import threading
import time
from typing import Any, Optional

from google.protobuf.message import DecodeError
from korvane_protocol.srv import DataCenterSrv
from rclpy.executors import ExternalShutdownException, SingleThreadedExecutor
from rclpy.node import Node
from rclpy.qos import qos_profile_services_default

from data_center import payloads, protocol

DEFAULT_TIMEOUT_SEC = 5.0

# How often a wait for the service looks again.
_SERVICE_POLL_SEC = 0.05
# The longest single wait handed to a lock or the executor; longer ones are
# waited in pieces (rclpy's timers and Python's locks overflow far below
# what a float can hold).
_LONGEST_WAIT_SEC = 3600.0


class CallStatus(enum.Enum):
    """How a call ended."""

    OK = 'ok'                    # answered with code 0 (typed calls: and a payload that decodes)
    FAILED = 'failed'            # answered with a non-zero code: see code and msg
    BAD_ANSWER = 'bad answer'    # answered with code 0, but the payload is not the message
    NO_SERVICE = 'no service'    # the service did not appear in time; nothing was sent
    # not answered within the timeout: sent, or (nothing sent) other calls of
    # this client took the whole wait for the service
    TIMED_OUT = 'timed out'
    # the context was shut down, or the client destroyed, before or while the call waited
    INTERRUPTED = 'interrupted'
    # 10001: the list encodes above MAX_STATION_LIST_BYTES, which the node
    # refuses; nothing was sent
    TOO_LARGE = f'station list above {protocol.MAX_STATION_LIST_BYTES} bytes, not sent'


@dataclass
class Reply:
    """The answer as it came; code, msg and payload are set when the service answered."""

    status: CallStatus
    code: int = 0
    msg: str = ''
    payload: bytes = b''
    answer: Optional[Any] = None  # typed calls: the decoded message, when ok

    @property
    def ok(self) -> bool:
        return self.status is CallStatus.OK


_private_nodes = itertools.count(1)


def _deadline(timeout_sec: Optional[float]) -> Optional[float]:
    """The monotonic time a wait of timeout_sec ends at; None (or negative): none."""
    return None if timeout_sec is None or timeout_sec < 0 else time.monotonic() + timeout_sec


def _left(deadline: Optional[float]) -> float:
    """The next wait up to deadline, 0 once it passed."""
    if deadline is None:
        return _LONGEST_WAIT_SEC
    return min(max(deadline - time.monotonic(), 0.0), _LONGEST_WAIT_SEC)


def _passed(deadline: Optional[float]) -> bool:
    return deadline is not None and time.monotonic() >= deadline


class Client:
    """Calls robot_status_query (or `service_name`) for `node`'s process."""

    def __init__(self, node: Node, service_name: str = protocol.SERVICE_NAME,
                 reply_depth: int = protocol.CLIENT_REPLY_DEPTH):
        """reply_depth: replies, its own and others', held until taken; at most that many."""
        if reply_depth < 1:
            raise ValueError('a reply depth of 0 holds no answer')
        qos = copy.copy(qos_profile_services_default)
        qos.depth = reply_depth
        # Named as the caller's node names it: in its namespace, with its
        # remapping rules, the process's and its own (raises for a bad name).
        resolved = node.resolve_service_name(service_name)
        # rclpy executors run whole nodes: a node of the client's own lets a
        # call spin for its answer without taking the caller's node from the
        # executor that spins it, or waiting on that executor from inside one
        # of its callbacks. It takes none of the process's ROS arguments: a
        # `-r __node:=...` meant for the caller would name it too, and the
        # service name is remapped already.
        self._node = Node(
            f'{node.get_name()}_data_center_client_{next(_private_nodes)}',
            namespace=node.get_namespace(), context=node.context, use_global_arguments=False,
            start_parameter_services=False, enable_rosout=False)
        try:
            self._client = self._node.create_client(DataCenterSrv, resolved, qos_profile=qos)
            # Triggered by destroy(): ends a call's wait for its answer.
            self._wake = self._node.create_guard_condition(lambda: None)
        except Exception:
            self._node.destroy_node()
            raise
        self._executor = SingleThreadedExecutor(context=node.context)
        self._executor.add_node(self._node)
        self._context = node.context
        # The executor spins on one thread at a time: one call at a time.
        self._turn = threading.Lock()
        # Keeps destroy() from freeing the node under a look at the service.
        self._state = threading.Lock()
        self._closed = threading.Event()
        self._destroyed = False

    @property
    def service_name(self) -> str:
        """The resolved name of the service."""
        return self._client.srv_name

    def __enter__(self) -> 'Client':
        return self

    def __exit__(self, *exc_info) -> None:
        self.destroy()

    def destroy(self) -> None:
        """Close the client and free its node; safe to call again, and from any thread.

        A call waiting on another thread returns INTERRUPTED, and destroy()
        returns once it has; later calls return INTERRUPTED at once.
        """
        with self._state:
            if not self._closed.is_set():
                self._closed.set()
                self._wake.trigger()
        with self._turn, self._state:
            if not self._destroyed:
                self._destroyed = True
                self._executor.shutdown()
                self._node.destroy_node()

    def wait_for_service(self, timeout_sec: Optional[float] = None) -> bool:
        """True once the service is there; False after timeout_sec (None: none), at shutdown,
        or once the client is destroyed."""
        try:
            return self._wait_for_service(_deadline(timeout_sec))
        except Exception:
            if self._interrupted():
                return False
            raise

    # Every call waits up to timeout_sec (None or negative: no limit) for its
    # turn on this client (other threads' calls on it run first) and the
    # service together, then up to timeout_sec again for the answer. A call
    # that does not get its turn in time sends nothing and returns TIMED_OUT.

    def call(self, cmd_id: int, payload: bytes = b'',
             timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """Any command with any payload; the reply's payload is the answer as it came."""
        deadline = _deadline(timeout_sec)
        while not self._turn.acquire(timeout=_left(deadline)):
            if _passed(deadline):
                return Reply(self._unless_interrupted(CallStatus.TIMED_OUT))
        try:
            return self._call(cmd_id, payload, deadline, timeout_sec)
        except ExternalShutdownException:
            return Reply(CallStatus.INTERRUPTED)
        except Exception:
            # The entities of a context that is shut down fail in more ways
            # than one; each is an interruption.
            if self._interrupted():
                return Reply(CallStatus.INTERRUPTED)
            raise
        finally:
            self._turn.release()

    def query_last_map(self, timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """1002: the last used map (answer: MapInfo)."""
        return self._call_for(payloads.MapInfo, protocol.CMD_QUERY_LAST_MAP, timeout_sec)

    def issue_base_station(self, stations: payloads.BaseStationInfo,
                           timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """10001: replaces the stored station list; the service refuses an empty one.

        A list that encodes above MAX_STATION_LIST_BYTES is not sent: TOO_LARGE, at once.
        """
        payload = stations.SerializeToString()
        # The node refuses a list above the limit as it comes and as it
        # encodes it to store it; protobuf's own encoding, which this is,
        # encodes again to the same size, so its size decides both.
        if len(payload) > protocol.MAX_STATION_LIST_BYTES:
            return Reply(CallStatus.TOO_LARGE)
        return self.call(protocol.CMD_ISSUE_BASE_STATION, payload, timeout_sec)

    def query_base_station(self, timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """10002: the stored station list (answer: BaseStationInfo)."""
        return self._call_for(payloads.BaseStationInfo, protocol.CMD_QUERY_BASE_STATION,
                              timeout_sec)

    def query_robot_info(self, timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """10003: job statistics (answer: RobotInfoResp)."""
        return self._call_for(payloads.RobotInfoResp, protocol.CMD_QUERY_ROBOT_INFO, timeout_sec)

    def _call(self, cmd_id: int, payload: bytes, deadline: Optional[float],
              timeout_sec: Optional[float]) -> Reply:
        if self._interrupted():
            return Reply(CallStatus.INTERRUPTED)
        if not self._wait_for_service(deadline):
            return Reply(self._unless_interrupted(CallStatus.NO_SERVICE))
        request = DataCenterSrv.Request(cmd_id=cmd_id, biz_data=bytes(payload))
        future = self._client.call_async(request)
        try:
            answered = self._wait_for_answer(future, _deadline(timeout_sec))
        finally:
            if not future.done():
                # A late answer must not stay pending.
                self._client.remove_pending_request(future)
        if not answered:
            return Reply(self._unless_interrupted(CallStatus.TIMED_OUT))
        response = future.result()
        return Reply(CallStatus.OK if response.code == protocol.CODE_OK else CallStatus.FAILED,
                     response.code, response.msg, bytes(response.biz_data))

    def _wait_for_service(self, deadline: Optional[float]) -> bool:
        while True:
            with self._state:
                if self._interrupted():
                    return False
                if self._client.service_is_ready():
                    return True
            if _passed(deadline):
                return False
            self._closed.wait(min(_left(deadline), _SERVICE_POLL_SEC))

    def _wait_for_answer(self, future, deadline: Optional[float]) -> bool:
        # A callback at a time rather than spin_until_future_complete, which
        # destroy() could not end: its guard condition wakes spin_once.
        while not future.done():
            if self._interrupted() or _passed(deadline):
                return False
            # Raises ExternalShutdownException when the context is shut down.
            self._executor.spin_once(timeout_sec=_left(deadline))
        return True

    def _interrupted(self) -> bool:
        return self._closed.is_set() or not self._context.ok()

    def _unless_interrupted(self, status: CallStatus) -> CallStatus:
        return CallStatus.INTERRUPTED if self._interrupted() else status

    def _call_for(self, message_type, cmd_id: int, timeout_sec: Optional[float]) -> Reply:
        reply = self.call(cmd_id, b'', timeout_sec)
        if reply.ok:
            # Code 0 with a payload that is not the message is no success; an
            # empty payload is the message with every field at its default.
            try:
                reply.answer = message_type.FromString(reply.payload)
            except DecodeError:
                reply.status = CallStatus.BAD_ANSWER
        return reply
