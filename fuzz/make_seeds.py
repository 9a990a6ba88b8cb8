#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the seed corpora in corpus/<target>/ beside each target (small,
hand-made inputs that reach every branch the fuzzers start from). Run from anywhere; rewrites the
seed files it owns and leaves any other corpus file alone."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def varint(n):
    n &= (1 << 64) - 1
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        if n:
            out.append(b | 0x80)
        else:
            out.append(b)
            return bytes(out)


def field_varint(num, value):
    return varint(num << 3) + varint(value)


def field_double(num, value):
    return varint((num << 3) | 1) + struct.pack('<d', value)


def field_bytes(num, data):
    return varint((num << 3) | 2) + varint(len(data)) + data


def pose(map_id, x, y, name):
    return (field_varint(1, map_id) + field_double(2, x) + field_double(3, y) +
            field_bytes(4, name.encode()))


def stations(*poses):
    return b''.join(field_bytes(1, p) for p in poses)


TWO_POSES = stations(pose(3, 1.5, -2.0, 'm3'), pose(7, -0.25, 0.0, 'hall'))
MAP_INFO = field_varint(1, 12) + field_bytes(2, b'map_12')
ROBOT_INFO = field_bytes(1, field_varint(1, 3000) + field_varint(2, 40) + field_varint(3, 80000))

PAYLOADS = {
    'two_poses': TWO_POSES,
    'one_pose_negative_id': stations(pose(-1, 1e300, -0.0, '')),
    'unknown_field_kept': TWO_POSES + field_varint(9, 5),
    'bad_utf8': stations(field_bytes(4, b'\xff\xfe')),
    'truncated': TWO_POSES[:-3],
    'map_info': MAP_INFO,
    'robot_info': ROBOT_INFO,
    'nested_group_tag': b'\x0b\x0c',
    'nan_coordinate': stations(pose(3, float('nan'), 0.0, 'n')),
    'negative_zero_coordinate': stations(pose(3, -0.0, -0.0, 'z')),
}


def cmd(n, payload=b''):
    return struct.pack('<i', n) + payload


QUERY_HANDLER = {
    'last_map': cmd(1002, b'  map_7 and more\n'),
    'last_map_missing_file': cmd(1002),
    'last_map_blank_file': cmd(1002, b' \t\r\n'),
    'issue_two_poses': cmd(10001, TWO_POSES),
    'issue_empty': cmd(10001),
    'issue_garbage': cmd(10001, b'\x0a\x05\x22'),
    'issue_unknown_field': cmd(10001, TWO_POSES + field_varint(9, 5)),
    'issue_negative_zero': cmd(10001, stations(pose(3, -0.0, -0.0, 'z'))),
    'query_with_file': cmd(10002, TWO_POSES),
    'query_with_corrupt_file': cmd(10002, b'\x0a\xff'),
    'robot_info': cmd(10003, b'ignored'),
    'unknown_command': cmd(10000, b'x'),
    'negative_command': cmd(-1),
}


def cdr_request(guid, seq, cmd_id, payload, big_endian=False):
    e = '>' if big_endian else '<'
    head = b'\x00\x00\x00\x00' if big_endian else b'\x00\x01\x00\x00'
    return head + struct.pack(e + 'Qqi', guid, seq, cmd_id) + struct.pack(e + 'I', len(payload)) + payload


def cdr_response(guid, seq, code, msg, payload):
    body = struct.pack('<Qqi', guid, seq, code)
    text = msg.encode() + b'\x00'
    body += struct.pack('<I', len(text)) + text
    body += b'\x00' * (-len(body) % 4)
    body += struct.pack('<I', len(payload)) + payload
    return b'\x00\x01\x00\x00' + body


WIRE = {
    'request_le': cdr_request(0x0102030405060708, 1, 10003, b''),
    'request_le_payload': cdr_request(42, 9, 10001, TWO_POSES),
    'request_be': cdr_request(42, 2, 1002, b'\x01\x02\x03', big_endian=True),
    'request_length_too_big': cdr_request(1, 1, 1, b'')[:-4] + struct.pack('<I', 0xFFFFFFF0),
    'request_short': cdr_request(1, 1, 1, b'')[:12],
    'response_le': cdr_response(42, 3, 10006, 'Deserialize data failed', b''),
    'response_payload': cdr_response(42, 4, 0, '', ROBOT_INFO),
    # msg's length counts no terminating NUL
    'response_unterminated_msg': b'\x00\x01\x00\x00' + struct.pack('<QqiI', 1, 1, 0, 4) + b'abcd' +
    struct.pack('<I', 0),
    'xcdr2_header': b'\x00\x07\x00\x00' + cdr_request(1, 1, 1, b'\x05')[4:],
}


def argv(*parts):
    return b'\x00'.join(p.encode() for p in parts)


ROS_ARGS = {
    'plain': argv('prog', 'robot-info'),
    'remaps': argv('prog', '--ros-args', '-r', '__node:=probe', '-r', '__ns:=/robot1', '-r',
                   'robot_status_query:=/moved/q', '--', 'after'),
    'node_prefixed': argv('prog', '--ros-args', '--remap', 'data_center:robot_status_query:=~/private',
                          '-r', 'other:__ns:=/x'),
    'ignored_flags': argv('prog', '--ros-args', '-p', 'a:=1', '--params-file', 'f.yaml', '--log-level',
                          'debug', '-e', '/enc', '--enable-rosout-logs', '--disable-stdout-logs'),
    'unknown_flag': argv('prog', '--ros-args', '--foo', 'bar'),
    'flag_without_value': argv('prog', '--ros-args', '-r'),
    'bad_remap': argv('prog', '--ros-args', '-r', ':=x'),
    'bad_namespace': argv('prog', '--ros-args', '-r', '__ns:=/a//b'),
    'tilde_service': argv('prog', '~x', '--ros-args', '-r', '__name:=n1'),
    'two_blocks': argv('prog', '--ros-args', '--', 'mid', '--ros-args', '-r', 'a:=b'),
}

# The node's targets keep their seeds here, the layer's in its own folder.
LAYER_FUZZ = os.path.join(os.path.dirname(HERE), 'rclcpp_compat', 'fuzz')
CORPORA = {
    'fuzz_payload_codec': (HERE, PAYLOADS),
    'fuzz_query_handler': (HERE, QUERY_HANDLER),
    'fuzz_wire_sample': (LAYER_FUZZ, WIRE),
    'fuzz_ros_arguments': (LAYER_FUZZ, ROS_ARGS),
}

for target, (base, seeds) in CORPORA.items():
    folder = os.path.join(base, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, 'seed_' + name), 'wb') as f:
            f.write(data)
