# SPDX-License-Identifier: MIT
# Run by cpack once the install is staged, before the Debian package is made of it: Debian's
# places for a game and the files its policy asks of every package. A plain `cmake --install`
# never runs it, so other prefixes keep bin/ and share/hopshot.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")

# The program in /usr/games, its data in /usr/share/games/hopshot: it looks there as well. The
# meeting service is a daemon: /usr/sbin, where its systemd unit now starts it.
file(RENAME "${root}/${CPACK_HOPSHOT_BIN_DIR}" "${root}/games")
file(RENAME "${root}/${CPACK_HOPSHOT_SBIN_DIR}" "${root}/sbin")
set(unit "${root}/lib/systemd/system/hopshot-meet.service")
file(READ "${unit}" text)
string(REGEX REPLACE "\nExecStart=[^ ]*" "\nExecStart=/usr/sbin/hopshot-meet" text "${text}")
file(WRITE "${unit}" "${text}")
# Stripped as Debian's own tools strip a program: without the compilers' notes either.
execute_process(COMMAND "${CPACK_HOPSHOT_STRIP}" --remove-section=.comment --remove-section=.note
  "${root}/games/hopshot" "${root}/sbin/hopshot-meet" COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY "${root}/share/games")
file(RENAME "${root}/${CPACK_HOPSHOT_DATA_DIR}" "${root}/share/games/hopshot")

# Manual pages and changelogs compressed, reproducibly (no name or time in the gzip header).
execute_process(COMMAND gzip -9nf "${root}/share/man/man6/hopshot.6" "${root}/share/man/man8/hopshot-meet.8"
  COMMAND_ERROR_IS_FATAL ANY)
set(doc "${root}/share/doc/hopshot")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_HOPSHOT_DIST}/copyright" "${doc}/copyright")
execute_process(COMMAND gzip -9nc "${CPACK_HOPSHOT_DIST}/changelog"
  OUTPUT_FILE "${doc}/changelog.Debian.gz" COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY "${root}/share/lintian/overrides")
file(COPY_FILE "${CPACK_HOPSHOT_DIST}/lintian-overrides" "${root}/share/lintian/overrides/hopshot")
