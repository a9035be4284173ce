# The crash handler's symbolised backtraces: Debian's backward-cpp (header only) reading
# symbols and lines through libdw.
target_compile_definitions(tavio_base PRIVATE BACKWARD_HAS_DW=1)
target_link_libraries(tavio_base PUBLIC dw)
