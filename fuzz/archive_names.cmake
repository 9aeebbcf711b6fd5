# Upgrade package entry names (reduction and path checks) and extra fields.
rovik_add_fuzz(archive_names SOURCES ${CMAKE_CURRENT_LIST_DIR}/archive_names.cpp LIBS rovik_launcher_upgrade)
