# SPDX-License-Identifier: Apache-2.0
"""The typed Python client against a stand-in service in this process.

How it tells answers, codes, bad payloads, missing services, time-outs and
interruptions apart; and how it behaves shared by two threads, in a `with`
block, destroyed during a call, and in a process whose node is renamed.
Run by colcon test with the installed data_center package on PYTHONPATH, on
the ROS_DOMAIN_ID the isolated runner gives it.
"""

from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
import os
import threading
import time

from data_center import payloads, protocol
from data_center.client import CallStatus, Client
from korvane_protocol.srv import DataCenterSrv
import pytest
import rclpy
from rclpy.context import Context
from rclpy.executors import SingleThreadedExecutor
from rclpy.node import Node

BOUND_SEC = 10.0  # only a hang reaches it


def use_loopback_only(environ):
    """Loopback only, in the variable this ROS 2 reads.

    Jazzy warns at every init whenever ROS_LOCALHOST_ONLY is set at all.
    """
    if environ.get('ROS_DISTRO', 'humble') in ('foxy', 'galactic', 'humble'):
        environ['ROS_LOCALHOST_ONLY'] = '1'
        environ.pop('ROS_AUTOMATIC_DISCOVERY_RANGE', None)
    else:
        environ.pop('ROS_LOCALHOST_ONLY', None)
        environ['ROS_AUTOMATIC_DISCOVERY_RANGE'] = 'LOCALHOST'


use_loopback_only(os.environ)  # before any context of this module


def wait_until(condition, what):
    give_up = time.monotonic() + BOUND_SEC
    while not condition():
        if time.monotonic() > give_up:
            pytest.fail(what)
        time.sleep(0.01)


def new_context(args=None):
    context = Context()
    rclpy.init(args=args, context=context)
    return context


@dataclass
class Answer:
    code: int = 0
    msg: str = ''
    payload: bytes = b''
    silent: bool = False  # answers only once released, at the latest when the test ends


SERVICES = ('client_test_answers', 'client_test_slow', 'client_test_silent_shutdown',
            'client_test_silent_destroy', 'client_test_silent_before', 'client_test_shared',
            'client_test_with', 'client_test_renamed', 'client_test_limit')


class StandIn:
    """The SERVICES in a context of their own; answer what the test set, keep the requests."""

    def __init__(self):
        self.context = new_context()
        self.node = Node('stand_in', context=self.context)
        self.lock = threading.Condition()
        self.answers = {name: (Answer(), 0) for name in SERVICES}
        self.requests = {name: [] for name in SERVICES}
        self.releases = 0
        for name in SERVICES:
            self.node.create_service(DataCenterSrv, name, self._answerer(name))
        self.executor = SingleThreadedExecutor(context=self.context)
        self.executor.add_node(self.node)
        self.thread = threading.Thread(target=self.executor.spin)
        self.thread.start()

    def serve(self, name, answer):
        with self.lock:
            self.answers[name] = (answer, self.releases)

    def received(self, name):
        with self.lock:
            return list(self.requests[name])

    def release(self):
        """Lets the silent answers served so far go, now or when they are asked for."""
        with self.lock:
            self.releases += 1
            self.lock.notify_all()

    def close(self):
        self.release()
        self.executor.shutdown()
        self.thread.join(BOUND_SEC)
        self.node.destroy_node()
        rclpy.shutdown(context=self.context)

    def _answerer(self, name):
        def respond(request, response):
            with self.lock:
                self.requests[name].append((request.cmd_id, bytes(request.biz_data)))
                answer, served = self.answers[name]
                if answer.silent:
                    self.lock.wait_for(lambda: self.releases != served)
            response.code, response.msg = answer.code, answer.msg
            response.biz_data = answer.payload
            return response
        return respond


@pytest.fixture(scope='module')
def stand_ins():
    stand_in = StandIn()
    yield stand_in
    stand_in.close()


@pytest.fixture
def stand_in(stand_ins):
    """The module's stand-in, its silent answers let go when the test ends."""
    yield stand_ins
    stand_ins.release()


@pytest.fixture
def context():
    """The callers' context, one per test: some tests shut it down."""
    context = new_context()
    yield context
    if context.ok():
        rclpy.shutdown(context=context)


@pytest.fixture
def caller(context):
    node = Node('caller', context=context)
    yield node
    node.destroy_node()


def in_thread(function, *args):
    """Runs function(*args) on a thread of its own; result() gives what it returned or raised."""
    pool = ThreadPoolExecutor(max_workers=1)
    future = pool.submit(function, *args)
    pool.shutdown(wait=False)
    return future


INFO = payloads.RobotInfoResp()
INFO.job_info.work_hours = 3000
STATIONS = payloads.BaseStationInfo()
STATIONS.bs_pose.add(map_id=3, x=1.5, map_id_str='m3')


def asks(method, *args):
    """A call of the client's `method` with args, then a timeout only a hang reaches."""
    return lambda client: getattr(client, method)(*args, BOUND_SEC)


@pytest.mark.parametrize('answer, call, sent, status, decoded', [
    pytest.param(Answer(payload=INFO.SerializeToString()), asks('query_robot_info'),
                 (10003, b''), CallStatus.OK, INFO, id='robot info'),
    pytest.param(Answer(payload=STATIONS.SerializeToString()), asks('query_base_station'),
                 (10002, b''), CallStatus.OK, STATIONS, id='station list'),
    pytest.param(Answer(), asks('query_base_station'), (10002, b''), CallStatus.OK,
                 payloads.BaseStationInfo(), id='empty payload, empty message'),
    pytest.param(Answer(payload=b'\x0a'), asks('query_last_map'),
                 (1002, b''), CallStatus.BAD_ANSWER, None, id='code 0, payload cut short'),
    pytest.param(Answer(), asks('issue_base_station', STATIONS),
                 (10001, STATIONS.SerializeToString()), CallStatus.OK, None, id='stations sent'),
    pytest.param(Answer(10006, 'no', INFO.SerializeToString()), asks('query_robot_info'),
                 (10003, b''), CallStatus.FAILED, None, id='refused'),
    pytest.param(Answer(10002, '', b'\x0a'), asks('call', 4242, b'\x01\x02'),
                 (4242, b'\x01\x02'), CallStatus.FAILED, None, id='any command'),
])
def test_answers_and_codes_are_told_apart(stand_in, caller, answer, call, sent, status, decoded):
    stand_in.serve('client_test_answers', answer)
    with Client(caller, 'client_test_answers') as client:
        reply = call(client)
    assert reply.status is status
    assert reply.ok == (status is CallStatus.OK)
    assert (reply.code, reply.msg, reply.payload) == (answer.code, answer.msg, answer.payload)
    assert reply.answer == decoded
    assert stand_in.received('client_test_answers')[-1] == sent


def test_no_service_and_time_outs_are_told_apart(stand_in, caller):
    with Client(caller, 'client_test_nobody') as client:
        assert client.query_robot_info(0.3).status is CallStatus.NO_SERVICE

    stand_in.serve('client_test_slow', Answer(10002, 'late', silent=True))
    with Client(caller, 'client_test_slow') as client:
        assert client.wait_for_service(BOUND_SEC)
        assert client.call(1, b'', 0.3).status is CallStatus.TIMED_OUT
        wait_until(lambda: stand_in.received('client_test_slow'), 'the request did not arrive')
        # The late answer to the first call must not pass for the next one's.
        stand_in.serve('client_test_slow', Answer())
        stand_in.release()
        reply = client.call(2, b'', BOUND_SEC)
        assert (reply.status, reply.code) == (CallStatus.OK, 0), reply
        assert stand_in.received('client_test_slow')[-1] == (2, b'')


def list_of_size(size, poses=1, map_id=0):
    """A list of `poses` poses, the last one's map named so that it encodes to `size` bytes."""
    stations = payloads.BaseStationInfo()
    for _ in range(poses):
        stations.bs_pose.add(map_id=map_id)
    name = size - stations.ByteSize()
    while name > 0:
        stations.bs_pose[-1].map_id_str = 'm' * name
        if stations.ByteSize() <= size:
            break
        name -= 1
    return stations


LIMIT = protocol.MAX_STATION_LIST_BYTES


# 10001 takes lists up to the node's limit as they encode: one at it is sent,
# as it encodes; one above it is not sent at all, and the status says why,
# naming the limit. A negative map_id encodes in ten bytes, 13 a pose, which
# the node would refuse once decoded, though five-byte varints would fit.
@pytest.mark.parametrize('stations, status', [
    pytest.param(list_of_size(LIMIT), CallStatus.OK, id='at the limit'),
    pytest.param(list_of_size(LIMIT + 1), CallStatus.TOO_LARGE, id='a byte above'),
    pytest.param(list_of_size(8192 * 13, 8192, -1), CallStatus.TOO_LARGE, id='13-byte poses'),
])
def test_station_lists_above_the_limit_are_not_sent(stand_in, caller, stations, status):
    stand_in.serve('client_test_limit', Answer())
    with Client(caller, 'client_test_limit') as client:
        assert client.wait_for_service(BOUND_SEC)
        before = len(stand_in.received('client_test_limit'))
        reply = client.issue_base_station(stations, BOUND_SEC)
    assert reply.status is status
    received = stand_in.received('client_test_limit')[before:]
    if status is CallStatus.OK:
        assert received == [(10001, stations.SerializeToString())]
        assert len(received[0][1]) == LIMIT == 65536
    else:
        assert received == []
        assert reply.status.value == 'station list above 65536 bytes, not sent'


def shut_down(client, context):
    rclpy.shutdown(context=context)


def destroy(client, context):
    client.destroy()


@pytest.mark.parametrize('service, interrupt, before', [
    pytest.param('client_test_silent_shutdown', shut_down, False,
                 id='shut down while waiting for the answer'),
    pytest.param('client_test_silent_destroy', destroy, False,
                 id='destroyed while waiting for the answer'),
    pytest.param(None, shut_down, False, id='shut down while waiting for the service'),
    pytest.param(None, destroy, False, id='destroyed while waiting for the service'),
    pytest.param('client_test_silent_before', shut_down, True, id='shut down before the call'),
    pytest.param('client_test_silent_before', destroy, True, id='called after destroy'),
])
def test_interrupted_calls_say_so(stand_in, context, caller, service, interrupt, before):
    if service is not None:
        stand_in.serve(service, Answer(silent=True))
    with Client(caller, service or 'client_test_nobody') as client:
        if service is not None:
            assert client.wait_for_service(BOUND_SEC)
        if before:
            interrupt(client, context)
            assert client.query_robot_info(BOUND_SEC).status is CallStatus.INTERRUPTED
            assert not client.wait_for_service(BOUND_SEC)
            return
        call = in_thread(client.query_robot_info, BOUND_SEC)
        if service is not None:
            wait_until(lambda: stand_in.received(service), 'the request did not arrive')
        else:
            time.sleep(0.3)  # a call without service waits out its timeout
        interrupt(client, context)
        assert call.result(BOUND_SEC * 2).status is CallStatus.INTERRUPTED


# A short call queued behind another thread's long wait for an answer gives up
# at its own timeout, while the long call still waits, instead of after it.
def test_a_queued_call_gives_up_at_its_own_timeout(stand_in, caller):
    stand_in.serve('client_test_shared', Answer(silent=True))
    with Client(caller, 'client_test_shared') as client:
        assert client.wait_for_service(BOUND_SEC)
        long_call = in_thread(client.call, 1, b'', 5.0)
        wait_until(lambda: stand_in.received('client_test_shared'), 'the long call sent nothing')
        assert client.call(2, b'', 0.3).status is CallStatus.TIMED_OUT
        assert not long_call.done(), 'the short call waited for the long one'
        assert long_call.result(BOUND_SEC).status is CallStatus.TIMED_OUT


def private_nodes(node, prefix):
    return [name for name in node.get_node_names() if name.startswith(prefix)]


def test_with_block_destroys_the_client(stand_in, context):
    stand_in.serve('client_test_with', Answer())
    caller = Node('with_caller', context=context)
    with Client(caller, 'client_test_with') as client:
        assert client.call(1, b'', BOUND_SEC).ok
        wait_until(lambda: private_nodes(caller, 'with_caller_data_center_client_'),
                   'no node of the client')
    wait_until(lambda: not private_nodes(caller, 'with_caller_data_center_client_'),
               'its node outlived it')
    assert client.call(1, b'', BOUND_SEC).status is CallStatus.INTERRUPTED
    client.destroy()  # again: nothing left to do
    caller.destroy_node()


# The process's ROS arguments are the caller's: its renamed node, and its
# remapped service name, but not a second node of the caller's name.
def test_the_clients_node_keeps_its_own_name_and_the_callers_remapping(stand_in):
    context = new_context(['--ros-args', '-r', '__node:=renamed',
                           '-r', 'client_test_alias:=client_test_renamed'])
    caller = Node('caller', context=context)
    try:
        assert caller.get_name() == 'renamed'
        stand_in.serve('client_test_renamed', Answer())
        with Client(caller, 'client_test_alias') as client:
            assert client.service_name == '/client_test_renamed'
            assert client.call(7, b'', BOUND_SEC).ok
            wait_until(lambda: len(private_nodes(caller, 'renamed')) == 2,
                       'not the caller and the client')
            names = private_nodes(caller, 'renamed')
            assert names.count('renamed') == 1, names
    finally:
        caller.destroy_node()
        rclpy.shutdown(context=context)
