# SPDX-License-Identifier: Apache-2.0
"""Start the data_center node.

The node keeps its docking-station list in "StationInfo.conf" in its working
directory, so the launch file sets one: /opt/korvane/data/data_center by
default, or the folder given as `data_dir:=...`.

rcl ends the node at start when it has no folder for its own log files: it
takes ROS_LOG_DIR, else $ROS_HOME/log, else $HOME/.ros/log, and does not look
further when that one cannot be made or written (a service without HOME, a
user whose home is not writable). The node then gets ROS_LOG_DIR set to
/opt/korvane/logs/data_center/ros, the folder its systemd unit uses, or, where
that is not writable either, to a new temporary folder.
"""
import os
import tempfile

from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument, LogInfo, OpaqueFunction
from launch.substitutions import LaunchConfiguration
from launch_ros.actions import Node

SERVICE_LOG_DIR = '/opt/korvane/logs/data_center/ros'


def rcl_log_dir(environ):
    """Return the folder rcl would keep its log files in, or None for none."""
    if environ.get('ROS_LOG_DIR'):
        return os.path.expanduser(environ['ROS_LOG_DIR'])
    if environ.get('ROS_HOME'):
        return os.path.join(os.path.expanduser(environ['ROS_HOME']), 'log')
    if environ.get('HOME'):
        return os.path.join(environ['HOME'], '.ros', 'log')
    return None


def usable(folder):
    """Return whether `folder` exists or can be made, and can be written."""
    try:
        os.makedirs(folder, exist_ok=True)
    except OSError:
        return False
    return os.access(folder, os.W_OK | os.X_OK)


def fallback_log_dir(environ):
    """Return a ROS_LOG_DIR for the node when rcl would have no usable one, else None."""
    chosen = rcl_log_dir(environ)
    if chosen is not None and usable(chosen):
        return None
    if usable(SERVICE_LOG_DIR):
        return SERVICE_LOG_DIR
    return tempfile.mkdtemp(prefix='data_center_ros_log_')


def _node(context):
    data_dir = LaunchConfiguration('data_dir').perform(context)
    os.makedirs(data_dir, exist_ok=True)
    actions = []
    env = None
    log_dir = fallback_log_dir(os.environ)
    if log_dir is not None:
        env = {'ROS_LOG_DIR': log_dir}
        actions.append(LogInfo(msg='data_center: no usable log folder for rcl, using ' + log_dir))
    actions.append(Node(package='data_center', executable='data_center', name='data_center',
                        output='screen', cwd=data_dir, additional_env=env))
    return actions


def generate_launch_description():
    return LaunchDescription([
        DeclareLaunchArgument('data_dir', default_value='/opt/korvane/data/data_center',
                              description='working directory of the node (holds StationInfo.conf)'),
        OpaqueFunction(function=_node),
    ])
