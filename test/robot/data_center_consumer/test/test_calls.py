# SPDX-License-Identifier: Apache-2.0
"""The installed data_center node, called by another package's programs.

One node for the module, as installed (lib/data_center/data_center), under the
repository's hermetic launcher (DATA_CENTER_HERMETIC) with a private
/opt/korvane that holds a map history of our own, on the ROS_DOMAIN_ID the
isolated test runner gave this test.
"""

import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time

from ament_index_python.packages import get_package_prefix
import pytest

MAP_ID = 'consumer_map_7'
BOUND_SEC = 60


def use_loopback_only(environ):
    """Keep the test's processes on loopback, in the variable this ROS 2 reads.

    Humble reads ROS_LOCALHOST_ONLY. Jazzy reads ROS_AUTOMATIC_DISCOVERY_RANGE
    and warns at every init whenever ROS_LOCALHOST_ONLY is set at all.
    """
    if environ.get('ROS_DISTRO', 'humble') in ('foxy', 'galactic', 'humble'):
        environ['ROS_LOCALHOST_ONLY'] = '1'
        environ.pop('ROS_AUTOMATIC_DISCOVERY_RANGE', None)
    else:
        environ.pop('ROS_LOCALHOST_ONLY', None)
        environ['ROS_AUTOMATIC_DISCOVERY_RANGE'] = 'LOCALHOST'


@pytest.fixture(scope='module')
def node():
    hermetic = os.environ['DATA_CENTER_HERMETIC']
    program = pathlib.Path(get_package_prefix('data_center'), 'lib', 'data_center', 'data_center')
    with tempfile.TemporaryDirectory() as root:
        root = pathlib.Path(root)
        map_dir = root / 'korvane' / 'data' / 'resource' / 'map'
        for folder in (map_dir, root / 'work', root / 'ros_log'):
            folder.mkdir(parents=True)
        (map_dir / 'history.map').write_text(f'{MAP_ID} 2024-01-01\n')
        use_loopback_only(os.environ)
        os.environ['ROS_LOG_DIR'] = str(root / 'ros_log')
        stdout = root / 'stdout'
        with open(stdout, 'w') as out:
            process = subprocess.Popen(
                [hermetic, str(root / 'korvane'), str(root / 'work'), str(program)],
                stdout=out, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + BOUND_SEC
            while 'after advertiseService robot_status_query' not in stdout.read_text():
                assert process.poll() is None and time.monotonic() < deadline, stdout.read_text()
                time.sleep(0.05)
            yield
        finally:
            process.send_signal(signal.SIGINT)
            try:
                process.wait(BOUND_SEC)
            except subprocess.TimeoutExpired:
                process.kill()
                raise


def run(command, **env):
    result = subprocess.run(command, capture_output=True, text=True, timeout=BOUND_SEC * 2,
                            env=dict(os.environ, **env))
    assert result.returncode == 0, f'{command}:\n{result.stdout}\n{result.stderr}'
    return result.stdout


def test_cpp_client_calls_each_command(node):
    run([os.environ['CALL_EACH_COMMAND']], DATA_CENTER_TEST_MAP_ID=MAP_ID)


def test_cpp_example(node):
    assert 'work hours: 3000' in run([os.environ['CPP_CALLER']])


def test_python_example(node):
    out = run([sys.executable, os.environ['PYTHON_CALLER']])
    assert 'stored 2 stations' in out, out
    assert 'work hours 3000, tasks 40, area 80000' in out, out
