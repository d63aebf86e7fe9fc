# The Qt-free byte protocol: frame layout, CRC-8 and the frame finder. An
# object library of its own, folded into tx710core and linked by the fuzz
# target, which builds it with clang.
add_library(tx710protocol OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/frame_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_protocol.h
  ${CMAKE_CURRENT_LIST_DIR}/frame_finder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_finder.h)
get_filename_component(TX710_PROTOCOL_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
target_include_directories(tx710protocol PUBLIC ${TX710_PROTOCOL_ROOT})
