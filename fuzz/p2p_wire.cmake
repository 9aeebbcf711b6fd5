# p2p_wire: bytes from a peer through the stand-in protocol's frame reader and payload parsers.
rovik_add_fuzz(p2p_wire SOURCES ${CMAKE_CURRENT_LIST_DIR}/p2p_wire.cpp LIBS rovik_p2p_protocol)
