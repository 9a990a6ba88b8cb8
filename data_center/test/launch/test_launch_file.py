# SPDX-License-Identifier: Apache-2.0
"""The launch file's log folder for rcl, run without ROS 2.

launch and launch_ros are stood in for by modules that record what the
launch file makes of them.
"""
import os
import sys
import tempfile
import types
import unittest
from unittest import mock

LAUNCH_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'launch',
                           'data_center.launch.py')


class _Recorded:
    def __init__(self, *args, **kwargs):
        self.args, self.kwargs = args, kwargs


class _Configuration(_Recorded):
    def perform(self, context):
        return context[self.args[0]]


def _load_launch_file():
    for name in ('launch', 'launch.actions', 'launch.substitutions', 'launch_ros', 'launch_ros.actions'):
        sys.modules[name] = types.ModuleType(name)
    sys.modules['launch'].LaunchDescription = _Recorded
    for name in ('DeclareLaunchArgument', 'LogInfo', 'OpaqueFunction'):
        setattr(sys.modules['launch.actions'], name, _Recorded)
    sys.modules['launch.substitutions'].LaunchConfiguration = _Configuration
    sys.modules['launch_ros.actions'].Node = _Recorded
    module = types.ModuleType('data_center_launch')
    with open(LAUNCH_FILE) as source:
        exec(compile(source.read(), LAUNCH_FILE, 'exec'), module.__dict__)
    return module


class LaunchFileLogFolder(unittest.TestCase):

    def setUp(self):
        self.launch = _load_launch_file()
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.root = tmp.name
        self.writable = os.path.join(self.root, 'writable')
        # Below a regular file nothing can be made, not even by root.
        self.blocked = os.path.join(self.root, 'file')
        open(self.blocked, 'w').close()
        self.launch.SERVICE_LOG_DIR = os.path.join(self.root, 'service_log')

    def test_rcl_folder_is_kept_when_usable_and_replaced_when_not(self):
        service = self.launch.SERVICE_LOG_DIR
        blocked = os.path.join(self.blocked, 'log')
        cases = [
            ('no HOME, nothing else', {}, service),
            ('writable ROS_LOG_DIR', {'ROS_LOG_DIR': self.writable}, None),
            ('ROS_LOG_DIR that cannot be made', {'ROS_LOG_DIR': blocked, 'HOME': self.writable}, service),
            ('writable ROS_HOME', {'ROS_HOME': self.writable}, None),
            ('ROS_HOME that cannot be made', {'ROS_HOME': blocked, 'HOME': self.writable}, service),
            ('writable HOME', {'HOME': self.writable}, None),
            ('HOME that cannot be written', {'HOME': self.blocked}, service),
        ]
        for what, environ, expected in cases:
            with self.subTest(what):
                self.assertEqual(self.launch.fallback_log_dir(environ), expected)

    def test_without_a_usable_service_folder_each_launch_gets_a_new_temporary_one(self):
        self.launch.SERVICE_LOG_DIR = os.path.join(self.blocked, 'service_log')
        with mock.patch('tempfile.tempdir', self.root):
            first, second = self.launch.fallback_log_dir({}), self.launch.fallback_log_dir({})
        for chosen in (first, second):
            self.assertTrue(os.path.isdir(chosen))
            self.assertTrue(os.path.basename(chosen).startswith('data_center_ros_log_'))
        self.assertNotEqual(first, second)

    def test_node_gets_the_folder_and_its_working_directory_without_home(self):
        data_dir = os.path.join(self.root, 'data')
        with mock.patch.dict(os.environ, {}, clear=True):
            node = self.launch._node({'data_dir': data_dir})[-1]
        self.assertEqual(node.kwargs['executable'], 'data_center')
        self.assertEqual(node.kwargs['cwd'], data_dir)
        self.assertTrue(os.path.isdir(data_dir))
        self.assertEqual(node.kwargs['additional_env'], {'ROS_LOG_DIR': self.launch.SERVICE_LOG_DIR})

        with mock.patch.dict(os.environ, {'HOME': self.writable}, clear=True):
            self.assertIsNone(self.launch._node({'data_dir': data_dir})[-1].kwargs['additional_env'])


if __name__ == '__main__':
    unittest.main()
