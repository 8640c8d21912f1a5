# Run by CPack between installing into its staging tree and building the package: compresses
# the man pages and the changelog with `gzip -9n` (no name or time stamp in the header).
file(GLOB_RECURSE qv_uncompressed
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man1/*.1
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/qvconfig/changelog)
foreach(file IN LISTS qv_uncompressed)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${file} failed: ${status}")
  endif()
endforeach()
