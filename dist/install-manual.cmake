# Installs the manual page for the prefix being installed to (run by
# `cmake --install` and by cpack, which installs with the prefix /usr): fills in
# manual_in as manual_out, compresses it and installs it under mandir.
cmake_path(ABSOLUTE_PATH docdir BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" OUTPUT_VARIABLE DOC_DIR)
cmake_path(ABSOLUTE_PATH mandir BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" OUTPUT_VARIABLE man_dir)
# Removed before and after: a copy left by an install as root (sudo) must not
# stop the next install as the user.
file(REMOVE "${manual_out}" "${manual_out}.gz")
configure_file("${manual_in}" "${manual_out}" @ONLY)
execute_process(COMMAND gzip -9n "${manual_out}" COMMAND_ERROR_IS_FATAL ANY)
file(INSTALL DESTINATION "${man_dir}/man1" TYPE FILE FILES "${manual_out}.gz")
file(REMOVE "${manual_out}.gz")
