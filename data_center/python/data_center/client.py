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
Calls on one client run one at a time.

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
from typing import Any, Optional

from google.protobuf.message import DecodeError
from korvane_protocol.srv import DataCenterSrv
from rclpy.executors import SingleThreadedExecutor
from rclpy.node import Node
from rclpy.qos import qos_profile_services_default

from data_center import payloads, protocol

DEFAULT_TIMEOUT_SEC = 5.0


class CallStatus(enum.Enum):
    """How a call ended."""

    OK = 'ok'                    # answered with code 0 (typed calls: and a payload that decodes)
    FAILED = 'failed'            # answered with a non-zero code: see code and msg
    BAD_ANSWER = 'bad answer'    # answered with code 0, but the payload is not the message
    NO_SERVICE = 'no service'    # the service did not appear in time; nothing was sent
    TIMED_OUT = 'timed out'      # sent, but not answered within the timeout
    INTERRUPTED = 'interrupted'  # the context was shut down while waiting


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


class Client:
    """Calls robot_status_query (or `service_name`) for `node`'s process."""

    def __init__(self, node: Node, service_name: str = protocol.SERVICE_NAME,
                 reply_depth: int = protocol.CLIENT_REPLY_DEPTH):
        """reply_depth: replies, its own and others', held until taken; at most that many."""
        if reply_depth < 1:
            raise ValueError('a reply depth of 0 holds no answer')
        qos = copy.copy(qos_profile_services_default)
        qos.depth = reply_depth
        # rclpy executors run whole nodes: a node of the client's own lets a
        # call spin for its answer without taking the caller's node from the
        # executor that spins it, or waiting on that executor from inside one
        # of its callbacks.
        self._node = Node(
            f'{node.get_name()}_data_center_client_{next(_private_nodes)}',
            namespace=node.get_namespace(), context=node.context,
            start_parameter_services=False, enable_rosout=False)
        try:
            self._client = self._node.create_client(DataCenterSrv, service_name, qos_profile=qos)
        except Exception:
            self._node.destroy_node()
            raise
        self._executor = SingleThreadedExecutor(context=node.context)
        self._executor.add_node(self._node)
        self._context = node.context
        self._lock = threading.Lock()

    @property
    def service_name(self) -> str:
        return self._client.srv_name

    def destroy(self) -> None:
        self._executor.shutdown()
        self._node.destroy_node()

    def wait_for_service(self, timeout_sec: Optional[float] = None) -> bool:
        """True once the service is there; False after timeout_sec (None: none) or at shutdown."""
        return self._client.wait_for_service(timeout_sec=timeout_sec)

    # Every call waits up to timeout_sec (None: no limit) for the service,
    # then up to timeout_sec again for the answer.

    def call(self, cmd_id: int, payload: bytes = b'',
             timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """Any command with any payload; the reply's payload is the answer as it came."""
        with self._lock:
            if not self._client.wait_for_service(timeout_sec=timeout_sec):
                return Reply(self._unless_shut_down(CallStatus.NO_SERVICE))
            request = DataCenterSrv.Request(cmd_id=cmd_id, biz_data=bytes(payload))
            future = self._client.call_async(request)
            self._executor.spin_until_future_complete(future, timeout_sec=timeout_sec)
            if not future.done():
                # A late answer must not stay pending.
                self._client.remove_pending_request(future)
                return Reply(self._unless_shut_down(CallStatus.TIMED_OUT))
            response = future.result()
            return Reply(CallStatus.OK if response.code == protocol.CODE_OK else CallStatus.FAILED,
                         response.code, response.msg, bytes(response.biz_data))

    def query_last_map(self, timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """1002: the last used map (answer: MapInfo)."""
        return self._call_for(payloads.MapInfo, protocol.CMD_QUERY_LAST_MAP, timeout_sec)

    def issue_base_station(self, stations: payloads.BaseStationInfo,
                           timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """10001: replaces the stored station list; the service refuses an empty one."""
        return self.call(protocol.CMD_ISSUE_BASE_STATION, stations.SerializeToString(),
                         timeout_sec)

    def query_base_station(self, timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """10002: the stored station list (answer: BaseStationInfo)."""
        return self._call_for(payloads.BaseStationInfo, protocol.CMD_QUERY_BASE_STATION,
                              timeout_sec)

    def query_robot_info(self, timeout_sec: Optional[float] = DEFAULT_TIMEOUT_SEC) -> Reply:
        """10003: job statistics (answer: RobotInfoResp)."""
        return self._call_for(payloads.RobotInfoResp, protocol.CMD_QUERY_ROBOT_INFO, timeout_sec)

    def _unless_shut_down(self, status: CallStatus) -> CallStatus:
        return status if self._context.ok() else CallStatus.INTERRUPTED

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
