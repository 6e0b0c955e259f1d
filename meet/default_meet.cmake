# The meeting service a player's --host and --join CODE use when --meet names none: empty unless
# a packager sets one (-DHOPSHOT_DEFAULT_MEET=meet.example.org:7311). Read by the top
# CMakeLists, and alone by `cmake -DHOPSHOT_DEFAULT_MEET=... -P` in a test: a value the program
# could never use stops the configure, rather than every player's first game by code.
set(HOPSHOT_DEFAULT_MEET "" CACHE STRING "The meeting service's HOST[:PORT] used when --meet is not given")
if(NOT HOPSHOT_DEFAULT_MEET STREQUAL "")
  set(_label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  set(_usable FALSE)
  if(HOPSHOT_DEFAULT_MEET MATCHES "^${_label}(\\.${_label})*(:([1-9][0-9]?[0-9]?[0-9]?[0-9]?))?$")
    set(_port "${CMAKE_MATCH_5}")
    if(_port STREQUAL "" OR _port LESS_EQUAL 65535)
      set(_usable TRUE)
    endif()
  endif()
  if(NOT _usable)
    message(FATAL_ERROR "HOPSHOT_DEFAULT_MEET must be HOST[:PORT] (a name or an IPv4 address, and a port "
                        "from 1 to 65535), not '${HOPSHOT_DEFAULT_MEET}'")
  endif()
endif()
