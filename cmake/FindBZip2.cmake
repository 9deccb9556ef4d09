# Reports the in-tree static libbz2 (target BZip2::BZip2, built from Debian's source package) as
# found, so that Boost.Iostreams enables its bzip2 filter against it.
if(TARGET BZip2::BZip2)
  set(BZIP2_FOUND TRUE)
  set(BZip2_FOUND TRUE)
  get_target_property(BZIP2_INCLUDE_DIR BZip2::BZip2 INTERFACE_INCLUDE_DIRECTORIES)
  set(BZIP2_INCLUDE_DIRS ${BZIP2_INCLUDE_DIR})
  set(BZIP2_LIBRARIES BZip2::BZip2)
  set(BZIP2_VERSION_STRING 1.0.8)
  set(BZIP2_VERSION 1.0.8)
else()
  set(BZIP2_FOUND FALSE)
  set(BZip2_FOUND FALSE)
endif()
