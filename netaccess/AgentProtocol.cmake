# The agent command records: one codec shared by the client side and the camera simulator.
# Pure byte work, so it needs no sockets and links the platform layer only.
add_library(pellix_agentproto STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AgentProtocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AgentRecords.cpp
)
target_include_directories(pellix_agentproto PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(pellix_agentproto PUBLIC pellix_platform)
