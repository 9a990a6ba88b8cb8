# SPDX-License-Identifier: Apache-2.0
# The Python package data_center, for rclpy nodes (robot build only):
# client.py and __init__.py from python/data_center/, and two modules made
# at build time so that nothing is kept twice by hand: protocol.py from
# include/data_center/protocol.hpp, payloads.py by protoc from the .proto
# the C++ classes come from.
find_package(ament_cmake_python REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(_py_out ${CMAKE_CURRENT_BINARY_DIR}/python)
file(MAKE_DIRECTORY ${_py_out}/proto)
add_custom_command(
  OUTPUT ${_py_out}/protocol.py
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/python/protocol_from_header.py
          ${CMAKE_CURRENT_SOURCE_DIR}/include/data_center/protocol.hpp ${_py_out}/protocol.py
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/python/protocol_from_header.py
          ${CMAKE_CURRENT_SOURCE_DIR}/include/data_center/protocol.hpp
  COMMENT "protocol.py from protocol.hpp")
# Run from the package folder, as for C++: the same file name in the pool.
add_custom_command(
  OUTPUT ${_py_out}/proto/data_center_pb2.py
  COMMAND protobuf::protoc --python_out=${_py_out} -I ${CMAKE_CURRENT_SOURCE_DIR} proto/data_center.proto
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/proto/data_center.proto protobuf::protoc
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
  COMMENT "protoc --python_out proto/data_center.proto")
add_custom_target(data_center_python ALL DEPENDS ${_py_out}/protocol.py ${_py_out}/proto/data_center_pb2.py)

ament_python_install_package(data_center PACKAGE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/python/data_center)
install(FILES ${_py_out}/protocol.py DESTINATION ${PYTHON_INSTALL_DIR}/data_center)
install(FILES ${_py_out}/proto/data_center_pb2.py DESTINATION ${PYTHON_INSTALL_DIR}/data_center
        RENAME payloads.py)
