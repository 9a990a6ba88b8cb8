# Small helpers so every target of ours gets the same flags and links.

# Our own sources: strict warnings, and __FILE__ relative to the repository
# root ("./src/query_handler.cpp"), which the log lines show.
function(data_center_own_code target)
  target_compile_options(${target} PRIVATE ${DATA_CENTER_WARNINGS}
    "-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=./")
endfunction()

# The generated C++ message types of korvane_protocol.
function(data_center_link_interfaces target)
  if(DATA_CENTER_STANDALONE)
    target_link_libraries(${target} PUBLIC korvane_protocol__rosidl_generator_cpp)
  else()
    ament_target_dependencies(${target} PUBLIC korvane_protocol)
  endif()
endfunction()

# rclcpp: the real one on a ROS 2 machine, our layer over Cyclone DDS elsewhere.
function(data_center_link_rclcpp target)
  if(DATA_CENTER_STANDALONE)
    target_link_libraries(${target} PRIVATE rclcpp_compat)
  else()
    ament_target_dependencies(${target} PUBLIC rclcpp korvane_protocol)
  endif()
endfunction()
