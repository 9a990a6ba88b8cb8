# SPDX-License-Identifier: Apache-2.0
"""Start the data_center node.

The node keeps its docking-station list in "StationInfo.conf" in its working
directory, so the launch file sets one: /opt/korvane/data/data_center by
default, or the folder given as `data_dir:=...`.
"""
import os

from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument, OpaqueFunction
from launch.substitutions import LaunchConfiguration
from launch_ros.actions import Node


def _node(context):
    data_dir = LaunchConfiguration('data_dir').perform(context)
    os.makedirs(data_dir, exist_ok=True)
    return [Node(package='data_center', executable='data_center', name='data_center',
                 output='screen', cwd=data_dir)]


def generate_launch_description():
    return LaunchDescription([
        DeclareLaunchArgument('data_dir', default_value='/opt/korvane/data/data_center',
                              description='working directory of the node (holds StationInfo.conf)'),
        OpaqueFunction(function=_node),
    ])
