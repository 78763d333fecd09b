# Run by cpack on the staged files before they are packed: compresses the
# manual page and adds a changelog, both as Debian's policy asks (gzip -9n,
# so that the same files give the same package), and drops the compiler's
# .comment section that stripping leaves in the program.

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(program "${root}/lib/dervanta/dervanta")
set(man "${root}/share/man/man1/dervanta.1")
set(doc "${root}/share/doc/dervanta")
if(NOT EXISTS "${program}" OR NOT EXISTS "${man}" OR NOT IS_DIRECTORY "${doc}")
  message(FATAL_ERROR "PackageFinish: staged files not found under ${root}")
endif()

execute_process(COMMAND "${CPACK_DERVANTA_OBJCOPY}" --remove-section=.comment "${program}"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "PackageFinish: objcopy failed on ${program}")
endif()

# Honours SOURCE_DATE_EPOCH.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
"dervanta (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Dervanta ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}
")

foreach(file "${man}" "${doc}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "PackageFinish: gzip failed on ${file}")
  endif()
endforeach()
