# A platform backend is one file named after the facility it uses; each build keeps the
# files of its own platform and drops the others'.
set(DORMANE_LINUX_BACKENDS "_(posix|libusb|journal|logind|ini|curl|ifaddrs|libarchive)\\.cpp$")
set(DORMANE_WINDOWS_BACKENDS "_(win32|winusb|registry|wininet|sensapi|setupapi)\\.cpp$")

function(dormane_keep_platform_sources var)
  set(files ${${var}})
  if(WIN32)
    list(FILTER files EXCLUDE REGEX "${DORMANE_LINUX_BACKENDS}")
  else()
    list(FILTER files EXCLUDE REGEX "${DORMANE_WINDOWS_BACKENDS}")
  endif()
  set(${var} ${files} PARENT_SCOPE)
endfunction()
