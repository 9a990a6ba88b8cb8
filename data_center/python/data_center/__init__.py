# SPDX-License-Identifier: Apache-2.0
"""For rclpy nodes that call the data_center node's robot_status_query service.

data_center.protocol  the service name, command numbers, result codes and texts
data_center.payloads  the protobuf message classes (MapInfo, BaseStationInfo, ...)
data_center.client    Client, a typed client with one call per command
"""
